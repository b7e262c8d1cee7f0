// The fetch over ODBC against a real PostgreSQL server (psqlODBC): logon
// with user and password, type codes and values, a wrong password, and a
// server that goes away between two passes and comes back.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "fetch_fixture.h"
#include "support/pg_fixture.h"

using namespace qvx;
using qvxtest::captured;
using qvxtest::has;

namespace {

class OdbcPg : public dbtest::FetchTest {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<qvxtest::PgServer>();
        ASSERT_TRUE(server_->ok()) << server_->error();
        ASSERT_TRUE(server_->psql("CREATE ROLE collector LOGIN PASSWORD 'pa;ss';"
                                  "CREATE DATABASE qvx OWNER collector;"));
        ASSERT_TRUE(server_->psql(
            "SET ROLE collector;"
            "CREATE TABLE t(id integer, name varchar(20), amount numeric(10,2), at timestamp,"
            " big bigint, note text);"
            "INSERT INTO t VALUES (1, 'caf\xc3\xa9', 12.5, '2024-01-02 03:04:05', 42, 'x'),"
            " (2, NULL, -0.25, NULL, NULL, NULL);",
            "qvx"));
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->ok());
        FetchTest::SetUp();
        env_.set("COLL_CONNECT", "odbc:" + server_->odbc_string("qvx"));
        collector.logonid = "collector";
        collector.password = "pa;ss";
        cursor.cur_name = "PG";
    }

    static std::unique_ptr<qvxtest::PgServer> server_;
};

std::unique_ptr<qvxtest::PgServer> OdbcPg::server_;

TEST_F(OdbcPg, FetchesRowsWithTypeCodesAndValues) {
    ASSERT_EQ(logon(), 0);
    ASSERT_EQ(fetch("SELECT id, name, amount, at, big FROM t ORDER BY id"), 0);
    ASSERT_EQ(rows.size(), 2u);
    const int16_t types[] = {kDbNumber, kDbChar, kDbNumber, kDbDate, kDbNumber};
    const int32_t lens[] = {12, 60, 12, 19, 21};
    ASSERT_EQ(items.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(items[i].type, types[i]) << items[i].name;
        EXPECT_EQ(items[i].buf_len, lens[i]) << items[i].name;
    }
    EXPECT_EQ(rows[0], (std::vector<std::string>{"           1", "caf\xc3\xa9", "       12.50",
                                                 "2024-01-02 03:04:05", std::string(19, ' ') + "42"}));
    EXPECT_EQ(std::tie(rows[1][1], rows[1][2]), std::make_tuple("<null>", "       -0.25"));
    // A text column is a long type: refused.
    std::string out = captured([&] { EXPECT_EQ(fetch("SELECT note FROM t"), 1); });
    EXPECT_TRUE(has(out, "Don't support LONG for <note>")) << out;
}

TEST_F(OdbcPg, WrongPasswordFailsAndALaterLogonWorks) {
    collector.password = "wrong";
    int rc = 0;
    std::string out = captured([&] { rc = logon(); });
    EXPECT_EQ(rc, kDbLogonDenied);
    EXPECT_TRUE(has(out, "Unable to connect to ORACLE at collector")) << out;
    EXPECT_TRUE(has(out, "Connect sql code = -1017")) << out;
    EXPECT_EQ(current_connection(), nullptr);

    // The connection string's own user and password win.
    env_.set("COLL_CONNECT", "odbc:" + server_->odbc_string("qvx") + ";UID=collector;PWD={pa;ss}");
    EXPECT_EQ(logon(), 0);
    EXPECT_EQ(fetch("SELECT count(*) AS n FROM t"), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].substr(rows[0][0].size() - 1), "2");
}

TEST_F(OdbcPg, ServerLostBetweenPassesIsReportedThenReconnected) {
    ASSERT_EQ(logon(), 0);
    ASSERT_EQ(fetch("SELECT id FROM t"), 0);
    ASSERT_EQ(commit_collect(CommitMode::normal), 0);

    ASSERT_TRUE(server_->stop());
    int rc = 0;
    std::string out = captured([&] { rc = fetch("SELECT id FROM t"); });
    EXPECT_EQ(rc, kDbLostContact) << out;
    EXPECT_TRUE(database_info.released);
    EXPECT_FALSE(database_info.connected);
    out = captured([&] { rc = logon(); });
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(has(out, "Unable to connect to ORACLE at collector")) << out;

    ASSERT_TRUE(server_->start());
    ASSERT_EQ(logon(), 0);
    EXPECT_EQ(fetch("SELECT id FROM t"), 0);
    EXPECT_EQ(rows.size(), 2u);
}

// Checking a SELECT asks the server about it without running it: the
// sequence it would advance stays where it was.
TEST_F(OdbcPg, CheckedSelectIsNeverRun) {
    ASSERT_TRUE(server_->psql("SET ROLE collector; CREATE SEQUENCE checked;", "qvx"));
    ASSERT_EQ(logon(), 0);
    Connection* conn = current_connection();
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(conn->check_select("SELECT nextval('checked') AS n"), 0) << conn->long_message();
    EXPECT_EQ(conn->check_select("SELECT x FROM no_such_table"), -942);
    EXPECT_NE(conn->long_message().find("no_such_table"), std::string::npos) << conn->long_message();
    EXPECT_EQ(conn->check_select("SELECT nope FROM t"), -904);
    reset_database();
    // Only a sequence nobody called has is_called false.
    EXPECT_TRUE(server_->psql("DO $$ BEGIN IF (SELECT is_called FROM checked) THEN"
                              " RAISE EXCEPTION 'the checked SELECT ran'; END IF; END $$;",
                              "qvx"));
}

} // namespace
