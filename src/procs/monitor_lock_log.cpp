// The lock and log procedures: lock requests by type (lckd_proc) and in
// total (lcks_proc), the log's flushes and semaphores by category
// (logd_proc) and its totals on one line (logs_proc).
#include <iterator>

#include "procs/monitor_common.h"
#include "procs/monitor_procs.h"

namespace qvx {

namespace {

const char* const kAllRequests =
    "GROUPNAME = 'lock' AND ( FLDNAME LIKE 'granted%' OR FLDNAME LIKE 'waited%'        )";

MonRead lock_read(const char* group, const std::string& field) {
    return {std::string("GROUPNAME = '") + group + "' AND FLDNAME = '" + field + "'", nullptr};
}

// label, total (granted + waited) of all, granted and waited of the
// total, deadlocks of all deadlocks.
void lock_line(const MonRun& run, const char* label, int granted, int waited, int deadlocks,
               int requests, int all_deadlocks, ResultChain& chain) {
    int total = granted + waited;
    MonLine line(run, kStyle82);
    line.text(label).group(total, requests);
    line.group(granted, total).group(waited, total).group(deadlocks, all_deadlocks);
    line.to(chain);
}

} // namespace

std::optional<ResultChain> lckd_proc() {
    MonRun run("LCKD");
    if (!mon_common_inputs(run)) return std::nullopt;
    MonRead totals[] = {{kAllRequests, "total"}, lock_read("lock", "deadlocks")};
    totals[1].name = "deadlocks";
    int all[2];
    if (!mon_sums(run, totals, 2, all)) return std::nullopt;
    static const char* const types[] = {"EX_TAB",  "SH_TAB",  "EX_INT",  "SH_INT", "EX_PAGE",
                                        "UP_PAGE", "SH_PAGE", "EX_ADDR", "SH_ADDR"};
    static const char* const labels[] = {
        "EX-Table Requests",  "SH-Table Requests", "EX-Intent Requests",
        "SH-Intent Requests", "EX-Page Requests",  "UP-Page Requests",
        "SH-Page Requests",   "EX-Address Requests", "SH-Address Requests"};
    ResultChain chain;
    for (size_t t = 0; t < std::size(types); ++t) {
        std::string ty = types[t];
        MonRead reads[] = {lock_read("lock", "granted_" + ty), lock_read("lock", "waited_" + ty),
                           lock_read("lock", "deadlock_" + ty)};
        reads[0].name = "granted";
        reads[1].name = "waited";
        reads[2].name = "deadlock";
        int n[3];
        if (!mon_sums(run, reads, 3, n)) return std::nullopt;
        lock_line(run, labels[t], n[0], n[1], n[2], all[0], all[1], chain);
    }
    MonRead last[] = {lock_read("access", "locklastpage"), lock_read("access", "lklastpg_wait")};
    last[0].name = "locklastpage";
    last[1].name = "lklastpg_wait";
    int n[2];
    if (!mon_sums(run, last, 2, n)) return std::nullopt;
    lock_line(run, "Last Pg Locks Total", n[0], n[1], 0, all[0], all[1], chain);
    return chain;
}

std::optional<ResultChain> lcks_proc() {
    MonRun run("LCKS");
    if (!mon_common_inputs(run)) return std::nullopt;
    const MonRead reads[] = {
        {kAllRequests, "total"},
        {"GROUPNAME = 'lock' AND FLDNAME LIKE 'waited%'", "waited"},
        {"GROUPNAME = 'lock' AND FLDNAME = 'deadlocks'", "deadlocks"},
        {"GROUPNAME = 'lock' AND FLDNAME = 'promoted_EX_TAB'", "promoted_EX_TAB"},
        {"GROUPNAME = 'lock' AND FLDNAME = 'promoted_SH_TAB'", "promoted_SH_TAB"},
    };
    int n[5];
    if (!mon_sums(run, reads, 5, n)) return std::nullopt;
    int promotions = nonzero(n[3] + n[4]);
    MonLine line(run, kStyle82);
    line.rates(n[0]).group(n[1], n[0]).group(n[2], n[0]);
    line.rates(promotions).group(n[3], promotions).group(n[4], promotions);
    ResultChain chain;
    line.to(chain);
    return chain;
}

std::optional<ResultChain> logd_proc() {
    MonRun run("LOGD");
    if (!mon_common_inputs(run)) return std::nullopt;
    auto xls = [](const std::string& cond, const char* name) {
        return MonRead{"GROUPNAME = 'xls' AND " + cond, name};
    };
    const MonRead reads[] = {
        xls("FLDNAME LIKE 'plc_flush_%'", "plc_flush"),
        xls("FLDNAME = 'plc_lock_calls'", "plc_lock_calls"),
        xls("( FLDNAME = 'log_lock_granted' OR FLDNAME = 'log_lock_waited')", "log_lock"),
        xls("FLDNAME = 'plc_flush_full'", "plc_flush_full"),
        xls("FLDNAME = 'plc_flush_endxact'", "plc_flush_endxact"),
        xls("FLDNAME = 'plc_flush_xdeschange'", "plc_flush_xdeschange"),
        xls("FLDNAME = 'plc_flush_slr_xact'", "plc_flush_slr_xact"),
        xls("( FLDNAME = 'plc_flush_unpin' OR FLDNAME = 'plc_flush_discard' OR "
            "FLDNAME = 'plc_flush_pmscan')",
            "plc_flush_other"),
        xls("FLDNAME = 'plc_lock_waits'", "plc_lock_waits"),
        xls("FLDNAME = 'log_lock_granted'", "log_lock_granted"),
        xls("FLDNAME = 'log_lock_waited'", "log_lock_waited"),
    };
    int n[std::size(reads)];
    if (!mon_sums(run, reads, std::size(reads), n)) return std::nullopt;
    const MonPart parts[] = {
        {"Total PLC Flushes", n[0], -1},
        {"Flushes by Full PLC", n[3], n[0]},
        {"Flushes by End Transaction", n[4], n[0]},
        {"Flushes by Change of Database", n[5], n[0]},
        {"Flushes by System Log Record", n[6], n[0]},
        {"Flushes by Other", n[7], n[0]},
        {"Total PLC Semaphore Req", n[1], -1},
        {"Granted PLC Semaphore Req", n[1] - n[8], n[1]},
        {"Waited PLC Semaphore Req", n[8], n[1]},
        {"Total Log Semaphore Req", n[2], -1},
        {"Granted Log Semaphore Req", n[9], n[2]},
        {"Waited Log Semaphore Req", n[10], n[2]},
    };
    ResultChain chain;
    mon_parts(run, kStyleWide, parts, std::size(parts), chain);
    return chain;
}

std::optional<ResultChain> logs_proc() {
    MonRun run("LOGS");
    std::optional<int> maxused =
        mon_value(run, "GROUPNAME = 'xls' AND FLDNAME = 'plc_maxused'", "plc_maxused");
    if (!maxused) return std::nullopt;
    const MonRead reads[] = {
        {"GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'log_page_writes'", "log_page_writes"},
        {"GROUPNAME = 'access' AND FLDNAME = 'log_page_allocations'", "log_page_allocations"},
        {"GROUPNAME = 'xls' AND FLDNAME = 'plc_logrecs'", "plc_logrecs"},
        {"GROUPNAME = 'xls' AND FLDNAME LIKE 'plc_flush_%'", "plc_flush"},
        {"GROUPNAME = 'xls' AND FLDNAME = 'plc_lock_calls'", "plc_lock_calls"},
        {"GROUPNAME = 'xls' AND ( FLDNAME = 'log_lock_granted' OR FLDNAME = 'log_lock_waited')",
         "log_lock"},
    };
    int n[std::size(reads)];
    if (!mon_sums(run, reads, std::size(reads), n)) return std::nullopt;
    MonLine line(run, kStyleWide);
    line.integer("%8d", *maxused);
    for (int v : n) line.integer("%8d", v);
    ResultChain chain;
    line.to(chain);
    return chain;
}

} // namespace qvx
