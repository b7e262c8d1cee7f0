#include "control/interface_def.h"

#include <gtest/gtest.h>

#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"

#include <tuple>

using namespace qvx;

namespace {

const char* const kHeader =
    "[ uuidbase(11111111-2222-3333-4444-555555555555), version(1)]\n"
    "  uuidpavc(aaaa)\n"
    "uuidpcvc(bbbb) , rpc(7)\n";

class InterfaceDefTest : public ctltest::ParseTest {
protected:
    // Writes name.UPA and reads it for a fresh cursor.
    int read(const std::string& body, const std::string& word = "!iface") {
        dir.write("iface.UPA", body);
        const int16_t trace = cursor.trace;
        cursor = curs{};
        cursor.trace = trace;
        return run([&] { return parse_upa("!" + dir.path() + "/" + word.substr(1), stmt, cursor); });
    }

    curs cursor;
    std::string stmt;
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
    EXPECT_EQ(std::tie(cursor.cols[0].name, cursor.cols[1].name, cursor.cols[4].name),
              std::make_tuple("A", "%machine", "%rowno"));
    EXPECT_EQ(std::make_pair(cursor.cols[0].decl_type, cursor.cols[2].decl_type),
              std::make_pair(ColumnType::integer, ColumnType::floating));
    EXPECT_EQ(std::tie(cursor.insert_col_count, cursor.table_name, cursor.host_table_name),
              std::make_tuple(5, "T", "T"));
    EXPECT_EQ(std::tie(cursor.uuidbase, cursor.uuidpavc, cursor.uuidpcvc),
              std::make_tuple("11111111-2222-3333-4444-555555555555", "aaaa", "bbbb"));
    EXPECT_EQ(std::tie(cursor.rpc_version, cursor.objid, cursor.set), std::make_tuple(7, 12, 3));
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

TEST_F(InterfaceDefTest, CursorBlockTakesTheDeducedStatement) {
    dir.write("iface.UPA", std::string(kHeader) + "interface t\nobjid(1)\nset(1)\ncolumn A, int\ncolumn SYSTEMNAME, char\n");
    ASSERT_EQ(parse_file("qvxcoll.ctl", "cursor U;\nINSERT !" + dir.path() + "/iface;\ninterval 30;\nlimit 10;\nend;\n",
                         parse_curs),
              0)
        << out;
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
