#include "support/monitor_figures.h"

#include <cstdarg>
#include <cstdio>

namespace qvxtest {

namespace {

std::string fmt(const char* f, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

int nz(int n) { return n == 0 ? 1 : n; }

// The value of the counter `where` selects (1 when none).
int value_of(const MonitorSample& s, const std::string& where) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(s.db, ("SELECT v FROM m WHERE " + where + " LIMIT 1").c_str(), -1, &st, nullptr);
    int v = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 1;
    sqlite3_finalize(st);
    return v;
}

// Rates and percentages in a procedure's number layouts.
struct Layout {
    const char* rate;
    const char* count;
    const char* pct;
};
constexpr Layout k51{"%5.1f", "%7d", "%5.1f"};
constexpr Layout k82{"%8.2f", "%7d", "%8.2f"};
constexpr Layout kWide{"%8.2f", "%8d", "%8.2f"};

struct Line {
    const MonitorSample& s;
    Layout l;
    Fields f;
    Line& text(const std::string& t) { return f.push_back(t), *this; }
    Line& rates(int n) {
        f.push_back(fmt(l.rate, n / s.interval));
        f.push_back(fmt(l.rate, n / s.xacts));
        f.push_back(fmt(l.count, n));
        return *this;
    }
    Line& of(int n, int base) {
        rates(n);
        f.push_back(fmt(l.pct, n * 100.0 / nz(base)));
        return *this;
    }
    Line& total(int n) {
        rates(n);
        f.push_back(fmt(l.count, 100));
        return *this;
    }
};

std::string in(const std::string& field) { return "f = '" + field + "'"; }

// ---- caches ----------------------------------------------------------

// One cache's (or all caches') 34 numbers; run is the running total of
// the pages grabbed in the other sizes than 2K.
void cache_numbers(const MonitorSample& s, const std::string& group, int& run, Line& line) {
    auto S = [&](const std::string& c) { return monitor_sum(s, group + " AND " + c); };
    int read = S(in("bufsearch_calls")), hit = S(in("bufsearch_finds"));
    int miss = read - hit;
    read = nz(read);
    int lru = S(in("bufunkeep_lru")), mru = S(in("bufunkeep_mru"));
    int req = nz(S(in("prefetch_req")));
    int granted = S("f IN ('prefetch_as_requested', 'prefetch_page_realigned')");
    run += S("f GLOB 'bufgrab_*' AND f <> 'bufgrab_2k'");
    int large_ref = S("f GLOB 'bufgrab_ref_*K' AND f <> 'bufgrab_ref_2K'");
    line.rates(read).of(hit, read).of(miss, read).of(lru, lru + mru).of(mru, lru + mru);
    line.of(granted, req).of(req - granted, req).rates(run).of(large_ref, run);
}

std::vector<Fields> caches(const MonitorSample& s, bool each) {
    std::vector<Fields> out;
    int run = 0;
    if (!each) {
        Line line{s, k51, {}};
        cache_numbers(s, "g GLOB 'buffer_*'", run, line);
        return {line.f};
    }
    for (const auto& c : s.caches) {
        Line line{s, k51, {c.name}};
        cache_numbers(s, "g = '" + c.group + "'", run, line);
        out.push_back(line.f);
    }
    return out;
}

// ---- devices and engines ---------------------------------------------

std::vector<Fields> devices(const MonitorSample& s) {
    int all = monitor_sum(s, "g GLOB 'disk_*' AND f IN ('total_reads', 'total_writes')");
    std::vector<Fields> out;
    for (const auto& d : s.devices) {
        auto S = [&](const char* f) { return monitor_sum(s, "g = '" + d.group + "' AND " + in(f)); };
        int r = S("total_reads"), w = S("total_writes"), io = r + w;
        Line line{s, k82, {d.name, d.osname}};
        line.of(S("p_misses"), io).of(S("p_hits"), io).of(io, all).of(w, io).of(r, io);
        out.push_back(line.f);
    }
    return out;
}

const char* const kEngineCounters[] = {"engine_sleeps",       "context_switches",
                                       "max_outstanding_AIOs_engine", "total_dpoll_completed_aios",
                                       "no_packets_received", "no_bytes_received",
                                       "no_packets_sent",     "no_bytes_sent"};

int busy(int clock, int cpu) { return clock < 1 ? 100 : static_cast<int>(cpu * 100L / clock); }

std::vector<Fields> engines(const MonitorSample& s, bool each) {
    auto S = [&](const std::string& group, const char* f) { return monitor_sum(s, group + " AND " + in(f)); };
    const std::string all = "g GLOB 'engine_*'";
    auto d7 = [](long n) { return fmt("%7d", static_cast<int>(n)); };
    if (!each) {
        int p = busy(S(all, "clock_ticks"), S(all, "cpu_ticks"));
        Fields f{fmt("%2d", s.engines), d7(static_cast<long>(s.interval)), d7(static_cast<long>(s.xacts)),
                 d7(100 - p), d7(p)};
        for (const char* c : kEngineCounters) f.push_back(d7(S(all, c)));
        return {f};
    }
    std::vector<Fields> out;
    for (int e = 0; e < s.engines && e < 100; ++e) {
        const std::string g = "g = 'engine_" + std::to_string(e) + "'";
        int clock = S(g, "clock_ticks"), cpu = S(g, "cpu_ticks"), p = busy(clock, cpu);
        Fields f{"engine" + std::to_string(e), d7(static_cast<long>(s.interval)), d7(static_cast<long>(s.xacts)),
                 d7(clock), d7(cpu), d7(p), d7(100 - p)};
        for (const char* c : kEngineCounters) {
            int n = S(g, c);
            f.push_back(d7(n));
            f.push_back(fmt("%7.1f", n / s.interval));
            f.push_back(fmt("%7.1f", n * 100.0 / nz(S(all, c))));
        }
        out.push_back(f);
    }
    return out;
}

// ---- locks -------------------------------------------------------------

const std::string kRequests = "g = 'lock' AND (f GLOB 'granted*' OR f GLOB 'waited*')";

std::vector<Fields> lock_types(const MonitorSample& s) {
    static const std::pair<const char*, const char*> types[] = {
        {"EX-Table Requests", "EX_TAB"},    {"SH-Table Requests", "SH_TAB"},   {"EX-Intent Requests", "EX_INT"},
        {"SH-Intent Requests", "SH_INT"},   {"EX-Page Requests", "EX_PAGE"},   {"UP-Page Requests", "UP_PAGE"},
        {"SH-Page Requests", "SH_PAGE"},    {"EX-Address Requests", "EX_ADDR"}, {"SH-Address Requests", "SH_ADDR"}};
    int requests = monitor_sum(s, kRequests), deadlocks = monitor_sum(s, "g = 'lock' AND " + in("deadlocks"));
    auto S = [&](const char* g, const std::string& f) { return monitor_sum(s, "g = '" + std::string(g) + "' AND " + in(f)); };
    std::vector<Fields> out;
    auto add = [&](const char* label, int granted, int waited, int dead) {
        int n = granted + waited;
        Line line{s, k82, {label}};
        line.of(n, requests).of(granted, n).of(waited, n).of(dead, deadlocks);
        out.push_back(line.f);
    };
    for (const auto& [label, t] : types)
        add(label, S("lock", std::string("granted_") + t), S("lock", std::string("waited_") + t),
            S("lock", std::string("deadlock_") + t));
    add("Last Pg Locks Total", S("access", "locklastpage"), S("access", "lklastpg_wait"), 0);
    return out;
}

std::vector<Fields> lock_summary(const MonitorSample& s) {
    auto S = [&](const std::string& c) { return monitor_sum(s, "g = 'lock' AND " + c); };
    int requests = monitor_sum(s, kRequests);
    int ex = S(in("promoted_EX_TAB")), sh = S(in("promoted_SH_TAB")), promoted = nz(ex + sh);
    Line line{s, k82, {}};
    line.rates(requests).of(S("f GLOB 'waited*'"), requests).of(S(in("deadlocks")), requests);
    line.rates(promoted).of(ex, promoted).of(sh, promoted);
    return {line.f};
}

// ---- labelled parts of totals --------------------------------------------

// A line of a count (the sum under `where`, less the sum under `less`
// when given) and its percentage of the count of line `base` (-1: a
// total line, whose percentage is the number 100).
struct Part {
    const char* label;
    std::string where;
    int base = -1;
    std::string less = "";
};

std::vector<Fields> parts(const MonitorSample& s, const std::vector<Part>& list) {
    std::vector<int> n;
    std::vector<Fields> out;
    for (const Part& p : list) {
        int count = monitor_sum(s, p.where);
        if (!p.less.empty()) count -= monitor_sum(s, p.less);
        n.push_back(count);
        Line line{s, kWide, {p.label}};
        if (p.base < 0)
            line.total(count);
        else
            line.of(count, n[p.base]);
        out.push_back(line.f);
    }
    return out;
}

std::string xls(const std::string& c) { return "g = 'xls' AND " + c; }
std::string access(const std::string& c) { return "g = 'access' AND " + c; }

std::vector<Fields> log_parts(const MonitorSample& s) {
    const std::string log_lock = xls("f IN ('log_lock_granted', 'log_lock_waited')");
    return parts(s, {{"Total PLC Flushes", xls("f GLOB 'plc_flush_*'")},
                     {"Flushes by Full PLC", xls(in("plc_flush_full")), 0},
                     {"Flushes by End Transaction", xls(in("plc_flush_endxact")), 0},
                     {"Flushes by Change of Database", xls(in("plc_flush_xdeschange")), 0},
                     {"Flushes by System Log Record", xls(in("plc_flush_slr_xact")), 0},
                     {"Flushes by Other", xls("f IN ('plc_flush_unpin', 'plc_flush_discard', 'plc_flush_pmscan')"), 0},
                     {"Total PLC Semaphore Req", xls(in("plc_lock_calls"))},
                     {"Granted PLC Semaphore Req", xls(in("plc_lock_calls")), 6, xls(in("plc_lock_waits"))},
                     {"Waited PLC Semaphore Req", xls(in("plc_lock_waits")), 6},
                     {"Total Log Semaphore Req", log_lock},
                     {"Granted Log Semaphore Req", xls(in("log_lock_granted")), 9},
                     {"Waited Log Semaphore Req", xls(in("log_lock_waited")), 9}});
}

std::vector<Fields> log_summary(const MonitorSample& s) {
    Fields f{fmt("%8d", value_of(s, xls(in("plc_maxused"))))};
    for (const std::string& c :
         {"g GLOB 'buffer_*' AND " + in("log_page_writes"), access(in("log_page_allocations")),
          xls(in("plc_logrecs")), xls("f GLOB 'plc_flush_*'"), xls(in("plc_lock_calls")),
          xls("f IN ('log_lock_granted', 'log_lock_waited')")})
        f.push_back(fmt("%8d", monitor_sum(s, c)));
    return {f};
}

std::vector<Fields> sql_parts(const MonitorSample& s) {
    const std::string updates =
        "'deferred_update', 'direct_inplace_update', 'direct_notinplace_update', 'direct_expensive_update'";
    return parts(s, {{"Total SQL Activity", access("f IN ('ncinsert', 'cinsert', 'delete', " + updates + ")")},
                     {"Inserted Total", access("f IN ('ncinsert', 'cinsert')"), 0},
                     {"Updated Total", access("f IN (" + updates + ")"), 0},
                     {"Deleted Total", access(in("delete")), 0},
                     {"Inserted Heap Table", access(in("ncinsert")), 1},
                     {"Inserted Clustered Table", access(in("cinsert")), 1},
                     {"Updated Deferred", access(in("deferred_update")), 2},
                     {"Updated Direct In-place", access(in("direct_inplace_update")), 2},
                     {"Updated Direct Cheap", access(in("direct_notinplace_update")), 2},
                     {"Deleted Deferred", access(in("delete_deferred")), 3},
                     {"Deleted Direct", access(in("delete")), 3, access(in("delete_deferred"))}});
}

// The causes of task switches, each a part of the total; what they leave
// are the other causes.
std::vector<Fields> task_switches(const MonitorSample& s, bool second) {
    std::vector<Part> list{{"Total Task Switches", "g GLOB 'engine_*' AND " + in("context_switches")}};
    auto cause = [&](const char* label, const std::string& where) { list.push_back({label, where, 0}); };
    cause("Voluntary Yields", "g = 'kernel' AND " + in("yields"));
    cause("Cache Search Misses", "g GLOB 'buffer_*' AND " + in("bufread_read_waits"));
    cause("System Disk Writes", "g GLOB 'buffer_*' AND " + in("bufwrite_write_waits"));
    cause("I/O Pacing", "g GLOB 'buffer_*' AND " + in("bufwrite_pacing_waits"));
    cause("Logical Lock Contention", "g = 'lock' AND f GLOB 'waited_*' AND f NOT IN ('waited_EX_ADDR', 'waited_SH_ADDR')");
    cause("Address Lock Contention", "g = 'lock' AND f IN ('waited_EX_ADDR', 'waited_SH_ADDR')");
    if (second) cause("Latch Contention", "g = 'latch' AND f IN ('waited_EX_LATCH', 'waited_SH_LATCH', 'waited_NO_LATCH')");
    cause("Log Semaphore Contention", xls(in("log_lock_waited")));
    if (second) cause("PLC Lock Contention", xls(in("plc_lock_waits")));
    cause("Group Commit Sleeps", xls(in("group_commit_sleeps")));
    cause("Last Log Page Writes", xls(in("last_log_page_writes")));
    cause("Modify Conflicts", access(in("modify_conflicts")));
    cause("I/O Device Contention", "g GLOB 'disk_*' AND " + in("p_misses"));
    cause("Network Packet Received", "g GLOB 'engine_*' AND " + in("no_packets_received"));
    cause("Network Packet Sent", "g GLOB 'engine_*' AND " + in("no_packets_sent"));
    if (!second) cause("SYSINDEXES Lookup", "g = 'sysind' AND f GLOB 'ind_bufguess*'");
    std::vector<Fields> out = parts(s, list);
    int rest = monitor_sum(s, list[0].where);
    for (size_t i = 1; i < list.size(); ++i) rest -= monitor_sum(s, list[i].where);
    Line line{s, kWide, {"Other Causes"}};
    line.of(rest, monitor_sum(s, list[0].where));
    out.push_back(line.f);
    return out;
}

} // namespace

int monitor_sum(const MonitorSample& s, const std::string& where) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(s.db, ("SELECT COUNT(*), COALESCE(SUM(v), 0) FROM m WHERE " + where).c_str(), -1, &st,
                       nullptr);
    int rows = 0, sum = 0;
    if (st && sqlite3_step(st) == SQLITE_ROW) {
        rows = sqlite3_column_int(st, 0);
        sum = sqlite3_column_int(st, 1);
    }
    sqlite3_finalize(st);
    return rows == 0 ? 1 : sum;
}

const std::vector<std::string>& monitor_procedures() {
    static const std::vector<std::string> names = {"ZEPCACD", "ZEPCACS", "ZEPSDEVD", "ZEPENGD",
                                                   "ZEPENGS", "ZEPLCKD", "ZEPLCKS",  "ZEPLOGD",
                                                   "ZEPLOGS", "ZEPSQLD", "ZEPTSKD",  "ZEPTSK2"};
    return names;
}

std::vector<Fields> monitor_expected(const std::string& proc, const MonitorSample& s) {
    if (proc == "ZEPCACD" || proc == "ZEPCACS") return caches(s, proc == "ZEPCACD");
    if (proc == "ZEPSDEVD") return devices(s);
    if (proc == "ZEPENGD" || proc == "ZEPENGS") return engines(s, proc == "ZEPENGD");
    if (proc == "ZEPLCKD") return lock_types(s);
    if (proc == "ZEPLCKS") return lock_summary(s);
    if (proc == "ZEPLOGD") return log_parts(s);
    if (proc == "ZEPLOGS") return log_summary(s);
    if (proc == "ZEPSQLD") return sql_parts(s);
    if (proc == "ZEPTSKD" || proc == "ZEPTSK2") return task_switches(s, proc == "ZEPTSK2");
    return {};
}

std::string monitor_line(const Fields& fields) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "\t" : "\t\t") + f;
    return line + "\t";
}

} // namespace qvxtest
