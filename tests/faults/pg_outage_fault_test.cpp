// PostgreSQL going away under a running collector, again and again: shut
// down between two passes, and shut down while a cursor's fetch is in the
// server. Each time the collector reports the lost connection with its
// message id, keeps its stored rows for the agent, sleeps while the
// server is gone (its CPU time stays near zero) and collects again within
// one interval after the server is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "faults/fault_harness.h"
#include "support/pg_fixture.h"

using namespace qvxtest;

namespace {

constexpr int kInterval = 2;

// ITEMS is quick; SLOW spends 1.5 s in the server at every pass, which is
// where the mid-fetch outages strike.
const char* const kCollect =
    "cursor ITEMS;\n"
    "  INSERT INTO shop.items (name, qty) VALUES (:name, :INT!qty);\n"
    "  insert_where qty > 0 ORDER BY name;\n"
    "  interval 2;\n"
    "  limit 100;\n"
    "  samples 1;\n"
    "cursor SLOW;\n"
    "  INSERT INTO shop.slow (n) VALUES (:INT!n);\n"
    "  insert_select SELECT 1 AS n FROM pg_sleep(1.5);\n"
    "  interval 2;\n"
    "  limit 1;\n"
    "  samples 1;\n"
    "end;\n";

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Waits until the file holds the text after its first `from` bytes.
bool appears_after(const std::string& path, size_t from, const std::string& text, double timeout_s) {
    const auto start = Clock::now();
    while (seconds_since(start) < timeout_s) {
        const std::string content = read_file(path);
        if (content.size() > from && content.find(text, from) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class PgOutage : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<PgServer>();
        ASSERT_TRUE(server->ok()) << server->error();
        ASSERT_TRUE(server->psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; CREATE DATABASE shopdb OWNER monitor;"));
        ASSERT_TRUE(server->psql("SET ROLE monitor; CREATE SCHEMA shop;"
                                 "CREATE TABLE shop.items (name varchar(20), qty integer);"
                                 "INSERT INTO shop.items VALUES ('widget', 3);",
                                 "shopdb"));
        const std::string dir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";
        c.env["ODBCSYSINI"] = std::getenv("ODBCSYSINI") ? std::getenv("ODBCSYSINI") : "";
        c.env["COLL_CONNECT"] = "odbc:" + server->odbc_string("shopdb") + ";UID=monitor;PWD={mon pw}";
        c.env["WAIT_TIMEOUT"] = "5";
        c.control("proc", SqliteCollector::replaced(read_file(dir + "/qvxproc.ctl"), "interval 5;",
                                                    "interval " + std::to_string(kInterval) + ";"));
        c.control("dict", read_file(dir + "/qvxdict.ctl"));
        c.control("coll", kCollect);
    }
    void TearDown() override {
        if (collector.pid > 0) {
            ::kill(collector.pid, SIGKILL);
            wait_program(collector, 10);
        }
    }

    RunResult probe(const std::string& what) {
        return run_program(bin_path("qvxprobe"), {"--control", c.dir.path(), "--timeout", "10", what}, c.env,
                           c.dir.path(), 30);
    }
    bool slow_fetch_in_server() {
        return server->psql("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_stat_activity WHERE state = 'active'"
                            " AND query LIKE '%pg_sleep(1.5)%' AND pid <> pg_backend_pid()) THEN"
                            " RAISE EXCEPTION 'not fetching'; END IF; END $$;");
    }

    std::unique_ptr<PgServer> server;
    CollectorRun c;
    Spawned collector;
};

TEST_F(PgOutage, RowsAreKeptNothingSpinsAndCollectionResumesWithinAnInterval) {
    const std::string out = c.dir.file(c.output_name());
    collector = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
    ASSERT_TRUE(appears_after(out, 0, ":widget", 30)) << read_file(out);

    const int outages = fault_count(2, 20);
    double worst_back = 0, worst_cpu = 0;
    for (int i = 0; i < outages; ++i) {
        const bool mid_fetch = i % 2 == 1;
        if (mid_fetch) {
            bool fetching = false;
            for (int t = 0; t < 50 && !(fetching = slow_fetch_in_server()); ++t)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ASSERT_TRUE(fetching) << "outage " << i << ": the slow fetch never showed";
        }
        size_t mark = read_file(out).size();
        const double cpu_before = cpu_seconds(collector.pid);
        ASSERT_TRUE(server->stop()) << "outage " << i;
        const auto down = Clock::now();
        EXPECT_TRUE(appears_after(out, mark, "CGN1521E", 3 * kInterval + 2)) << "outage " << i << read_file(out);
        // The rows of the last good pass are still served, unless ITEMS's
        // own pass was the one the outage broke: that pass began a new
        // sample, and with "samples 1" only the newest sample is read out.
        RunResult rows = probe("ITEMS");
        EXPECT_EQ(rows.status, 0) << rows.err;
        if (rows.out.find("ITEMS: 1 row") == std::string::npos) {
            EXPECT_NE(rows.out.find("ITEMS: 0 rows"), std::string::npos) << "outage " << i << ": " << rows.out;
            EXPECT_NE(read_file(out).find("Interval collection failed for cursor ITEMS", mark), std::string::npos)
                << "outage " << i << ": ITEMS lost its rows without its own pass failing";
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, 4 * kInterval - seconds_since(down))));
        const double cpu = cpu_seconds(collector.pid) - cpu_before;
        worst_cpu = std::max(worst_cpu, cpu);
        EXPECT_LT(cpu, 0.05 * seconds_since(down)) << "outage " << i << ": CPU seconds while the server was down";

        ASSERT_TRUE(server->start()) << "outage " << i;
        const std::string name = "cycle " + std::to_string(i);
        ASSERT_TRUE(server->psql("UPDATE shop.items SET name = '" + name + "';", "shopdb"));
        const auto back = Clock::now();
        // The next pass logs on again; it starts within one interval, and
        // the slow cursor ahead of it may still take its 1.5 s.
        bool fresh = false;
        while (!fresh && seconds_since(back) < kInterval + 1.5 + 1) {
            fresh = probe("ITEMS").out.find(name) != std::string::npos;
            if (!fresh) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(fresh) << "outage " << i << ": no fresh row " << seconds_since(back) << " s after the restart\n"
                           << read_file(out);
        worst_back = std::max(worst_back, seconds_since(back));
    }
    std::cout << "outages " << outages << ", slowest reconnect " << worst_back << " s, most CPU while down "
              << worst_cpu << " s\n";
    EXPECT_EQ(probe("SHUTDOWN").status, 0);
    EXPECT_EQ(wait_program(collector, 40), 0);
    collector.pid = -1;
    const std::string text = read_file(out);
    EXPECT_GE(lines_with(text, "CGN1521E").size(), static_cast<size_t>(outages)) << text;
    EXPECT_NE(text.find("Collector ended"), std::string::npos);
}

} // namespace
