// The monitor-counter cursors of the SQLite example and a cursor for each
// of the twelve monitor procedures, run by the collector over the sample
// that make-sysmon-db.sh writes: every row of every procedure is checked
// against SQL sums over the same database file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "support/monitor_figures.h"

using namespace qvxtest;

namespace {

const std::string kExample = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";
const std::vector<std::string> kCounterCursors = {"SYSMON", "ZEPV", "CACHEMAP", "SYSDEV", "SYSCCONF"};
// The procedures the example has cursors for, with columns of their own.
const std::vector<std::string> kExampleProcs = {"ZEPENGS", "ZEPLCKS", "ZEPLOGS", "ZEPSDEVD"};
constexpr int kWords = 35;   // the widest line, a cache's

std::string word_column(int i) {
    char name[8];
    std::snprintf(name, sizeof name, "w%02d", i);
    return name;
}

// A cursor for a procedure the example has none for: the line's fields
// fill the text columns w01, w02, ... in order.
std::string word_block(const std::string& proc) {
    std::string cols, vars;
    for (int i = 1; i <= kWords; ++i) {
        cols += (i > 1 ? ", " : "") + word_column(i);
        vars += (i > 1 ? ", :" : ":") + word_column(i);
    }
    return "cursor " + proc + ";\n  INSERT INTO sysmon.words (" + cols + ") VALUES (" + vars +
           ");\n  fetch_exit fetchxi1;\n  script sysmon " + proc + ";\n  insert_select SELECT " + cols +
           " FROM script;\n  interval 5;\n  limit 200;\n  samples 1;\n";
}

std::string word_dictionary() {
    std::string d;
    for (int i = 1; i <= kWords; ++i) d += "name " + word_column(i) + ";\n  type CHAR(32);\n";
    return d;
}

// The insert_select columns of a script cursor's block, in order.
std::vector<std::string> columns_of(const std::string& block) {
    std::smatch m;
    if (!std::regex_search(block, m, std::regex("insert_select SELECT (.*) FROM script;"))) return {};
    std::vector<std::string> cols;
    const std::string list = m[1];
    for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        std::string c = list.substr(at, comma - at);
        c.erase(0, c.find_first_not_of(' '));
        cols.push_back(c);
        at = comma + 1;
    }
    return cols;
}

std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// One SQL answer of the database, as an integer.
int sql_int(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    const int v = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
}

std::vector<std::vector<std::string>> sql_rows(sqlite3* db, const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
        rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            rows.back().push_back(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
    }
    sqlite3_finalize(st);
    return rows;
}

// The collector run once for every test: the counter cursors, the
// example's procedure cursors and a word cursor for each other
// procedure, collecting every 2 seconds for 5 seconds.
class MonitorProcs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        run = new CollectorRun;
        db_file = run->dir.file("sysmon.db");
        ASSERT_EQ(run_program("/bin/bash", {kExample + "/make-sysmon-db.sh", db_file}, run->env, run->dir.path()).status, 0);
        std::string coll;
        for (const std::string& c : kCounterCursors) coll += cursor_block(kExample + "/qvxcoll.ctl", c);
        for (const std::string& p : monitor_procedures()) {
            const bool own = std::find(kExampleProcs.begin(), kExampleProcs.end(), p) != kExampleProcs.end();
            blocks[p] = own ? cursor_block(kExample + "/qvxcoll.ctl", p) : word_block(p);
            coll += blocks[p];
        }
        run->control("trac", read_file(kExample + "/qvxtrac.ctl"));
        run->control("proc", replaced_all(read_file(kExample + "/qvxproc.ctl"), "interval 5;", "interval 2;"));
        const std::string dict = read_file(kExample + "/qvxdict.ctl");
        run->control("dict", dict.substr(0, dict.rfind("end;")) + word_dictionary() + "end;\n");
        run->control("coll", replaced_all(coll, "\n  interval 5;", "\n  go_home 5;\n  interval 2;") + "end;\n");
        run->env["COLL_CONNECT"] = "sqlite:" + db_file;
        status = run->run({"-logonid", "monitor"}, 60).status;
        out = run->output();
    }
    static void TearDownTestSuite() {
        delete run;
        run = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(sqlite3_open(db_file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TEMP TABLE m AS SELECT groupname AS g, fldname AS f, fldvalue AS v FROM sysmon_counters",
                     nullptr, nullptr, nullptr);
    }
    void TearDown() override { sqlite3_close(db); }

    // The sample's inputs as the monitor tables hold them.
    MonitorSample sample() {
        MonitorSample s;
        s.db = db;
        int interval = sql_int(db, "SELECT stoptime - starttime FROM sysmon_sample");
        s.interval = interval < 1 ? interval + 86400 : interval;
        int xacts = sql_int(db, "SELECT fldvalue FROM sysmon_counters WHERE groupname = 'access' AND fldname = 'xacts'");
        s.xacts = xacts == 0 ? 1 : xacts;
        s.engines = sql_int(db, "SELECT value FROM sysmon_config WHERE name = 'max online engines'");
        for (const auto& r : sql_rows(db, "SELECT cachename, buffername FROM sysmon_caches ORDER BY rowid"))
            s.caches.push_back({r[0], r[1]});
        for (const auto& r : sql_rows(db, "SELECT devname, osname, diskmon FROM sysmon_devices ORDER BY rowid"))
            s.devices.push_back({r[0], r[1], r[2]});
        return s;
    }

    static CollectorRun* run;
    static std::string db_file, out;
    static int status;
    static std::map<std::string, std::string> blocks;
    sqlite3* db = nullptr;
};

CollectorRun* MonitorProcs::run = nullptr;
std::string MonitorProcs::db_file, MonitorProcs::out;
int MonitorProcs::status = -1;
std::map<std::string, std::string> MonitorProcs::blocks;

// The counter cursors hold one run's rows each (with "empty"), and no
// procedure complains: every counter it reads is there.
TEST_F(MonitorProcs, CounterCursorsHoldTheSampleAndTheRunIsClean) {
    ASSERT_EQ(status, 0) << out;
    const std::pair<const char*, const char*> counts[] = {
        {"SYSMON", "sysmon_counters"}, {"ZEPV", "sysmon_sample"}, {"CACHEMAP", "sysmon_caches"},
        {"SYSDEV", "sysmon_devices"}, {"SYSCCONF", "sysmon_config WHERE name = 'max online engines'"}};
    for (const auto& [cursor, table] : counts)
        EXPECT_EQ(nupa_rows(out, cursor).size(), static_cast<size_t>(sql_int(db, std::string("SELECT COUNT(*) FROM ") + table)))
            << cursor;
    for (const std::string& line : split_lines(out))
        EXPECT_FALSE(std::regex_search(line, std::regex(R"(^[A-Z]{3,4}\d{3,4}[EWS] )")) && line.rfind("GGN1505S", 0) != 0)
            << line;
}

// Every procedure's rows, column by column: numbers as numbers in the
// example's typed columns, the text of each field in the word columns,
// and NULL in the columns after the last field.
TEST_F(MonitorProcs, EveryRowOfEveryProcedureMatchesTheSqlFigures) {
    ASSERT_EQ(status, 0) << out;
    const MonitorSample s = sample();
    for (const std::string& proc : monitor_procedures()) {
        const std::vector<Row> rows = nupa_rows(out, proc);
        const std::vector<Fields> want = monitor_expected(proc, s);
        const std::vector<std::string> cols = columns_of(blocks[proc]);
        ASSERT_EQ(rows.size(), want.size()) << proc << "\n" << out;
        for (size_t r = 0; r < want.size(); ++r) {
            ASSERT_LE(want[r].size(), cols.size()) << proc;
            for (size_t i = 0; i < cols.size(); ++i) {
                const auto it = rows[r].find(cols[i]);
                const std::string got = it == rows[r].end() ? "" : trimmed(it->second);
                const std::string exp = i < want[r].size() ? trimmed(want[r][i]) : "NULL";
                const bool typed = cols[i][0] != 'w';
                char* end = nullptr;
                const double num = std::strtod(exp.c_str(), &end);
                if (typed && !exp.empty() && *end == '\0') {
                    EXPECT_FALSE(got.empty()) << proc << " row " << r << " " << cols[i];
                    EXPECT_NEAR(std::strtod(got.c_str(), nullptr), num, 1e-6) << proc << " row " << r << " " << cols[i];
                } else
                    EXPECT_EQ(got, exp) << proc << " row " << r << " " << cols[i];
            }
        }
    }
}

} // namespace
