#include "control/interface_def.h"

#include <gtest/gtest.h>

#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;

namespace {

const char* const kHeader =
    "[ uuidbase(11111111-2222-3333-4444-555555555555), version(1)]\n"
    "  uuidpavc(aaaa)\n"
    "uuidpcvc(bbbb) , rpc(7)\n";

class InterfaceDefTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.coll_home = env_vars.coll_out = dir.path();
        env_vars.tmpdir = env_vars.localtmpdir = dir.path();
        env_vars.db_type = "qvx";
    }
    void TearDown() override { qvxtest::reset_collector_state(); }

    // Writes name.UPA and reads it for a fresh cursor.
    int read(const std::string& body, const std::string& word = "!iface") {
        dir.write("iface.UPA", body);
        const int16_t trace = cursor.trace;
        cursor = curs{};
        cursor.trace = trace;
        close_PRINT();
        int rc = 0;
        out = qvxtest::captured([&] { rc = parse_upa("!" + dir.path() + "/" + word.substr(1), stmt, cursor); });
        if (print_file_open()) out += qvxtest::read_file(print_file_path());
        return rc;
    }

    qvxtest::TempDir dir;
    curs cursor;
    std::string stmt, out;
};

TEST_F(InterfaceDefTest, DeducesTheInsertAndTheColumns) {
    trace_something = 1;
    cursor.trace = 1;
    ASSERT_EQ(read(std::string(kHeader) +
                   "interface t extra\n"
                   "objid(12)\nSET(3)\n"
                   "column A, int\n"
                   "COLUMN (systemname , Char)\n"
                   "column ratio float\n"
                   "column Timestamp,c\n"
                   "column rowno,unsigned\n"),
              0)
        << out;
    EXPECT_EQ(stmt,
              "INSERT INTO T (A , SYSTEMNAME , RATIO , TIMESTAMP , ROWNO ) VALUES (:INT!A , :%machine , "
              ":FLOAT!RATIO , :%now_time , :INT!%rowno ) ");
    ASSERT_EQ(cursor.cols.size(), 5u);
    EXPECT_EQ(cursor.cols[0].name, "A");
    EXPECT_EQ(cursor.cols[0].decl_type, ColumnType::integer);
    EXPECT_EQ(cursor.cols[1].name, "%machine");
    EXPECT_EQ(cursor.cols[2].decl_type, ColumnType::floating);
    EXPECT_EQ(cursor.cols[4].name, "%rowno");
    EXPECT_EQ(cursor.insert_col_count, 5);
    EXPECT_EQ(cursor.table_name, "T");
    EXPECT_EQ(cursor.host_table_name, "T");
    EXPECT_EQ(cursor.uuidbase, "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(cursor.uuidpavc, "aaaa");
    EXPECT_EQ(cursor.uuidpcvc, "bbbb");
    EXPECT_EQ(cursor.rpc_version, 7);
    EXPECT_EQ(cursor.objid, 12);
    EXPECT_EQ(cursor.set, 3);
    EXPECT_TRUE(qvxtest::has(out, "Deduced insert: INSERT INTO T")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Objid = 12, set = 3, rpc_version = 7")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Uuidpcvc = bbbb")) << out;
}

TEST_F(InterfaceDefTest, StatementsAreTakenOnlyInTheirOrder) {
    // A column before the table line, and a table line before the
    // identifiers, are skipped: nothing is found.
    ASSERT_EQ(read("column EARLY, int\ninterface t\n" + std::string(kHeader) + "column B, int\n"), 1);
    EXPECT_TRUE(qvxtest::has(out, "Did not find DS table name")) << out;

    ASSERT_EQ(read(std::string(kHeader) + "column EARLY, int\ninterface tab\nOBJID(1)\nset(2)\n"), 1);
    EXPECT_TRUE(qvxtest::has(out, "Did not find DS column(s)")) << out;

    // Mixed-case keywords are not keywords.
    ASSERT_EQ(read(std::string(kHeader) + "Interface tab\n"), 1);
    EXPECT_TRUE(qvxtest::has(out, "cat1955")) << out;
}

TEST_F(InterfaceDefTest, FaultsFailTheFile) {
    const std::pair<std::string, std::string> cases[] = {
        {"[ uuidbase()\n", ""},  // an empty value
        {"[ uuidbase(abc\n", "cat1930"},
        {"[ uuidbase(a)\nuuidpavc(b)\nuuidpcvc(c) no version\n", "cat1940"},
        {"[ uuidbase(a)\nuuidpavc(b)\nuuidpcvc(c) ()\n", "cat1945"},
        {std::string(kHeader) + "interface t\nobjid(1)\nset(1)\ncolumn A, xml\n", "cat1950"},
    };
    for (const auto& [body, id] : cases) {
        EXPECT_EQ(read(body), 1) << body;
        if (!id.empty()) {
            EXPECT_TRUE(qvxtest::has(out, id)) << body << out;
        }
    }
    EXPECT_TRUE(cursor.cols.empty());

    EXPECT_EQ(read("", "!missing"), 1);
    EXPECT_TRUE(qvxtest::has(out, "Can NOT open " + dir.path() + "/missing.UPA")) << out;
}

} // namespace

namespace {

TEST_F(InterfaceDefTest, CursorBlockTakesTheDeducedStatement) {
    dir.write("iface.UPA", std::string(kHeader) + "interface t\nobjid(1)\nset(1)\ncolumn A, int\ncolumn SYSTEMNAME, char\n");
    dir.write("qvxcoll.ctl", "cursor U;\nINSERT !" + dir.path() + "/iface;\ninterval 30;\nlimit 10;\nend;\n");
    close_PRINT();
    int rc = 1;
    out = qvxtest::captured([&] { rc = parse_curs(); });
    if (print_file_open()) out += qvxtest::read_file(print_file_path());
    ASSERT_EQ(rc, 0) << out;
    const curs* c = find_cursor("U");
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->insert.has_value());
    EXPECT_EQ(*c->insert, "INSERT INTO T (A , SYSTEMNAME ) VALUES (?,?) ");
    EXPECT_EQ(c->hv_count, 2);
    EXPECT_EQ(c->insert_col_names, (std::vector<std::string>{"A", "SYSTEMNAME"}));
    EXPECT_TRUE(qvxtest::has(out, "Deduced insert: INSERT INTO T (A , SYSTEMNAME ) VALUES (:INT!A , :%machine ) "))
        << out;
}

} // namespace
