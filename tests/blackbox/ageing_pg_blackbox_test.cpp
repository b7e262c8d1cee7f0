// Sample ageing on PostgreSQL: the DBRATE cursor of examples/postgresql/
// and its age_to target DBRATEP run against a throwaway server while the
// test commits transactions in the database. The per-second rates the
// collector serves must be the difference of the newest two samples of
// the counters over the seconds between those runs, and the counters must
// lie between what psql read before and after the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/pg_harness.h"

using namespace qvxtest;

namespace {

long long number(const std::string& text) { return std::atoll(text.c_str()); }

// The counters of one sample: commits and block reads.
struct Counters {
    long long commits = 0, reads = 0;
};

// The counters of every DBRATE run in order (its traced fetched rows,
// "xact_commit|blks_read"), sample 1 first.
std::vector<Counters> traced_samples(const std::string& out) {
    std::vector<Counters> samples;
    for (const std::string& line : lines_with(out, "RPF0355T")) {
        const size_t at = line.find("Row 1 of DBRATE: ");
        if (at == std::string::npos) continue;
        const std::string values = line.substr(at + 17);
        const size_t bar = values.find('|');
        if (bar == std::string::npos) continue;
        samples.push_back({number(values.substr(0, bar)), number(values.substr(bar + 1))});
    }
    return samples;
}

// Every DBRATE row the nupa passes listed, by sample number.
std::map<long long, Row> listed_rows(const std::string& out) {
    std::map<long long, Row> rows;
    const std::string mark = "Nupa for DBRATE\n";
    for (size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1)) {
        const size_t begin = out.rfind('\n', at);
        const size_t next = out.find(mark, at + 1);
        const std::string pass = out.substr(begin == std::string::npos ? 0 : begin + 1,
                                            next == std::string::npos ? std::string::npos : next - begin);
        for (const Row& r : nupa_rows(pass, "DBRATE")) rows[number(r.at("%sampleno"))] = r;
    }
    return rows;
}

class PgAgeing : public PgSuite<PgAgeing> {
public:
    static constexpr const char* kDatabase = "agedb";
    static bool prepare(PgServer& server) {
        return server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; CREATE DATABASE agedb OWNER monitor;");
    }

protected:
    Counters counters() {
        const std::string text = psql(std::string("SELECT xact_commit, blks_read FROM pg_stat_database WHERE datname = '") +
                                      kDatabase + "';");
        return {number(text), number(text.substr(text.find('|') + 1))};
    }
};

TEST_F(PgAgeing, RatesComeFromTheNewestTwoSamples) {
    // The example's two cursors, every interval 2 seconds, DBRATE traced
    // so that the output holds the counters of every run.
    const std::string coll = pg_example("coll");
    const size_t from = coll.find("cursor DBRATE;");
    const size_t end = coll.rfind("end;");
    ASSERT_TRUE(from != std::string::npos && end != std::string::npos && from < end);
    run_.control("coll", replaced_all(coll.substr(from, end - from), "interval 30;", "interval 2;") +
                             "  go_home 13;\nend;\n");
    run_.control("proc", replaced_all(pg_example("proc"), "interval 30;", "interval 2;"));
    run_.control("dict", pg_example("dict"));
    run_.control("eval", "; none of its cursors is evaluated\n");
    run_.control("trac", "trace DBRATE;\nend;\n");

    const Counters before = counters();
    Spawned collector = spawn_program(bin_path("qvxcoll"), {}, run_.env, run_.dir.path());
    // 400 commits once the first samples are in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (traced_samples(run_.output()).size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string commits;
    for (int i = 0; i < 400; ++i) commits += "SELECT 1;\n";
    ASSERT_TRUE(server_->psql(commits, kDatabase));
    ASSERT_EQ(wait_program(collector, 40), 0);
    const Counters after = counters();

    const std::string out = run_.output();
    EXPECT_TRUE(has_line(out, "PAG3695I", "Age_to editing successful")) << out;
    const std::vector<Counters> samples = traced_samples(out);
    ASSERT_GE(samples.size(), 4u) << out;
    EXPECT_GE(samples.front().commits, before.commits);
    EXPECT_LE(samples.back().commits, after.commits);
    EXPECT_GE(samples.back().commits - samples.front().commits, 400) << out;
    for (size_t i = 1; i < samples.size(); ++i) EXPECT_GE(samples[i].commits, samples[i - 1].commits);

    // Each listed row: its own counters, and rates over the sample before.
    const std::map<long long, Row> rows = listed_rows(out);
    ASSERT_GE(rows.size(), 3u) << out;
    int compared = 0;
    for (const auto& [sample, row] : rows) {
        ASSERT_GE(sample, 1);
        ASSERT_LE(sample, static_cast<long long>(samples.size())) << out;
        const Counters& now = samples[static_cast<size_t>(sample - 1)];
        EXPECT_EQ(number(row.at("xact_commit")), now.commits) << sample;
        EXPECT_EQ(number(row.at("blks_read")), now.reads) << sample;
        const double cps = std::atof(row.at("commits_per_sec").c_str());
        const double rps = std::atof(row.at("reads_per_sec").c_str());
        if (sample == 1) {
            // No previous sample yet: the initial value.
            EXPECT_EQ(cps, 0.0);
            EXPECT_EQ(rps, 0.0);
            continue;
        }
        const Counters& prev = samples[static_cast<size_t>(sample - 2)];
        const long long seconds = number(row.at("%current_interval"));
        ASSERT_GE(seconds, 1) << sample;
        EXPECT_LE(seconds, 10) << sample;  // runs every 2 seconds, later on a busy machine
        EXPECT_NEAR(cps, static_cast<double>(now.commits - prev.commits) / seconds, 0.0051) << sample;
        EXPECT_NEAR(rps, static_cast<double>(now.reads - prev.reads) / seconds, 0.0051) << sample;
        ++compared;
    }
    EXPECT_GE(compared, 2) << out;
}

} // namespace
