#include "procs/monitor_procs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../expr/expr_fixture.h"
#include "expr/lex_store.h"
#include "expr/select.h"
#include "model/cursor_list.h"
#include "procs/internal_procs.h"
#include "support/monitor_figures.h"

using namespace qvx;
using namespace exprtest;
using qvxtest::Fields;
using qvxtest::MonitorSample;
using qvxtest::monitor_expected;
using qvxtest::monitor_line;
using qvxtest::monitor_procedures;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// A sample of a two-engine server with two caches and three devices: a
// few hundred counters with values that differ from counter to counter.
Rows sample_counters(int clock_ticks_engine1 = 900) {
    Rows rows;
    int seed = 7;
    auto add = [&](const std::string& g, const std::string& f) {
        seed = (seed * 37 + 11) % 997;
        rows.push_back({g, f, std::to_string(seed + 3)});
    };
    rows.push_back({"access", "xacts", "250"});
    for (const char* b : {"buffer_0", "buffer_1"})
        for (const char* f : {"bufsearch_calls", "bufsearch_finds", "bufgrab_2k", "bufgrab_16k",
                              "bufgrab_dirty_2k", "bufgrab_dirty_16k", "bufunkeep_lru", "bufunkeep_mru",
                              "prefetch_req", "prefetch_as_requested", "prefetch_page_realigned",
                              "bufgrab_ref_2K", "bufgrab_ref_16K", "bufgrab_ref_4K", "bufread_read_waits",
                              "bufwrite_write_waits", "bufwrite_pacing_waits", "log_page_writes"})
            add(b, f);
    for (int e = 0; e < 2; ++e) {
        std::string g = "engine_" + std::to_string(e);
        rows.push_back({g, "clock_ticks", std::to_string(e == 0 ? 1000 : clock_ticks_engine1)});
        rows.push_back({g, "cpu_ticks", std::to_string(400 + 100 * e)});
        for (const char* f : {"engine_sleeps", "context_switches", "max_outstanding_AIOs_engine",
                              "total_dpoll_completed_aios", "no_packets_received", "no_bytes_received",
                              "no_packets_sent", "no_bytes_sent"})
            add(g, f);
    }
    for (const char* d : {"disk_0", "disk_1", "disk_2"})
        for (const char* f : {"total_reads", "total_writes", "p_hits", "p_misses"}) add(d, f);
    for (const char* t : {"EX_TAB", "SH_TAB", "EX_INT", "SH_INT", "EX_PAGE", "UP_PAGE", "SH_PAGE",
                          "EX_ADDR", "SH_ADDR"})
        for (const char* k : {"granted_", "waited_", "deadlock_"}) add("lock", k + std::string(t));
    for (const char* f : {"deadlocks", "promoted_EX_TAB", "promoted_SH_TAB"}) add("lock", f);
    for (const char* f : {"locklastpage", "lklastpg_wait", "log_page_allocations", "ncinsert", "cinsert",
                          "deferred_update", "direct_inplace_update", "direct_notinplace_update",
                          "direct_expensive_update", "delete", "delete_deferred", "modify_conflicts"})
        add("access", f);
    for (const char* f : {"plc_flush_full", "plc_flush_endxact", "plc_flush_xdeschange", "plc_flush_slr_xact",
                          "plc_flush_unpin", "plc_flush_discard", "plc_flush_pmscan", "plc_lock_calls",
                          "plc_lock_waits", "log_lock_granted", "log_lock_waited", "plc_maxused",
                          "plc_logrecs", "group_commit_sleeps", "last_log_page_writes"})
        add("xls", f);
    add("kernel", "yields");
    add("sysind", "ind_bufguess_a");
    add("sysind", "ind_bufguess_b");
    for (const char* f : {"waited_EX_LATCH", "waited_SH_LATCH", "waited_NO_LATCH"}) add("latch", f);
    return rows;
}

class MonitorProcsTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        start_exec_sql(table);
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, "CREATE TABLE m(g TEXT, f TEXT, v INTEGER)", nullptr,
                     nullptr, nullptr);
    }
    void TearDown() override {
        sqlite3_close(db);
        if (exec_sql_started()) end_exec_sql(table);
        ExprTest::TearDown();
    }

    // SYSMON and its SQLite copy, ZEPV, CACHEMAP, SYSDEV and SYSCCONF.
    void sample(const Rows& rows, int start = 1000, int stop = 1600, int engines = 2, const std::string& skip = "") {
        curs& mon = table_cursor("SYSMON", {{"GROUPNAME", 1, 20}, {"FLDNAME", 1, 32}, {"FLDVALUE", 2, 10}});
        for (const auto& r : rows) {
            add_row(mon, r);
            std::string sql = "INSERT INTO m VALUES('" + r[0] + "','" + r[1] + "'," + r[2] + ")";
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        }
        if (skip != "ZEPV") add_row(table_cursor("ZEPV", {{"STARTTIME", 2, 10}, {"STOPTIME", 2, 10}}),
                {std::to_string(start), std::to_string(stop)});
        if (skip != "CACHEMAP") {
            curs& map = table_cursor("CACHEMAP", {{"CACHENAME", 1, 20}, {"BUFFERNAME", 1, 20}});
            add_row(map, {"default data cache", "buffer_0"});
            add_row(map, {"tempdb_cache", "buffer_1"});
        }
        if (skip == "SYSDEV") return;
        curs& dev = table_cursor("SYSDEV", {{"DEVNAME", 1, 20}, {"OSNAME", 1, 30}, {"DISKMON", 1, 20}});
        for (int d = 0; d < 3; ++d)
            add_row(dev, {"dev" + std::to_string(d), "/dev/sd" + std::string(1, 'a' + d), "disk_" + std::to_string(d)});
        if (skip != "SYSCCONF") add_row(table_cursor("SYSCCONF", {{"NUMENG", 2, 10}}), {std::to_string(engines)});
    }

public:
    // The figures of the sample as SQL gives them.
    MonitorSample figures(double interval = 600, double xacts = 250, int engines = 2) {
        MonitorSample m{db, interval, xacts, engines, {}, {}};
        m.caches = {{"default data cache", "buffer_0"}, {"tempdb_cache", "buffer_1"}};
        for (int d = 0; d < 3; ++d)
            m.devices.push_back({"dev" + std::to_string(d), "/dev/sd" + std::string(1, 'a' + d), "disk_" + std::to_string(d)});
        return m;
    }
    // Runs the procedure of that name and compares its lines with SQL's.
    void expect_lines(const std::string& name, const MonitorSample& m) {
        for (const InternalProcEntry& e : cur_func_tb()) {
            if (name != e.name) continue;
            std::optional<ResultChain> got = e.proc();
            ASSERT_TRUE(got) << name << (lines.empty() ? "" : ": " + lines.back());
            std::vector<Fields> want = monitor_expected(name, m);
            ASSERT_EQ(got->size(), want.size()) << name;
            for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ((*got)[i], monitor_line(want[i])) << name << " line " << i;
            return;
        }
        ADD_FAILURE() << "no procedure " << name;
    }

    TermTable table;
    sqlite3* db = nullptr;
};

} // namespace

// Every procedure's lines, field by field, with the number of fields each
// line layout has.
TEST_F(MonitorProcsTest, EveryProcedureMatchesTheSqlFigures) {
    sample(sample_counters());
    const MonitorSample m = figures();
    const std::map<std::string, size_t> widths = {
        {"ZEPCACD", 35}, {"ZEPCACS", 34}, {"ZEPSDEVD", 22}, {"ZEPENGD", 31}, {"ZEPENGS", 13}, {"ZEPLCKD", 17},
        {"ZEPLCKS", 22}, {"ZEPLOGD", 5},  {"ZEPLOGS", 7},   {"ZEPSQLD", 5},  {"ZEPTSKD", 5},  {"ZEPTSK2", 5}};
    for (const std::string& name : monitor_procedures()) {
        expect_lines(name, m);
        for (const Fields& f : monitor_expected(name, m)) EXPECT_EQ(f.size(), widths.at(name)) << name;
    }
    EXPECT_TRUE(ids.empty()) << lines.front();
}

namespace {

Rows without(Rows rows, const std::string& g, const std::string& f) {
    std::erase_if(rows, [&](const auto& r) { return r[0] == g && r[1] == f; });
    return rows;
}

} // namespace

// No xacts row: W and the per-transaction rates over 1; a stop time past
// midnight: the interval gets a day added.
TEST_F(MonitorProcsTest, MissingXactsAndAnIntervalAcrossMidnight) {
    sample(without(sample_counters(), "access", "xacts"), 86000, 400);
    expect_lines("ZEPLCKS", figures(800, 1));
    EXPECT_TRUE(wrote("LCKS0040W"));
}

// A cache whose bufsearch_calls is 0: a negative miss over a read base of 1.
TEST_F(MonitorProcsTest, CacheWithoutSearchesTakesReadAsOne) {
    Rows rows = sample_counters();
    for (auto& r : rows)
        if (r[0] == "buffer_1" && r[1] == "bufsearch_calls") r[2] = "0";
    sample(rows);
    expect_lines("ZEPCACD", figures());
}

// 150 engines stop at 100 lines (the engines without counters read 1
// for each); an engine without clock ticks is 100 busy.
TEST_F(MonitorProcsTest, EngineLimitsAndZeroClockTicks) {
    sample(sample_counters(0), 1000, 1600, 150);
    expect_lines("ZEPENGD", figures(600, 250, 150));
    EXPECT_TRUE(wrote("ENGD0390T"));
    EXPECT_TRUE(wrote("ENGD0455W"));
    expect_lines("ZEPENGS", figures(600, 250, 150));
}

// Missing inputs end the procedure with no chain and the procedure's id.
TEST_F(MonitorProcsTest, MissingCursorsAndColumnsGiveNoChain) {
    struct Case {
        const char* drop;
        std::optional<ResultChain> (*proc)();
        const char* id;
    } cases[] = {
        {"CACHEMAP", cacd_proc, "CACD0120E"}, {"SYSDEV", devd_proc, "DEVD0120E"},
        {"ZEPV", cacs_proc, "CACS0100E"},     {"SYSCCONF", engs_proc, "ENGS0020E"},
        {"SYSCCONF", sqld_proc, "SQLD0020E"},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        sample(sample_counters(), 1000, 1600, 2, k.drop);
        EXPECT_FALSE(k.proc()) << k.id;
        EXPECT_TRUE(wrote(k.id)) << k.id;
    }
}

// Through the procedure table the procedures share one term table across
// calls: a second round parses no text again and gives the same lines,
// and a counter added between calls is read by the texts parsed before.
TEST_F(MonitorProcsTest, TheSharedTableKeepsParsedTextsAcrossCalls) {
    sample(sample_counters());
    end_exec_sql(table);
    std::vector<ResultChain> first;
    for (const std::string& name : monitor_procedures()) {
        std::optional<ResultChain> got = smon_curs_driver(name);
        ASSERT_TRUE(got) << name;
        first.push_back(*got);
    }
    const size_t parsed = lex_store_size();
    EXPECT_GT(parsed, 0u);
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(smon_curs_driver(monitor_procedures()[i]), first[i]);
    EXPECT_EQ(lex_store_size(), parsed);

    add_row(*find_cursor("SYSMON"), {"lock", "deadlocks", "5000"});
    sqlite3_exec(db, "INSERT INTO m VALUES('lock','deadlocks',5000)", nullptr, nullptr, nullptr);
    std::optional<ResultChain> again = smon_curs_driver("ZEPLCKS");
    ASSERT_TRUE(again);
    const std::vector<Fields> want = monitor_expected("ZEPLCKS", figures());
    ASSERT_EQ(again->size(), want.size());
    EXPECT_EQ(again->front(), monitor_line(want.front()));
    EXPECT_NE(again->front(), first[std::find(monitor_procedures().begin(), monitor_procedures().end(), "ZEPLCKS") -
                                    monitor_procedures().begin()]
                                   .front());
    EXPECT_EQ(lex_store_size(), parsed);
}
