// Cursor versions on a real server: the example's CHECKPTS chooses its
// SELECT from the server version that PGVERS collected. On the PostgreSQL
// 15 server of the tests that is the pg_stat_bgwriter version; a SQLite
// file whose tables stand in for the version row and both views forces
// the pg_stat_checkpointer version, reached by a change of version while
// the collector runs. The agent reads the rows through the channel.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/harness.h"
#include "support/pg_fixture.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/postgresql";

std::string example(const std::string& base) { return read_file(kExampleDir + "/qvx" + base + ".ctl"); }

// The example's version cursors (PGVERS and CHECKPTS) with 2-second
// intervals and the collector ending after go_home seconds.
std::string version_cursors(int go_home) {
    const std::string coll = example("coll");
    const size_t from = coll.find("cursor PGVERS;");
    const size_t end = coll.rfind("end;");
    EXPECT_TRUE(from != std::string::npos && end != std::string::npos && from < end);
    return replaced_all(coll.substr(from, end - from), "interval 30;", "interval 2;") + "  go_home " +
           std::to_string(go_home) + ";\nend;\n";
}

// Starts the collector on the version cursors (coll) and asks it for
// CHECKPTS until its row comes from the expected source; the row's words
// (timed, requested, source) and the output once the collector ended.
std::pair<std::vector<std::string>, std::string> served_row(CollectorRun& run, const std::string& coll,
                                                            const std::string& source, const std::string& proc) {
    run.control("proc", replaced_all(proc, "interval 30;", "interval 2;"));
    run.control("dict", example("dict"));
    run.control("trac", "trace_all;\nend;\n");
    run.control("eval", "; none of these cursors is evaluated\n");
    run.control("coll", coll);
    Spawned collector = spawn_program(bin_path("qvxcoll"), {}, run.env, run.dir.path());
    std::vector<std::string> row;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    while (std::chrono::steady_clock::now() < deadline && (row.size() != 3 || row[2] != source)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const RunResult probe =
            run_program(bin_path("qvxprobe"), {"--control", run.dir.path(), "CHECKPTS"}, run.env, run.dir.path(), 20);
        const std::vector<std::string> table = split_lines(probe.out);
        row.clear();
        if (probe.status == 0 && table.size() >= 3 && table[0].rfind("CHECKPTS: 1 row", 0) == 0) {
            std::istringstream in(table[2]);
            for (std::string w; in >> w;) row.push_back(w);
        }
    }
    EXPECT_EQ(wait_program(collector, 40), 0);
    return {row, run.output()};
}

TEST(VersionsPg, ServerBefore17ReadsTheBgwriterView) {
    PgServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; GRANT pg_monitor TO monitor;"
                            "CREATE DATABASE versdb OWNER monitor;"));
    const std::optional<std::string> vernum = server.query("SHOW server_version_num;");
    ASSERT_TRUE(vernum.has_value());
    ASSERT_LT(std::stol(*vernum), 170000) << "this test needs a server before 17";

    CollectorRun run;
    run.env["ODBCSYSINI"] = std::getenv("ODBCSYSINI") ? std::getenv("ODBCSYSINI") : "";
    run.env["COLL_CONNECT"] = "odbc:" + server.odbc_string("versdb") + ";UID=monitor;PWD={mon pw}";
    const auto [row, out] = served_row(run, version_cursors(12), "bgwriter", example("proc"));
    const std::optional<std::string> counters = server.query("SELECT checkpoints_timed, checkpoints_req FROM pg_stat_bgwriter;");
    ASSERT_EQ(row.size(), 3u) << out;
    EXPECT_EQ(row[0] + "|" + row[1], counters.value_or("psql failed"));
    EXPECT_FALSE(has_line(out, "CGN1521E")) << out;
    // The collected version number keeps the first version: no change.
    EXPECT_FALSE(has_line(out, "CSL0100T")) << out;
}

TEST(VersionsSqlite, VersionRowOf17SwitchesToTheCheckpointerView) {
    CollectorRun run;
    const std::string db = run.dir.path() + "/vers.db";
    const RunResult made = run_program(
        "/usr/bin/sqlite3",
        {db, "CREATE TABLE pgver (vernum integer); INSERT INTO pgver VALUES (170002);"
             "CREATE TABLE pg_stat_bgwriter (checkpoints_timed integer, checkpoints_req integer);"
             "INSERT INTO pg_stat_bgwriter VALUES (1, 2);"
             "CREATE TABLE pg_stat_checkpointer (num_timed integer, num_requested integer);"
             "INSERT INTO pg_stat_checkpointer VALUES (41, 5);"},
        run.env, run.dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    run.env["COLL_CONNECT"] = "sqlite:" + db;
    // The version row comes from the table standing in for the server.
    const std::string coll = replaced(version_cursors(12),
                                      "SELECT CAST(current_setting('server_version_num') AS integer) AS vernum",
                                      "SELECT vernum FROM pgver");
    const auto [row, out] = served_row(run, coll, "checkpointer", replaced(example("proc"), "  logon_id monitor;\n", ""));
    EXPECT_EQ(row, (std::vector<std::string>{"41", "5", "checkpointer"})) << out;
    EXPECT_TRUE(has_line(out, "CSL0100T", "Cursor CHECKPTS version changed")) << out;
    EXPECT_TRUE(has_line(out, "CSL0110T", "There was cursor version change: redoing some edits")) << out;
}

} // namespace
