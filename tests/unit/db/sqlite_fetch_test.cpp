// The fetch over SQLite files: column sizing, value forms, set_len, the
// -1722 skip, failures of logon, prepare, types and merge, and the
// unit-of-work codes.
#include <gtest/gtest.h>

#include <tuple>

#include "control/column_exit_clause.h"
#include "db/utf8.h"
#include "fetch_fixture.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

using namespace qvx;
using qvxtest::captured;
using qvxtest::has;

namespace {

class SqliteFetch : public dbtest::FetchTest {
protected:
    void SetUp() override {
        FetchTest::SetUp();
        env_.unset("COLL_CONNECT");
        env_vars.coll_home = dir_.path();
        env_vars.serverid = "DEMO";
        cursor.cur_name = "C1";
    }

    void make_db(const std::string& sql) { qvxtest::sqlite(dir_.file("DEMO.db"), sql); }
    void make_set_len_db() {
        make_db("CREATE TABLE t(name VARCHAR(8), n INTEGER, note VARCHAR(4));"
                "INSERT INTO t VALUES('abcdefgh', 12345, 'wxyz');");
    }

    qvxtest::TempDir dir_;
};

TEST(Sizing, BufferLengthsFollowTheTypeTable) {
    struct Case {
        int16_t type;
        int32_t chars;
        int16_t precision, scale;
        int32_t size_bytes;
        bool ok;
        int32_t buf_len;
        int16_t orig_type;
    };
    const Case cases[] = {
        {kDbNumber, 0, 10, 2, 0, true, 12, kDbNumber},
        {kDbNumber, 0, 0, 0, 0, true, 16, kDbNumber},
        {kDbNumber, 0, 5, -2, 0, true, 9, kDbNumber},
        {kDbChar, 200, 0, 0, 600, true, 384, kDbChar},
        {kDbChar, 10, 0, 0, 30, true, 30, kDbChar},
        {kDbCharFixed, 128, 0, 0, 0, true, 384, kDbChar},
        {kDbRaw, 16, 0, 0, 32, true, 32, kDbChar},
        {kDbDate, 0, 0, 0, 0, true, 9, kDbDate},
        {kDbDate, 19, 0, 0, 19, true, 19, kDbDate},
        {kDbLong, 0, 0, 0, 0, false, 0, 0},
        {kDbLongRaw, 0, 0, 0, 0, false, 0, 0},
        {kDbRowid, 0, 0, 0, 0, false, 0, 0},
        {77, 0, 0, 0, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SelectItem it{.name = "", .type = c.type, .size_chars = c.chars, .size_bytes = c.size_bytes,
                      .precision = c.precision, .scale = c.scale};
        EXPECT_EQ(size_select_item(it), c.ok) << c.type;
        EXPECT_EQ(it.buf_len, c.buf_len) << c.type << " " << c.precision;
        EXPECT_EQ(it.orig_type, c.orig_type) << c.type;
    }
}

TEST(ConnectString, SchemePicksTheBackend) {
    using K = ConnectTarget::Kind;
    const struct {
        const char* value;  // null: unset
        const char* target;  // null: refused
        K kind;
    } cases[] = {
        {nullptr, "/home/c/PROD.db", K::sqlite}, {"SQLite:/x/y.db", "/x/y.db", K::sqlite},
        {"odbc:DSN=prod;UID=a", "DSN=prod;UID=a", K::odbc}, {"oracle:prod", nullptr, K::sqlite},
        {"odbc:", nullptr, K::odbc},
    };
    for (const auto& c : cases) {
        const auto t = parse_connect(c.value, "/home/c", "PROD");
        const std::string what = c.value ? c.value : "unset";
        ASSERT_EQ(t != nullptr, c.target != nullptr) << what;
        if (t) {
            EXPECT_TRUE(t->target == c.target && t->kind == c.kind) << what << ": " << t->target;
        }
    }
}

TEST(Utf8, PrefixKeepsWholeCharacters) {
    const std::string s = "a\xc3\xa9\xe2\x82\xac" "b";  // a, e-acute, euro, b
    EXPECT_EQ(utf8_prefix(s.data(), static_cast<int>(s.size()), 2), 3);
    EXPECT_EQ(utf8_prefix(s.data(), static_cast<int>(s.size()), 3), 6);
    EXPECT_EQ(utf8_prefix(s.data(), 5, 3), 3);  // a cut euro sign is dropped
    char out[8];
    EXPECT_EQ(convert_codepage("ISO-8859-1", "UTF-8", out, 8, "caf\xe9", 4, 256), 5);
    EXPECT_EQ(std::string(out, 5), "caf\xc3\xa9");
    EXPECT_EQ(convert_codepage("ISO-8859-1", "UTF-8", out, 4, "caf\xe9", 4, 0), 0);
    EXPECT_EQ(convert_codepage("ISO-8859-1", "UTF-8", out, 4, "caf\xe9", 4, 256), 3);
}

TEST_F(SqliteFetch, DeclaredTypesGiveCodesSizesAndValueForms) {
    make_db("CREATE TABLE t(i INTEGER, n NUMERIC, m NUMERIC(10,2), v VARCHAR(200), c CHAR(4),"
            " s TEXT, b BLOB(2), d DATETIME);"
            "INSERT INTO t VALUES(42, 42, -3.5, 'caf\xc3\xa9', 'ab', NULL, x'0aff',"
            " '2024-01-02 03:04:05.678');");
    ASSERT_EQ(logon(), 0);
    ASSERT_EQ(fetch("SELECT i, n, m, v, c, s, b, d, i * 2 AS e, 'x' || v AS f FROM t"), 0);
    ASSERT_EQ(rows.size(), 1u);
    struct Want {
        int16_t type;
        int32_t buf_len;
        const char* value;
    };
    const Want want[] = {
        {kDbNumber, 21, "                   42"},
        {kDbNumber, 16, "              42"},
        {kDbNumber, 12, "        -3.5"},
        {kDbChar, 384, "caf\xc3\xa9"},
        {kDbCharFixed, 12, "ab"},
        {kDbChar, 384, "<null>"},
        {kDbRaw, 4, "0AFF"},
        {kDbDate, 19, "2024-01-02 03:04:05"},
        {kDbNumber, 21, "                   84"},
        {kDbChar, 384, "xcaf\xc3\xa9"},
    };
    ASSERT_EQ(items.size(), std::size(want));
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].type, want[i].type) << items[i].name;
        EXPECT_EQ(items[i].buf_len, want[i].buf_len) << items[i].name;
        EXPECT_EQ(rows[0][i], want[i].value) << items[i].name;
    }
    EXPECT_EQ(std::tie(cursor.fetch_rows, cursor.sample_no, cursor.sql_rc, cursor.sql_rc_text),
              std::make_tuple(1, 1, 100, "             100"));
}

TEST_F(SqliteFetch, InvalidNumberSkipsOnlyThatRow) {
    make_db("CREATE TABLE t(k INTEGER, n NUMERIC(6));"
            "INSERT INTO t VALUES(1, 10), (2, 'abc'), (3, 30);");
    ASSERT_EQ(logon(), 0);
    std::string out = captured([&] { EXPECT_EQ(fetch("SELECT k, n FROM t ORDER BY k"), 0); });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "      10");
    EXPECT_EQ(rows[1][1], "      30");
    EXPECT_TRUE(has(out, "SQLCODE for FETCH = -1722")) << out;
    EXPECT_FALSE(database_info.released);
}

TEST_F(SqliteFetch, TracedRowsAndBufferDumps) {
    make_db("CREATE TABLE t(k INTEGER, s VARCHAR(8));"
            "INSERT INTO t VALUES(7, 'ab'), (8, NULL);");
    ASSERT_EQ(logon(), 0);
    cursor.trace = 1;
    my_trace_all[9] = 1;
    std::string out = captured([&] { EXPECT_EQ(fetch("SELECT k, s FROM t ORDER BY k"), 0); });
    const std::string pad(20, ' ');
    EXPECT_TRUE(has(out, "Row 1 of " + cursor.cur_name + ": " + pad + "7|ab")) << out;
    EXPECT_TRUE(has(out, "Row 2 of " + cursor.cur_name + ": " + pad + "8|NULL")) << out;
    // The raw buffer of the first row as fetched: "7" in the 21-byte number
    // field, then "ab" in the text field.
    EXPECT_TRUE(has(out, "0000: 37" + std::string(40, '0') + "6162")) << out;
}

TEST_F(SqliteFetch, StatementFailuresRollBackAndRelease) {
    make_db("CREATE TABLE t(a LONG, b INTEGER);"
            "INSERT INTO t VALUES(1, 2);");
    struct Case {
        std::string sql;
        int rc;
        const char* message;
    };
    std::string wide = "SELECT 1";
    for (int i = 0; i < 60; ++i) wide += ", 1";
    const Case cases[] = {
        {"SELECT nope FROM missing", -20001, "ORACLE Message no such table: missing for PREPARE"},
        {"SELECT a FROM t", 1, "Don't support LONG for <a>"},
        {wide, 1, "More columns than max select columns"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(logon(), 0);
        int rc = 0;
        std::string out = captured([&] { rc = fetch(c.sql); });
        EXPECT_EQ(rc, c.rc) << c.sql;
        EXPECT_TRUE(has(out, c.message)) << out;
        EXPECT_TRUE(rows.empty());
    }
    // Only the failed prepare ends the connection; the others leave it.
    ASSERT_EQ(logon(), 0);
    captured([&] { fetch("SELECT nope FROM missing"); });
    EXPECT_TRUE(database_info.released);
    EXPECT_FALSE(database_info.connected);
    EXPECT_EQ(current_connection(), nullptr);
}

// Rows without end are cancelled at the time limit, the rows seen until
// then were handed on; the next pass logs on again and a query inside the
// limit is not disturbed by the clock.
TEST_F(SqliteFetch, QueryPastTheTimeLimitIsCancelled) {
    make_db("CREATE TABLE t(a INTEGER); INSERT INTO t VALUES(7);");
    env_vars.query_timeout = 1;
    ASSERT_EQ(logon(), 0);
    int rc = 0;
    std::string out = captured([&] {
        rc = fetch("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i FROM n WHERE i % 100000 = 0");
    });
    EXPECT_EQ(rc, kDbQueryTimeout);
    EXPECT_TRUE(has(out, "For cursor C1, SELECT ran past COLL_QUERY_TIMEOUT=1 seconds")) << out;
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(cursor.sql_rc, kDbQueryTimeout);
    EXPECT_TRUE(database_info.released);

    ASSERT_EQ(logon(), 0);
    ASSERT_EQ(fetch("SELECT a FROM t"), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].substr(rows[0][0].size() - 1), "7");
}

TEST_F(SqliteFetch, MergeFailureHoldsTheCursor) {
    make_db("CREATE TABLE t(a INTEGER); INSERT INTO t VALUES(1), (2);");
    ASSERT_EQ(logon(), 0);
    int rc = 0;
    std::string out = captured([&] { rc = fetch("SELECT a FROM t", 0); });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_EQ(cursor.held, 'Y');
    EXPECT_TRUE(has(out, "For cursor C1, merge failed after = 1 rowsHolding cursor")) << out;
    EXPECT_TRUE(database_info.released);
}

TEST_F(SqliteFetch, LogonFailuresReportAndALaterPassSucceeds) {
    int rc = 0;
    std::string out = captured([&] { rc = logon(); });
    EXPECT_EQ(rc, -20014);  // no such file
    EXPECT_TRUE(has(out, "Unable to connect to ORACLE at collector")) << out;
    EXPECT_TRUE(has(out, "Connect sql code = -20014")) << out;

    dir_.write("DEMO.db", std::string(4096, 'x'));
    out = captured([&] { rc = logon(); });
    EXPECT_EQ(rc, -20026);  // not a database
    EXPECT_TRUE(has(out, "Connect sql code msg detail = file is not a database")) << out;
    EXPECT_EQ(current_connection(), nullptr);

    env_.set("COLL_CONNECT", "mysql:x");
    out = captured([&] { rc = logon(); });
    EXPECT_EQ(rc, -12154);

    std::remove(dir_.file("DEMO.db").c_str());
    make_db("CREATE TABLE t(a INTEGER);");
    env_.set("COLL_CONNECT", "sqlite:" + dir_.file("DEMO.db"));
    EXPECT_EQ(logon(), 0);
    EXPECT_FALSE(database_info.released);
    EXPECT_EQ(database_info.db_type, "ORA");
}

TEST_F(SqliteFetch, NoSqlCursorBuildsOneRowWithoutADescriptor) {
    cursor.no_sql = 1;
    int count = 0;
    bool saw_null = false;
    RowSink sink = [&](curs&, const SelectDescriptor* d, const std::string&) {
        saw_null = d == nullptr;
        return 5;
    };
    EXPECT_EQ(prep_l_fetch(cursor, "20240101120000", count, sink), 0);
    EXPECT_TRUE(saw_null);
    EXPECT_EQ(count, 1);
    sink = [](curs&, const SelectDescriptor*, const std::string&) { return 0; };
    EXPECT_EQ(prep_l_fetch(cursor, "20240101120000", count, sink), 1);
}

// A connection whose commits answer with a chosen code.
class ScriptedConnection : public Connection {
public:
    explicit ScriptedConnection(int commit_code, int* rollbacks)
        : commit_code_(commit_code), rollbacks_(rollbacks) {}
    int logon(const LogonData&) override { return 0; }
    std::unique_ptr<Statement> prepare(const std::string&) override { return nullptr; }
    int commit() override { return commit_code_; }
    int commit_release() override { return commit_code_; }
    int rollback() override { return ++*rollbacks_, 0; }
    int rollback_release() override { return ++*rollbacks_, 0; }

private:
    int commit_code_;
    int* rollbacks_;
};

TEST_F(SqliteFetch, CommitCodes) {
    struct Case {
        int code;
        CommitMode mode;
        bool released;
        int rollbacks;
        bool reported;
    };
    const Case cases[] = {
        {0, CommitMode::normal, false, 0, false},
        {0, CommitMode::final, true, 0, false},
        {0, CommitMode::continuous, true, 0, false},
        {-1012, CommitMode::normal, true, 0, false},
        {-1013, CommitMode::normal, true, 0, false},
        {-20005, CommitMode::normal, false, 1, true},
        {-20005, CommitMode::final, true, 1, true},
    };
    for (const Case& c : cases) {
        int rollbacks = 0;
        set_current_connection(std::make_unique<ScriptedConnection>(c.code, &rollbacks));
        database_info.released = false;
        database_info.connected = true;
        int rc = -99;
        std::string out = captured([&] { rc = commit_collect(c.mode); });
        EXPECT_EQ(rc, 0) << c.code;
        EXPECT_EQ(database_info.released, c.released) << c.code;
        EXPECT_EQ(rollbacks, c.rollbacks) << c.code;
        EXPECT_EQ(has(out, "Sql code on commit = " + std::to_string(c.code)), c.reported) << out;
    }
    // Released: nothing is done at all.
    int rollbacks = 0;
    set_current_connection(std::make_unique<ScriptedConnection>(-20005, &rollbacks));
    database_info.released = true;
    EXPECT_EQ(commit_collect(CommitMode::normal), 0);
    EXPECT_EQ(rollbacks, 0);
}

// set_len: the named items are fetched at the given lengths (text cut or
// widened, numbers right-justified to the new width) on every collection;
// a name the select list lacks holds the cursor at its first fetch,
// before any row is built.
TEST_F(SqliteFetch, NamedItemsTakeTheirLengthsOnEveryCollection) {
    make_set_len_db();
    for (const char* clause : {"name 3", "n 8", "note 1", "note 6"})  // the later note wins
        ASSERT_EQ(parse_set_len(cursor, clause), 0) << clause;
    ASSERT_EQ(logon(), 0);
    for (int collection = 1; collection <= 2; ++collection) {
        ASSERT_EQ(fetch("SELECT name, n, note, name AS same FROM t"), 0) << collection;
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0].buf_len, 3);
        EXPECT_EQ(items[1].buf_len, 8);
        EXPECT_EQ(items[2].buf_len, 6);
        EXPECT_EQ(items[3].buf_len, 24);  // another item: by its type
        EXPECT_EQ(rows[0], (std::vector<std::string>{"abc", "   12345", "wxyz", "abcdefgh"})) << collection;
        EXPECT_TRUE(cursor.set_len->resolved);
        EXPECT_EQ(cursor.held, 0);
    }
}

TEST_F(SqliteFetch, UnknownNameHoldsTheCursorAtItsFirstFetch) {
    make_set_len_db();
    ASSERT_EQ(parse_set_len(cursor, "name 3"), 0);
    ASSERT_EQ(parse_set_len(cursor, "NAME 3"), 0);  // names compare byte for byte
    ASSERT_EQ(logon(), 0);
    int rc = 0;
    const std::string out = captured([&] { rc = fetch("SELECT name, n FROM t"); });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(cursor.held, 'Y');
    EXPECT_TRUE(rows.empty()) << "no row is built";
    EXPECT_TRUE(has(out, "PCL4570W") && has(out, "For cursor C1 the set_len name (NAME) not_found")) << out;
    EXPECT_TRUE(has(out, "PCL4575W") && has(out, "Holding cursor")) << out;
    EXPECT_FALSE(cursor.set_len->resolved);
}

} // namespace
