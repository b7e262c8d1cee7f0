#include "procs/monitor_procs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "../expr/expr_fixture.h"
#include "expr/select.h"

using namespace qvx;
using namespace exprtest;

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
        sqlite3_exec(db, "PRAGMA case_sensitive_like = ON; CREATE TABLE m(g TEXT, f TEXT, v INTEGER)", nullptr,
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
    // SUM(v) of the rows an SQL condition over g and f picks (0: none).
    int sum(const std::string& where) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, ("SELECT COALESCE(SUM(v), 0) FROM m WHERE " + where).c_str(), -1, &st, nullptr);
        int v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_finalize(st);
        return v;
    }
    int field(const char* g, const std::string& f) { return sum("g = '" + std::string(g) + "' AND f = '" + f + "'"); }

    TermTable table;
    sqlite3* db = nullptr;
};

std::string fmt(const char* f, ...) {
    char buf[1000];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

// Rate per second, rate per transaction, count and percentage in the
// layouts given, each field after two tabs.
std::string grp(const char* rate, const char* count, const char* pct, int n, double iv, double xa, int base) {
    std::string s = fmt("\t\t%s\t\t%s\t\t%s", fmt(rate, n / iv).c_str(), fmt(rate, n / xa).c_str(), fmt(count, n).c_str());
    if (base >= 0) s += "\t\t" + fmt(pct, n * 100.0 / base);
    return s;
}

} // namespace

namespace {

// The cache line's numeric fields from SQL sums under a group condition.
std::string cache_fields(MonitorProcsTest& t, const std::string& g, double iv, double xa, int& tot5run) {
    auto s = [&](const std::string& c) { return t.sum(g + " AND " + c); };
    int read = s("f = 'bufsearch_calls'"), hit = s("f = 'bufsearch_finds'");
    int miss = read - hit;
    if (read == 0) read = 1;
    int hit3 = s("f = 'bufunkeep_lru'"), hit4 = s("f = 'bufunkeep_mru'");
    int unkeep = hit3 + hit4 ? hit3 + hit4 : 1;
    int tot4 = s("f = 'prefetch_req'");
    if (tot4 == 0) tot4 = 1;
    int hit5 = s("f IN ('prefetch_as_requested', 'prefetch_page_realigned')");
    tot5run += s("f LIKE 'bufgrab_%' AND f <> 'bufgrab_2k'");
    int hit6 = s("f LIKE 'bufgrab_ref_%K' AND f <> 'bufgrab_ref_2K'");
    auto G = [&](int n, int base) { return grp("%5.1f", "%7d", "%5.1f", n, iv, xa, base); };
    return G(read, -1) + G(hit, read) + G(miss, read) + G(hit3, unkeep) + G(hit4, unkeep) + G(hit5, tot4) +
           G(tot4 - hit5, tot4) + G(tot5run, -1) + G(hit6, tot5run ? tot5run : 1);
}

size_t fields(const std::string& line) {
    size_t n = 1;
    for (size_t p = line.find("\t\t"); p != std::string::npos; p = line.find("\t\t", p + 2)) ++n;
    return n;
}

} // namespace

// Both caches in CACHEMAP order, the tot5 total running over them; all
// caches together on one line.
TEST_F(MonitorProcsTest, CacheLinesMatchTheSqlFigures) {
    sample(sample_counters());
    const double iv = 600, xa = 250;
    std::optional<ResultChain> d = cacd_proc();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->size(), 2u);
    int run = 0;
    EXPECT_EQ((*d)[0], "\tdefault data cache" + cache_fields(*this, "g = 'buffer_0'", iv, xa, run) + "\t");
    EXPECT_EQ((*d)[1], "\ttempdb_cache" + cache_fields(*this, "g = 'buffer_1'", iv, xa, run) + "\t");
    EXPECT_EQ(fields((*d)[0]), 35u);
    std::optional<ResultChain> s = cacs_proc();
    ASSERT_TRUE(s);
    ASSERT_EQ(s->size(), 1u);
    run = 0;
    EXPECT_EQ((*s)[0], cache_fields(*this, "g LIKE 'buffer_%'", iv, xa, run).substr(1) + "\t");
    EXPECT_TRUE(ids.empty());
}

TEST_F(MonitorProcsTest, DeviceAndEngineLines) {
    sample(sample_counters());
    const double iv = 600, xa = 250;
    std::optional<ResultChain> dev = devd_proc();
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->size(), 3u);
    int tot1 = sum("g LIKE 'disk_%' AND f IN ('total_reads', 'total_writes')");
    for (int d = 0; d < 3; ++d) {
        const std::string g = "disk_" + std::to_string(d);
        int r = field(g.c_str(), "total_reads"), w = field(g.c_str(), "total_writes");
        auto G = [&](int n, int base) { return grp("%8.2f", "%7d", "%8.2f", n, iv, xa, base); };
        EXPECT_EQ((*dev)[d], "\tdev" + std::to_string(d) + "\t\t/dev/sd" + std::string(1, 'a' + d) +
                                 G(field(g.c_str(), "p_misses"), r + w) + G(field(g.c_str(), "p_hits"), r + w) +
                                 G(r + w, tot1) + G(w, r + w) + G(r, r + w) + "\t");
    }
    std::optional<ResultChain> s = engs_proc();
    ASSERT_TRUE(s);
    auto e = [&](const char* f) { return sum("g LIKE 'engine_%' AND f = '" + std::string(f) + "'"); };
    int p = e("cpu_ticks") * 100 / e("clock_ticks");
    std::string want = fmt("\t%2d\t\t%7d\t\t%7d\t\t%7d\t\t%7d", 2, 600, 250, 100 - p, p);
    for (const char* f : {"engine_sleeps", "context_switches", "max_outstanding_AIOs_engine",
                          "total_dpoll_completed_aios", "no_packets_received", "no_bytes_received",
                          "no_packets_sent", "no_bytes_sent"})
        want += fmt("\t\t%7d", e(f));
    EXPECT_EQ((*s)[0], want + "\t");
    std::optional<ResultChain> g = engd_proc();
    ASSERT_TRUE(g);
    ASSERT_EQ(g->size(), 2u);
    EXPECT_EQ((*g)[1].rfind("\tengine1\t\t", 0), 0u);
    EXPECT_EQ(fields((*g)[1]), 31u);
    int busy1 = field("engine_1", "cpu_ticks") * 100 / field("engine_1", "clock_ticks");
    EXPECT_NE((*g)[1].find(fmt("\t\t%7d\t\t%7d\t\t%7d\t\t%7d\t\t%7d", field("engine_1", "clock_ticks"),
                               field("engine_1", "cpu_ticks"), busy1, 100 - busy1,
                               field("engine_1", "engine_sleeps"))),
              std::string::npos);
    EXPECT_TRUE(ids.empty());
}

namespace {

// A labelled line: label, rates, count and the percentage (the 100 of a
// total as an integer) in the wide layout.
std::string part(const char* label, int n, int base, double iv = 600, double xa = 250) {
    if (base < 0) return fmt("\t%s\t\t%8.2f\t\t%8.2f\t\t%8d\t\t%8d\t", label, n / iv, n / xa, n, 100);
    return fmt("\t%s\t\t%8.2f\t\t%8.2f\t\t%8d\t\t%8.2f\t", label, n / iv, n / xa, n, n * 100.0 / base);
}

} // namespace

TEST_F(MonitorProcsTest, LockAndLogLines) {
    sample(sample_counters());
    auto lock = [&](const std::string& f) { return field("lock", f); };
    int requests = sum("g = 'lock' AND (f LIKE 'granted%' OR f LIKE 'waited%')");
    int deadlocks = lock("deadlocks");
    std::optional<ResultChain> d = lckd_proc();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->size(), 10u);
    auto G = [](int n, int base) { return grp("%8.2f", "%7d", "%8.2f", n, 600, 250, base); };
    int g = lock("granted_UP_PAGE"), w = lock("waited_UP_PAGE");
    EXPECT_EQ((*d)[5], "\tUP-Page Requests" + G(g + w, requests) + G(g, g + w) + G(w, g + w) +
                           G(lock("deadlock_UP_PAGE"), deadlocks) + "\t");
    g = field("access", "locklastpage"), w = field("access", "lklastpg_wait");
    EXPECT_EQ((*d)[9].rfind("\tLast Pg Locks Total" + G(g + w, requests) + G(g, g + w) + G(w, g + w), 0), 0u);

    std::optional<ResultChain> s = lcks_proc();
    ASSERT_TRUE(s);
    int waited = sum("g = 'lock' AND f LIKE 'waited%'");
    int ex = lock("promoted_EX_TAB"), sh = lock("promoted_SH_TAB");
    EXPECT_EQ((*s)[0], G(requests, -1).substr(1) + G(waited, requests) + G(deadlocks, requests) +
                           G(ex + sh, -1) + G(ex, ex + sh) + G(sh, ex + sh) + "\t");
    EXPECT_EQ(fields((*s)[0]), 22u);

    std::optional<ResultChain> l = logd_proc();
    ASSERT_TRUE(l);
    ASSERT_EQ(l->size(), 12u);
    int flushes = sum("g = 'xls' AND f LIKE 'plc_flush_%'");
    int calls = field("xls", "plc_lock_calls"), waits = field("xls", "plc_lock_waits");
    int other = sum("g = 'xls' AND f IN ('plc_flush_unpin', 'plc_flush_discard', 'plc_flush_pmscan')");
    EXPECT_EQ((*l)[0], part("Total PLC Flushes", flushes, -1));
    EXPECT_EQ((*l)[5], part("Flushes by Other", other, flushes));
    EXPECT_EQ((*l)[7], part("Granted PLC Semaphore Req", calls - waits, calls));
    EXPECT_EQ((*l)[11], part("Waited Log Semaphore Req", field("xls", "log_lock_waited"),
                             field("xls", "log_lock_granted") + field("xls", "log_lock_waited")));

    std::optional<ResultChain> t = logs_proc();
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)[0], fmt("\t%8d\t\t%8d\t\t%8d\t\t%8d\t\t%8d\t\t%8d\t\t%8d\t", field("xls", "plc_maxused"),
                           sum("g LIKE 'buffer_%' AND f = 'log_page_writes'"), field("access", "log_page_allocations"),
                           field("xls", "plc_logrecs"), flushes, calls,
                           field("xls", "log_lock_granted") + field("xls", "log_lock_waited")));
    EXPECT_TRUE(ids.empty());
}

TEST_F(MonitorProcsTest, SqlAndTaskSwitchLines) {
    sample(sample_counters());
    auto a = [&](const char* f) { return field("access", f); };
    int inserted = a("ncinsert") + a("cinsert");
    int updated = a("deferred_update") + a("direct_inplace_update") + a("direct_notinplace_update") +
                  a("direct_expensive_update");
    int total = inserted + updated + a("delete");
    std::optional<ResultChain> q = sqld_proc();
    ASSERT_TRUE(q);
    ASSERT_EQ(q->size(), 11u);
    EXPECT_EQ((*q)[0], part("Total SQL Activity", total, -1));
    EXPECT_EQ((*q)[2], part("Updated Total", updated, total));
    EXPECT_EQ((*q)[5], part("Inserted Clustered Table", a("cinsert"), inserted));
    EXPECT_EQ((*q)[10], part("Deleted Direct", a("delete") - a("delete_deferred"), a("delete")));

    int switches = sum("g LIKE 'engine_%' AND f = 'context_switches'");
    int logical = sum("g = 'lock' AND f LIKE 'waited_%' AND f NOT LIKE 'waited_%_ADDR'");
    int addr = sum("g = 'lock' AND f LIKE 'waited_%_ADDR'");
    int latch = sum("g = 'latch'");
    for (bool second : {false, true}) {
        std::optional<ResultChain> t = second ? tsk2_proc() : tskd_proc();
        ASSERT_TRUE(t) << (lines.empty() ? "" : lines.back());
        ASSERT_EQ(t->size(), second ? 17u : 16u);
        EXPECT_EQ(t->front(), part("Total Task Switches", switches, -1));
        EXPECT_EQ((*t)[5], part("Logical Lock Contention", logical, switches));
        EXPECT_EQ((*t)[6], part("Address Lock Contention", addr, switches));
        if (second) {
            EXPECT_EQ((*t)[7], part("Latch Contention", latch, switches));
        }
        // Other Causes is what the listed causes leave of the total.
        int listed = 0;
        for (size_t i = 1; i + 1 < t->size(); ++i) {
            int n = 0;
            char label[64];
            ASSERT_EQ(std::sscanf((*t)[i].c_str(), "\t%63[^\t]\t\t%*f\t\t%*f\t\t%d", label, &n), 2);
            listed += n;
        }
        EXPECT_EQ(t->back(), part("Other Causes", switches - listed, switches));
    }
    EXPECT_TRUE(ids.empty());
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
    std::optional<ResultChain> s = lcks_proc();
    ASSERT_TRUE(s);
    EXPECT_TRUE(wrote("LCKS0040W"));
    int requests = sum("g = 'lock' AND (f LIKE 'granted%' OR f LIKE 'waited%')");
    EXPECT_EQ((*s)[0].rfind(grp("%8.2f", "%7d", "%8.2f", requests, 800, 1, -1).substr(1), 0), 0u);
}

// A cache whose bufsearch_calls is 0: a negative miss over a read base of 1.
TEST_F(MonitorProcsTest, CacheWithoutSearchesTakesReadAsOne) {
    Rows rows = sample_counters();
    for (auto& r : rows)
        if (r[0] == "buffer_1" && r[1] == "bufsearch_calls") r[2] = "0";
    sample(rows);
    std::optional<ResultChain> d = cacd_proc();
    ASSERT_TRUE(d);
    int hit = field("buffer_1", "bufsearch_finds");
    EXPECT_EQ((*d)[1].rfind("\ttempdb_cache" + grp("%5.1f", "%7d", "%5.1f", 1, 600, 250, -1) +
                                grp("%5.1f", "%7d", "%5.1f", hit, 600, 250, 1) +
                                grp("%5.1f", "%7d", "%5.1f", -hit, 600, 250, 1),
                            0),
              0u);
}

// 150 engines stop at 100 lines; an engine without clock ticks is 100 busy.
TEST_F(MonitorProcsTest, EngineLimitsAndZeroClockTicks) {
    sample(sample_counters(0), 1000, 1600, 150);
    std::optional<ResultChain> d = engd_proc();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size(), 100u);
    EXPECT_TRUE(wrote("ENGD0390T"));
    EXPECT_TRUE(wrote("ENGD0455W"));
    EXPECT_NE((*d)[1].find(fmt("\t\t%7d\t\t%7d\t\t%7d\t\t%7d\t\t", 0, field("engine_1", "cpu_ticks"), 100, 0)),
              std::string::npos);
    std::optional<ResultChain> s = engs_proc();
    ASSERT_TRUE(s);
    int p = sum("g LIKE 'engine_%' AND f = 'cpu_ticks'") * 100 / 1000;
    EXPECT_EQ((*s)[0].rfind(fmt("\t%2d\t\t%7d\t\t%7d\t\t%7d\t\t%7d", 150, 600, 250, 100 - p, p), 0), 0u);
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
