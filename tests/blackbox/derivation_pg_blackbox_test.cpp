// Row derivation on PostgreSQL: the derived cursors of examples/postgresql/
// run against a throwaway server, and every derived value is checked
// against what psql computes from the same data: the cache hit ratio per
// database and its history file, session states decoded and counted into
// a virtual cursor, the high-water mark of connections, the detail cursor
// held while no session is busy, the average and trend of the commit
// rate over the kept samples, and the sessions reformatted by column
// exits. The sessions whose states are counted are the test's own (psql
// processes it starts and ends), so the counts are known exactly.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/pg_harness.h"

using namespace qvxtest;

namespace {

constexpr const char* kDatabase = "derivdb";
const char* const kAppName = "qvxderiv";  // application_name of the test's sessions

// The words of a text split at blanks (runs of them count as one), or its
// fields split at another separator.
std::vector<std::string> words(const std::string& text, char sep = ' ') {
    std::vector<std::string> out;
    std::string word;
    std::istringstream in(text);
    while (std::getline(in, word, sep))
        if (!word.empty() || sep != ' ') out.push_back(word);
    return out;
}

// The "nupa" passes of an output text: a pass lists the example's cursors
// in file order, DBSTAT first, and runs from its "Nupa for DBSTAT" line to
// the next one. Only the last pass can be incomplete, while the collector
// still writes it.
std::vector<std::string> nupa_passes(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t at = text.find("Nupa for DBSTAT\n"); at != std::string::npos;
         at = text.find("Nupa for DBSTAT\n", at + 1))
        starts.push_back(text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1);
    std::vector<std::string> passes;
    for (size_t i = 0; i < starts.size(); ++i)
        passes.push_back(text.substr(starts[i], i + 1 < starts.size() ? starts[i + 1] - starts[i] : std::string::npos));
    return passes;
}

bool lists(const std::string& pass, const std::string& cursor) {
    return pass.find("Nupa for " + cursor + "\n") != std::string::npos;
}

// Waits until `count` passes have begun after the first `from` bytes of
// the output file and gives back the one before the last: a complete
// pass, and with count 4 one whose collection surely began after `from`
// (the collector and nupa distributors have the same interval, so a
// collection runs between two nupa passes).
std::string pass_after(const std::string& path, size_t from, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10 + 4 * count);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::string> passes = nupa_passes(read_file(path).substr(from));
        if (static_cast<int>(passes.size()) >= count) return passes[static_cast<size_t>(count) - 2];
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ADD_FAILURE() << "fewer than " << count << " nupa passes after byte " << from;
    return {};
}

// What one pass shows of the session cursors: the CONNS and ACTIVITY
// rows, and whether BUSYSQL was listed (a held cursor is not).
void expect_sessions(const std::string& pass, const Row& conns, const Row& activity, bool busysql_listed) {
    const std::vector<Row> c = nupa_rows(pass, "CONNS"), a = nupa_rows(pass, "ACTIVITY");
    EXPECT_EQ(c, std::vector<Row>{conns}) << pass;
    EXPECT_EQ(a, std::vector<Row>{activity}) << pass;
    EXPECT_EQ(lists(pass, "BUSYSQL"), busysql_listed) << pass;
}

std::string local_time_text() {
    char text[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", std::localtime(&now));
    return text;
}

// Sessions of the test's own in derivdb, each a psql in the background
// named by application_name, so that psql can count them apart from the
// collector: "active" runs a long pg_sleep, "idle" ran one statement and
// waits, "in_xact" waits inside an open transaction.
class Sessions {
public:
    explicit Sessions(PgServer& server) : server_(server) {}
    ~Sessions() { close_all(); }

    void open(const std::string& kind, int count) {
        const std::string script = kind == "active" ? "SELECT pg_sleep(300);\n"
                                   : kind == "idle" ? "SELECT 1 \\watch 300\n"
                                                    : "BEGIN;\nSELECT 1 \\watch 300\n";
        for (int i = 0; i < count; ++i) {
            const std::string cwd = dir_.path() + "/s" + std::to_string(procs_.size());
            std::filesystem::create_directories(cwd);
            std::vector<std::string> args = server_.psql_logon(kDatabase);
            args.insert(args.end(), {"-f", dir_.write(kind + ".sql", script)});
            procs_.push_back(spawn_program(server_.psql_program(), args,
                                           {{"PGPASSWORD", PgServer::admin_password()}, {"PGAPPNAME", kAppName}}, cwd));
        }
    }

    // Ends the sessions at the server, then their psql processes.
    void close_all() {
        if (procs_.empty()) return;
        server_.query(std::string("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '") +
                      kAppName + "';");
        for (Spawned& p : procs_) {
            ::kill(p.pid, SIGKILL);
            wait_program(p, 10);
        }
        procs_.clear();
    }

    // The test's sessions by state as psql sees them: active, idle, idle
    // in transaction, all.
    std::string states() {
        return server_
            .query(std::string("SELECT count(*) FILTER (WHERE state = 'active'), count(*) FILTER (WHERE state = 'idle'),"
                               " count(*) FILTER (WHERE state LIKE 'idle in transaction%'), count(*)"
                               " FROM pg_stat_activity WHERE application_name = '") +
                   kAppName + "' AND datname = '" + kDatabase + "';")
            .value_or("<psql failed>");
    }

    // Waits until psql sees the sessions in the given states.
    bool settle(const std::string& expected) {
        for (int i = 0; i < 100; ++i) {
            if (states() == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

private:
    PgServer& server_;
    TempDir dir_;
    std::vector<Spawned> procs_;
};

class PgDerivation : public PgSuite<PgDerivation> {
public:
    static constexpr const char* kDatabase = ::kDatabase;
    static bool prepare(PgServer& server) {
        // pg_monitor lets the logon id see the states and queries of the
        // administrator's sessions, as the example asks of its logon id.
        return server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; GRANT pg_monitor TO monitor;"
                           "CREATE DATABASE derivdb OWNER monitor; CREATE DATABASE quietdb;");
    }

protected:
    // The example with every interval 2 seconds, the collector ending
    // after go_home seconds, and the hold and release lines of ACTIVITY's
    // decodes in the output (they are written for traced cursors).
    void example_files(int go_home) {
        pg_example_files(run_, go_home);
        run_.control("eval", pg_example("eval"));
        run_.control("trac", "trace ACTIVITY;\nend;\n");
    }
};

// The collector rounds a math answer by adding half a unit of its last
// kept digit, prints it with six decimals and cuts after the second; a
// division by zero gives 0. The same rule in SQL, over (blks_read,
// blks_hit) pairs, one result a line.
std::string hit_ratios_sql(const std::vector<std::pair<std::string, std::string>>& read_hit) {
    std::string values;
    for (size_t i = 0; i < read_hit.size(); ++i)
        values += (i ? "," : "") + std::string("(") + std::to_string(i) + "," + read_hit[i].first + "::numeric," +
                  read_hit[i].second + "::numeric)";
    return "SELECT CASE WHEN h + r = 0 THEN 0.00 ELSE trunc(round(h * 100 / (h + r) + 0.005, 6), 2) END"
           " FROM (VALUES " + values + ") AS v(i, r, h) ORDER BY i;";
}

TEST_F(PgDerivation, CacheHitRatioPerDatabaseAndItsHistory) {
    example_files(7);
    const std::string begun = local_time_text();
    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string ended = local_time_text();
    const std::string out = run_.output();
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor DBHIT")) << out;

    // Every database, the quiet one (nobody logs on to it) included.
    const std::vector<std::string> passes = nupa_passes(out);
    ASSERT_FALSE(passes.empty()) << out;
    const std::vector<Row> rows = nupa_rows(passes.back(), "DBHIT");
    std::set<std::string> names;
    std::vector<std::pair<std::string, std::string>> read_hit;
    std::vector<std::string> ratios;
    for (const Row& row : rows) {
        names.insert(row.at("datname"));
        read_hit.emplace_back(row.at("blks_read"), row.at("blks_hit"));
        ratios.push_back(row.at("hit_pct"));
    }
    const std::vector<std::string> databases =
        words(psql("SELECT datname FROM pg_stat_database WHERE datname IS NOT NULL;"), '\n');
    EXPECT_EQ(names, std::set<std::string>(databases.begin(), databases.end())) << passes.back();
    EXPECT_TRUE(names.count("quietdb")) << passes.back();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(ratios, words(psql(hit_ratios_sql(read_hit)), '\n')) << passes.back();

    // The history: one record per database and historian pass, the pass's
    // time followed by the row; no other cursor asks for history.
    std::vector<std::string> hst_files;
    for (const std::string& f : run_.dir.files())
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".HST") == 0) hst_files.push_back(f);
    EXPECT_EQ(hst_files, std::vector<std::string>{"DBHIT.HST"});
    std::string history = run_.dir.read("DBHIT.HST");
    std::replace(history.begin(), history.end(), '\0', ' ');
    std::map<std::string, std::set<std::string>> by_pass;
    read_hit.clear();
    ratios.clear();
    for (const std::string& line : split_lines(history)) {
        ASSERT_GT(line.size(), 14u) << history;
        const std::string when = line.substr(0, 14);
        EXPECT_EQ(when.find_first_not_of("0123456789"), std::string::npos) << line;
        EXPECT_TRUE(when >= begun && when <= ended) << line << " outside " << begun << ".." << ended;
        const std::vector<std::string> fields = words(line.substr(14));
        ASSERT_EQ(fields.size(), 4u) << line;
        by_pass[when].insert(fields[0]);
        read_hit.emplace_back(fields[1], fields[2]);
        ratios.push_back(fields[3]);
    }
    EXPECT_GE(by_pass.size(), 2u) << history;
    for (const auto& [when, in_pass] : by_pass) EXPECT_EQ(in_pass, names) << "historian pass " << when;
    EXPECT_EQ(ratios, words(psql(hit_ratios_sql(read_hit)), '\n')) << history;
}

TEST_F(PgDerivation, SessionStatesPeakAndHeldDetailFollowTheSessions) {
    example_files(120);
    Sessions sessions(*server_);
    Spawned collector = spawn_program(bin_path("qvxcoll"), {}, run_.env, run_.dir.path());
    const std::string out_path = run_.dir.file(run_.output_name());

    // No session but the collector's own, which every count leaves out:
    // BACKENDS fetches no row, so the loads give CONNS DICT.CTL's initial
    // values; nobody is busy, so BUSYSQL is held.
    std::string pass = pass_after(out_path, 0, 3);
    expect_sessions(pass, {{"busy", "0"}, {"idle", "0"}, {"in_xact", "0"}, {"common_state", "none"}},
                    {{"connections", "0"}, {"peak_connections", "0"}, {"busy", "0"}}, false);

    // Two busy sessions, three idle ones, one idle in a transaction.
    sessions.open("active", 2);
    sessions.open("idle", 3);
    sessions.open("in_xact", 1);
    ASSERT_TRUE(sessions.settle("2|3|1|6")) << sessions.states();
    pass = pass_after(out_path, read_file(out_path).size(), 4);
    const std::vector<std::string> seen = words(sessions.states(), '|');
    ASSERT_EQ(seen.size(), 4u);
    expect_sessions(pass, {{"busy", seen[0]}, {"idle", seen[1]}, {"in_xact", seen[2]}, {"common_state", "idle"}},
                    {{"connections", seen[3]}, {"peak_connections", seen[3]}, {"busy", seen[0]}}, true);
    // Released: the running statements of the two busy sessions.
    std::set<std::string> pids;
    for (const Row& row : nupa_rows(pass, "BUSYSQL")) {
        pids.insert(row.at("pid"));
        EXPECT_EQ(row.at("query"), "SELECT pg_sleep(300);") << pass;
    }
    const std::vector<std::string> busy_pids = words(
        psql(std::string("SELECT pid FROM pg_stat_activity WHERE state = 'active' AND application_name = '") + kAppName +
             "';"),
        '\n');
    EXPECT_EQ(pids, std::set<std::string>(busy_pids.begin(), busy_pids.end())) << pass;

    // The agent reads the virtual cursor as the nupa listing shows it.
    const RunResult probe =
        run_program(bin_path("qvxprobe"), {"--control", run_.dir.path(), "CONNS"}, run_.env, run_.dir.path(), 40);
    ASSERT_EQ(probe.status, 0) << probe.err;
    const std::vector<std::string> table = split_lines(probe.out);
    ASSERT_GE(table.size(), 3u) << probe.out;
    EXPECT_NE(table[0].find("CONNS: 1 row"), std::string::npos) << probe.out;
    EXPECT_EQ(words(table[1]), (std::vector<std::string>{"busy", "idle", "in_xact", "common_state"})) << probe.out;
    EXPECT_EQ(words(table[2]), (std::vector<std::string>{seen[0], seen[1], seen[2], "idle"})) << probe.out;

    // All gone again: the counts go back to the initial values, the peak
    // stays, BUSYSQL is held (and emptied) once more.
    const std::string peak = seen[3];
    sessions.close_all();
    ASSERT_TRUE(sessions.settle("0|0|0|0")) << sessions.states();
    pass = pass_after(out_path, read_file(out_path).size(), 4);
    expect_sessions(pass, {{"busy", "0"}, {"idle", "0"}, {"in_xact", "0"}, {"common_state", "none"}},
                    {{"connections", "0"}, {"peak_connections", peak}, {"busy", "0"}}, false);

    ::kill(collector.pid, SIGTERM);
    EXPECT_EQ(wait_program(collector, 30), 0);
    const std::string out = read_file(out_path);
    EXPECT_FALSE(has_line(out, "CGN1521E")) << out;
    // Held, released while the sessions were busy, held again.
    const size_t first_hold = out.find("Holding cursor (BUSYSQL) due to decode in ACTIVITY");
    const size_t release = out.find("Releasing cursors (BUSYSQL) due to decode in ACTIVITY");
    const size_t last_hold = out.rfind("Holding cursor (BUSYSQL) due to decode in ACTIVITY");
    ASSERT_NE(first_hold, std::string::npos) << out;
    ASSERT_NE(release, std::string::npos) << out;
    EXPECT_LT(first_hold, release);
    EXPECT_GT(last_hold, out.rfind("Releasing cursors (BUSYSQL) due to decode in ACTIVITY"));
}

TEST_F(PgDerivation, CommitRateAverageAndTrendOverTheKeptSamples) {
    // Commits in derivdb before the run, so that the rate is not 0.
    std::string commits;
    for (int i = 0; i < 300; ++i) commits += "SELECT 1;\n";
    ASSERT_TRUE(server_->psql(commits, kDatabase));
    example_files(11);
    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor XACTS")) << out;

    // One nupa pass lists XACTS's kept rows (oldest first) and then TPS,
    // which the loads filled from those rows.
    const std::vector<std::string> passes = nupa_passes(out);
    ASSERT_FALSE(passes.empty()) << out;
    const std::string& pass = passes.back();
    const std::vector<Row> samples = nupa_rows(pass, "XACTS");
    ASSERT_GE(samples.size(), 3u) << pass;  // a run every 2 seconds for 11
    ASSERT_LE(samples.size(), 10u) << pass;
    const std::vector<Row> tps = nupa_rows(pass, "TPS");
    ASSERT_EQ(tps.size(), 1u) << pass;

    // AVG keeps as many decimals as the values have (cut, after printing
    // with six); TREND is the weighted average (the i-th oldest value
    // weighing i) over the plain one, with six decimals.
    std::string values;
    size_t decimals = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const std::string& v = samples[i].at("tps");
        ASSERT_GT(std::atof(v.c_str()), 0) << pass;
        if (v.find('.') != std::string::npos) decimals = std::max(decimals, v.size() - v.find('.') - 1);
        values += (i ? "," : "") + std::string("(") + std::to_string(i + 1) + "," + v + "::numeric)";
    }
    const std::vector<std::string> expected = words(
        psql("SELECT trunc(round(avg(x), 6), " + std::to_string(decimals) +
             "), round(sum(x * i) / (count(*) * (count(*) + 1) / 2.0) / avg(x), 6) FROM (VALUES " + values +
             ") AS v(i, x);"),
        '|');
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(tps[0].at("avg_tps"), expected[0]) << pass;
    EXPECT_EQ(tps[0].at("trend_tps"), expected[1]) << pass;
}

// The column exits and set_len of SESSAGE on the test's two busy
// sessions: user and database joined, the application right-aligned in
// its 32 bytes, the time of day cut out of the logon time's text and the
// minutes since the logon at the collection's time stamp, each against
// what psql computes from the same sessions.
TEST_F(PgDerivation, SessionAgesAndNamesAreReformattedByColumnExits) {
    Sessions sessions(*server_);
    sessions.open("active", 2);
    ASSERT_TRUE(sessions.settle("2|0|0|2")) << sessions.states();
    // MINUTES reads the logon time the server writes in its zone as the
    // collector's local time.
    run_.env["TZ"] = psql("SHOW timezone;");
    example_files(5);
    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor SESSAGE")) << out;
    EXPECT_TRUE(has_line(out, "PCE4200I", "Column exit editing was successful")) << out;

    // The first pass lists one sample: the two sessions.
    const std::vector<std::string> passes = nupa_passes(out);
    ASSERT_FALSE(passes.empty()) << out;
    const std::vector<Row> rows = nupa_rows(passes.front(), "SESSAGE", true);
    ASSERT_EQ(rows.size(), 2u) << out;
    const std::string stamp = rows[0].at("%now_time");
    ASSERT_EQ(stamp.size(), 16u) << out;
    EXPECT_EQ(rows[1].at("%now_time"), stamp);
    // psql's view of the same sessions, in the cursor's order; the minutes
    // by the collector's rule (the logon time to the minute, half a minute
    // added, at least 0).
    const std::vector<std::string> expected = split_lines(psql(
        "SELECT usename || '@' || datname, lpad(application_name, 32), to_char(backend_start, 'HH24:MI:SS'), "
        "floor((greatest(extract(epoch FROM to_timestamp('" + stamp.substr(0, 14) +
        "', 'YYYYMMDDHH24MISS') - date_trunc('minute', backend_start)), 0) + 30) / 60)::int"
        " FROM pg_stat_activity WHERE datname = 'derivdb' AND application_name = '" + std::string(kAppName) +
        "' ORDER BY backend_start, pid;"));
    ASSERT_EQ(expected.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const Row& row = rows[i];
        const std::string minutes = row.at("logon_minutes");
        EXPECT_EQ(row.at("who") + "|" + row.at("app") + "|" + row.at("logon_at") + "|" +
                      minutes.substr(std::min(minutes.find_first_not_of(' '), minutes.size())),
                  expected[i])
            << out;
    }
    EXPECT_EQ(rows[0].at("who"), "qvxadmin@derivdb");
    EXPECT_EQ(rows[0].at("app"), std::string(32 - 8, ' ') + kAppName);
}

} // namespace

// The script exit of the example: df on the data directory that the
// cursor before it collected, df's heading skipped, each word of the line
// in its column, as the test's own df on the directory psql names.
TEST_F(PgDerivation, DataDirectoryFileSystemComesFromDfOnTheCollectedDirectory) {
    example_files(3);
    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    const std::vector<std::string> passes = nupa_passes(out);
    ASSERT_FALSE(passes.empty()) << out;
    const std::vector<Row> rows = nupa_rows(passes.front(), "PGDIRFS");
    ASSERT_EQ(rows.size(), 1u) << out;
    const std::string dir = psql("SHOW data_directory;");
    const std::vector<std::string> df =
        split_lines(run_program("/bin/df", {"-Pk", dir}, {}, "/tmp").out);
    ASSERT_EQ(df.size(), 2u) << dir;
    std::vector<std::string> want;
    for (const std::string& w : words(df[1]))
        if (!w.empty()) want.push_back(w);
    ASSERT_EQ(want.size(), 6u) << df[1];
    const Row& row = rows[0];
    EXPECT_EQ(row.at("fs_name"), want[0]);
    EXPECT_EQ(row.at("fs_kb"), want[1]);
    EXPECT_EQ(row.at("fs_mounted"), want[5]);
    // Use may move a little between the collector's df and the test's.
    EXPECT_NEAR(std::stod(row.at("fs_used_kb")), std::stod(want[2]), 1e5) << out;
    EXPECT_NEAR(std::stod(row.at("fs_avail_kb")), std::stod(want[3]), 1e5) << out;
}
