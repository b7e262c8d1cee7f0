// Thresholds on PostgreSQL: the evaluator of examples/postgresql/ runs
// against a throwaway server while the test pushes two figures across
// their thresholds on purpose (client connections in percent of
// max_connections, and the WAL a replication slot holds back), and the
// rows the evaluator writes are checked against what psql sees. Before the
// crossing nothing is written for them; afterwards exactly the rows that
// pass, with their values.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/pg_harness.h"

using namespace qvxtest;

namespace {

constexpr int kConnectionsPct = 3;      // the test's threshold for connections in use
constexpr long kLagBytes = 8'000'000;   // and for the WAL a slot holds

// The rows written for the cursor whose INSERT names the table, from the
// first `from` bytes of the text on: each CPR1890I line names the cursor
// of the CPR1895I rows that follow it.
std::vector<Row> written_rows(const std::string& text, const std::string& table, size_t from = 0) {
    std::vector<Row> rows;
    bool ours = false;
    for (const std::string& line : split_lines(text.substr(std::min(from, text.size())))) {
        if (line.rfind("CPR1890I", 0) == 0) {
            ours = line.find("INSERT INTO " + table + " ") != std::string::npos;
            continue;
        }
        if (!ours || line.rfind("CPR1895I", 0) != 0) continue;
        // CPR1895I (hhmmss) #=n,n=name,l=..,o=..,ll=..:value
        const size_t hash = line.find("#=");
        const size_t name_at = line.find(",n=", hash) + 3;
        const size_t name_end = line.find(',', name_at);
        const size_t colon = line.find(':', name_end);
        if (hash == std::string::npos || colon == std::string::npos) continue;
        if (line.compare(hash, 4, "#=1,") == 0) rows.emplace_back();
        if (rows.empty()) continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
        rows.back()[line.substr(name_at, name_end - name_at)] = value;
    }
    return rows;
}

// Waits until the output has grown by `passes` "nupa" passes (each lists
// DBSTAT first) past `from`: with every interval the same, an evaluator
// pass ran after a collection that began past `from`.
void wait_passes(const std::string& path, size_t from, int passes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10 + 4 * passes);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = read_file(path);
        int seen = 0;
        for (size_t at = text.find("Nupa for DBSTAT\n", from); at != std::string::npos;
             at = text.find("Nupa for DBSTAT\n", at + 1))
            ++seen;
        if (seen >= passes) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ADD_FAILURE() << "fewer than " << passes << " passes after byte " << from;
}

class PgEvaluator : public PgSuite<PgEvaluator> {
public:
    static constexpr const char* kDatabase = "evaldb";
    static bool prepare(PgServer& server) {
        return server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; GRANT pg_monitor TO monitor;"
                           "CREATE DATABASE evaldb OWNER monitor;");
    }

protected:
    void SetUp() override {
        PgSuite::SetUp();
        pg_example_files(run_, 120);
        // The example's thresholds lowered to what a test server can cross.
        run_.control("eval", replaced(replaced(pg_example("eval"), "value 80;", "value " + std::to_string(kConnectionsPct) + ";"),
                                      "value 1073741824;", "value " + std::to_string(kLagBytes) + ";"));
    }
};

TEST_F(PgEvaluator, RowsAreWrittenOnceTheirThresholdsAreCrossed) {
    const int max_connections = std::atoi(psql("SHOW max_connections;").c_str());
    ASSERT_GT(max_connections, 0);
    // Enough sessions to pass the threshold whatever else is connected.
    const int needed = kConnectionsPct * max_connections / 100 + 2;

    Spawned collector = spawn_program(bin_path("qvxcoll"), {}, run_.env, run_.dir.path());
    const std::string out_path = run_.dir.file(run_.output_name());
    wait_passes(out_path, 0, 3);
    std::string out = read_file(out_path);
    EXPECT_TRUE(written_rows(out, "pg.connection_use").empty()) << out;
    EXPECT_TRUE(written_rows(out, "pg.slot_lag").empty()) << "no slot yet:\n" << out;
    // The cache ratio rows written are those under 90%, and only those.
    for (const Row& row : written_rows(out, "pg.cache_ratio")) EXPECT_LT(std::atoi(row.at("hit_pct").c_str()), 90);

    // Crossing both: sessions held open in the background, and a slot
    // that keeps the WAL of a large insert.
    const size_t before = out.size();
    std::vector<Spawned> sessions;
    TempDir scratch;
    const std::string script = scratch.write("idle.sql", "SELECT 1 \\watch 300\n");
    for (int i = 0; i < needed; ++i)
        sessions.push_back(spawn_program(server_->psql_program(),
                                         [&] {
                                             std::vector<std::string> a = server_->psql_logon(kDatabase);
                                             a.insert(a.end(), {"-f", script});
                                             return a;
                                         }(),
                                         {{"PGPASSWORD", PgServer::admin_password()}, {"PGAPPNAME", "qvxeval"}},
                                         scratch.path()));
    ASSERT_TRUE(server_->psql("SELECT pg_create_physical_replication_slot('qvx_standby', true);"
                              "CREATE TABLE walfill AS SELECT g, repeat('x', 200) AS pad FROM generate_series(1, 100000) g;",
                              kDatabase))
        << read_file(std::string(std::getenv("ODBCSYSINI")) + "/cmd.log");
    for (int i = 0; i < 100 && std::atoi(psql("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'qvxeval';").c_str()) < needed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    wait_passes(out_path, read_file(out_path).size(), 4);

    out = read_file(out_path);
    const std::vector<Row> use = written_rows(out, "pg.connection_use", before);
    ASSERT_FALSE(use.empty()) << out.substr(before);
    const Row& last = use.back();
    EXPECT_EQ(last.at("max_connections"), std::to_string(max_connections));
    const int connections = std::atoi(last.at("connections").c_str());
    EXPECT_GE(connections, needed + 1) << "the test's sessions and the collector";
    EXPECT_EQ(std::atoi(last.at("used_pct").c_str()), connections * 100 / max_connections);
    EXPECT_GT(std::atoi(last.at("used_pct").c_str()), kConnectionsPct);

    const std::vector<Row> lag = written_rows(out, "pg.slot_lag", before);
    ASSERT_FALSE(lag.empty()) << out.substr(before);
    EXPECT_EQ(lag.back().at("slot_name"), "qvx_standby");
    const long reported = std::atol(lag.back().at("lag_bytes").c_str());
    EXPECT_GT(reported, kLagBytes);
    // The slot only falls further behind: psql now sees at least as much.
    EXPECT_GE(std::atol(psql("SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), restart_lsn)::bigint FROM pg_replication_slots;").c_str()),
              reported);

    // Below the thresholds again: no more rows for either.
    EXPECT_TRUE(server_->psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'qvxeval';"
                              "SELECT pg_drop_replication_slot('qvx_standby');"));
    for (Spawned& s : sessions) {
        ::kill(s.pid, SIGKILL);
        wait_program(s, 10);
    }
    wait_passes(out_path, read_file(out_path).size(), 2);
    const size_t quiet = read_file(out_path).size();
    wait_passes(out_path, quiet, 3);
    out = read_file(out_path);
    EXPECT_TRUE(written_rows(out, "pg.connection_use", quiet).empty()) << out.substr(quiet);
    EXPECT_TRUE(written_rows(out, "pg.slot_lag", quiet).empty()) << out.substr(quiet);

    ::kill(collector.pid, SIGTERM);
    EXPECT_EQ(wait_program(collector, 30), 0);
    out = read_file(out_path);
    EXPECT_FALSE(has_line(out, "CGN1521E")) << out;
    server_->psql("DROP TABLE IF EXISTS walfill;", kDatabase);
}

// The evaluation file is read at start-up only when PROCESS.CTL has an
// evaluator, and an error in it ends the collector before it collects.
TEST(EvaluatorStartup, ABadEvaluationFileStopsTheStart) {
    CollectorRun c;
    c.good_files();
    c.control("eval", "eval cpu_high;\n  cursor CPU;\n  column busy;\n  operator >;\n  value 90;\nfinish;\n");
    RunResult r = c.run();  // no evaluator: the file is not read, the run goes on
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has_line(c.output(), "PEV1260E")) << c.output();
    EXPECT_TRUE(has_line(c.output(), "CML1530")) << c.output();

    c.control("proc", replaced(kGoodProcess, "end;", "process evaluator;\n  interval 5;\nend;"));
    std::filesystem::remove(c.dir.file(c.output_name()));
    r = c.run();
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "PEV1260E", "Unknown keyword (finish)")) << out;
    EXPECT_FALSE(has_line(out, "CML1530")) << out;
    EXPECT_NE(out.find("Collector ended"), std::string::npos) << out;

    const RunResult check = c.run({"--check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("qvxeval.ctl evaluation file failed: 0 evaluations\n"), std::string::npos) << check.out;
}

} // namespace
