// Base rows and host variables on PostgreSQL: the example's SESSDB joins
// every session to its database's row of DBS on the collector side, and
// BIGDBACT's SELECT takes the name BIGDB collected. Both are checked
// against what psql answers from the same server: the test's own
// sessions in two databases of different encodings and connection
// limits, and a database made the biggest by a table of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/pg_harness.h"

using namespace qvxtest;

namespace {

const char* const kAppName = "qvxbases";

std::vector<std::string> fields(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, sep)) out.push_back(field);
    return out;
}

class PgBases : public PgSuite<PgBases> {
public:
    static constexpr const char* kDatabase = "joindb";
    static bool prepare(PgServer& server) {
        return server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; GRANT pg_monitor TO monitor;"
                           "CREATE DATABASE joindb OWNER monitor CONNECTION LIMIT 40;"
                           "CREATE DATABASE asciidb ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C'"
                           " TEMPLATE template0 CONNECTION LIMIT 7;") &&
               server.psql("CREATE TABLE pad AS SELECT repeat('x', 1000) AS t FROM generate_series(1, 5000);",
                           "joindb");
    }

protected:
    void SetUp() override {
        PgSuite::SetUp();
        pg_example_files(run_, 7);
        run_.control("eval", pg_example("eval"));
        run_.control("trac", "trace BIGDBACT;\nend;\n");
    }
    void TearDown() override {
        if (!sessions_.empty())
            server_->query(std::string("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '") +
                           kAppName + "';");
        for (Spawned& p : sessions_) {
            ::kill(p.pid, SIGKILL);
            wait_program(p, 10);
        }
    }

    // An idle psql session of the test's in the database.
    void open_session(const std::string& database) {
        const std::string cwd = dir_.path() + "/s" + std::to_string(sessions_.size());
        std::filesystem::create_directories(cwd);
        std::vector<std::string> args = server_->psql_logon(database);
        args.insert(args.end(), {"-f", dir_.write("idle.sql", "SELECT 1 \\watch 300\n")});
        sessions_.push_back(spawn_program(server_->psql_program(), args,
                                          {{"PGPASSWORD", PgServer::admin_password()}, {"PGAPPNAME", kAppName}}, cwd));
    }

    // psql's answer, one row a line, fields split by "|".
    std::vector<std::vector<std::string>> psql_rows(const std::string& sql) {
        const std::optional<std::string> out = server_->query(sql);
        EXPECT_TRUE(out.has_value()) << sql;
        std::vector<std::vector<std::string>> rows;
        for (const std::string& line : split_lines(out.value_or(""))) rows.push_back(fields(line, '|'));
        return rows;
    }

    TempDir dir_;
    std::vector<Spawned> sessions_;
};

TEST_F(PgBases, SessionsJoinedToTheirDatabasesAndTheBiggestDatabaseDrivesASelect) {
    for (const char* db : {"joindb", "joindb", "asciidb"}) open_session(db);
    const std::string ours = std::string("SELECT a.pid, a.datname, pg_encoding_to_char(d.encoding), d.datconnlimit"
                                         " FROM pg_stat_activity a JOIN pg_database d ON d.datname = a.datname"
                                         " WHERE a.application_name = '") + kAppName + "' ORDER BY 1;";
    std::vector<std::vector<std::string>> expected;
    for (int i = 0; i < 100 && (expected = psql_rows(ours)).size() != 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(expected.size(), 3u);

    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_EQ(out.find("CGN1521E"), std::string::npos) << "a cursor failed:\n" << out;
    EXPECT_EQ(out.find("Using 'last_row'"), std::string::npos) << "a session without its database row:\n" << out;

    // The joined rows of the test's sessions, as psql joins them.
    std::map<std::string, Row> by_pid;
    for (const Row& row : nupa_rows(out, "SESSDB")) by_pid[row.at("pid")] = row;
    for (const std::vector<std::string>& want : expected) {
        ASSERT_EQ(want.size(), 4u);
        ASSERT_TRUE(by_pid.count(want[0])) << "session " << want[0] << " not listed:\n" << out;
        const Row& got = by_pid[want[0]];
        EXPECT_EQ(got.at("datname"), want[1]);
        EXPECT_EQ(got.at("DBS.encoding"), want[2]) << want[1];
        EXPECT_EQ(got.at("DBS.connlimit"), want[3]) << want[1];
    }

    // The biggest database is joindb (its table); BIGDBACT's SELECT took
    // the name, quoted, from BIGDB's row.
    const std::vector<Row> big = nupa_rows(out, "BIGDB");
    ASSERT_EQ(big.size(), 1u) << out;
    EXPECT_EQ(big[0].at("datname"), "joindb");
    const auto biggest = psql_rows("SELECT datname FROM pg_database WHERE datallowconn"
                                   " ORDER BY pg_database_size(oid) DESC, 1 LIMIT 1;");
    ASSERT_EQ(biggest.size(), 1u);
    EXPECT_EQ(biggest[0][0], "joindb");
    const std::vector<Row> act = nupa_rows(out, "BIGDBACT");
    ASSERT_EQ(act.size(), 1u) << out;
    EXPECT_EQ(act[0].at("datname"), "joindb");
    EXPECT_GE(std::atoi(act[0].at("numbackends").c_str()), 3) << "the collector and two of the test's sessions";
    EXPECT_TRUE(has_line(out, "CMG3242T", "HV merge produced: SELECT CAST(datname AS varchar(64)) AS datname,"
                                          " numbackends, xact_commit FROM pg_stat_database WHERE datname = 'joindb'"))
        << out;
}

} // namespace
