// The SQL activity procedure (sqld_proc) and the task switch procedures
// (tskd_proc, tsk2_proc): one line per category, each a part of its total.
#include <iterator>
#include <vector>

#include "procs/monitor_common.h"
#include "procs/monitor_procs.h"

namespace qvx {

namespace {

MonRead access(const char* field) {
    return {std::string("GROUPNAME = 'access' AND FLDNAME = '") + field + "'", field};
}

// A cause of task switches: its label, WHERE text and short name.
struct Cause {
    const char* label;
    const char* where;
    const char* name;
};

const Cause kCausesHead[] = {
    {"Voluntary Yields", "GROUPNAME = 'kernel' AND FLDNAME = 'yields'", "yields"},
    {"Cache Search Misses", "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'bufread_read_waits'",
     "bufread_read_waits"},
    {"System Disk Writes", "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'bufwrite_write_waits'",
     "bufwrite_write_waits"},
    {"I/O Pacing", "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'bufwrite_pacing_waits'",
     "bufwrite_pacing_waits"},
    {"Logical Lock Contention",
     "GROUPNAME = 'lock' AND FLDNAME LIKE 'waited_%' AND FLDNAME ^= 'waited_EX_ADDR' AND "
     "FLDNAME ^= 'waited_SH_ADDR'",
     "waited"},
    {"Address Lock Contention", "GROUPNAME = 'lock' AND ( FLDNAME = 'waited_EX_ADDR' OR FLDNAME = 'waited_SH_ADDR')",
     "waited_ADDR"},
};
const Cause kCausesLog = {"Log Semaphore Contention",
                          "GROUPNAME = 'xls' AND FLDNAME = 'log_lock_waited'", "log_lock_waited"};
const Cause kCausesTail[] = {
    {"Group Commit Sleeps", "GROUPNAME = 'xls' AND FLDNAME = 'group_commit_sleeps'",
     "group_commit_sleeps"},
    {"Last Log Page Writes", "GROUPNAME = 'xls' AND FLDNAME = 'last_log_page_writes'",
     "last_log_page_writes"},
    {"Modify Conflicts", "GROUPNAME = 'access' AND FLDNAME = 'modify_conflicts'",
     "modify_conflicts"},
    {"I/O Device Contention", "GROUPNAME LIKE 'disk_%' AND FLDNAME = 'p_misses'", "p_misses"},
    {"Network Packet Received",
     "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'no_packets_received'", "no_packets_received"},
    {"Network Packet Sent", "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'no_packets_sent'",
     "no_packets_sent"},
};
const Cause kSysindexes = {"SYSINDEXES Lookup",
                           "GROUPNAME = 'sysind' AND FLDNAME LIKE 'ind_bufguess%'", "ind_bufguess"};
const Cause kLatch = {"Latch Contention",
                      "GROUPNAME = 'latch' AND ( FLDNAME = 'waited_EX_LATCH' OR "
                      "FLDNAME = 'waited_SH_LATCH' OR FLDNAME = 'waited_NO_LATCH')",
                      "latch"};
const Cause kPlcLock = {"PLC Lock Contention",
                        "GROUPNAME = 'xls' AND FLDNAME LIKE 'plc_lock_waits'", "plc_lock_waits"};

// The total, each cause and the rest ("Other Causes").
std::optional<ResultChain> task_switches(MonRun& run, const std::vector<Cause>& causes) {
    if (!mon_common_inputs(run)) return std::nullopt;
    std::vector<MonRead> reads{
        {"GROUPNAME LIKE 'engine_%' AND FLDNAME = 'context_switches'", "context_switches"}};
    for (const Cause& c : causes) reads.push_back({c.where, c.name});
    std::vector<int> n(reads.size());
    if (!mon_sums(run, reads.data(), reads.size(), n.data())) return std::nullopt;
    std::vector<MonPart> parts{{"Total Task Switches", n[0], -1}};
    int other = n[0];
    for (size_t i = 0; i < causes.size(); ++i) {
        parts.push_back({causes[i].label, n[i + 1], n[0]});
        other -= n[i + 1];
    }
    parts.push_back({"Other Causes", other, n[0]});
    ResultChain chain;
    mon_parts(run, kStyleWide, parts.data(), parts.size(), chain);
    return chain;
}

} // namespace

std::optional<ResultChain> sqld_proc() {
    MonRun run("SQLD");
    int engines = 0;
    if (!mon_numeng(run, engines) || !mon_common_inputs(run)) return std::nullopt;
    const std::string updates =
        "FLDNAME = 'deferred_update' OR FLDNAME = 'direct_inplace_update' OR "
        "FLDNAME = 'direct_notinplace_update' OR FLDNAME = 'direct_expensive_update'";
    const MonRead reads[] = {
        {"GROUPNAME = 'access' AND ( FLDNAME = 'ncinsert' OR FLDNAME = 'cinsert' OR " + updates +
             " OR FLDNAME = 'delete')",
         "total"},
        {"GROUPNAME = 'access' AND ( FLDNAME = 'ncinsert' OR FLDNAME = 'cinsert')", "inserted"},
        {"GROUPNAME = 'access' AND ( " + updates + ")", "updated"},
        access("delete"),
        access("ncinsert"),
        access("cinsert"),
        access("deferred_update"),
        access("direct_inplace_update"),
        access("direct_notinplace_update"),
        access("delete_deferred"),
    };
    int n[std::size(reads)];
    if (!mon_sums(run, reads, std::size(reads), n)) return std::nullopt;
    const MonPart parts[] = {
        {"Total SQL Activity", n[0], -1},
        {"Inserted Total", n[1], n[0]},
        {"Updated Total", n[2], n[0]},
        {"Deleted Total", n[3], n[0]},
        {"Inserted Heap Table", n[4], n[1]},
        {"Inserted Clustered Table", n[5], n[1]},
        {"Updated Deferred", n[6], n[2]},
        {"Updated Direct In-place", n[7], n[2]},
        {"Updated Direct Cheap", n[8], n[2]},
        {"Deleted Deferred", n[9], n[3]},
        {"Deleted Direct", n[3] - n[9], n[3]},
    };
    ResultChain chain;
    mon_parts(run, kStyleWide, parts, std::size(parts), chain);
    return chain;
}

std::optional<ResultChain> tskd_proc() {
    MonRun run("TSKD");
    std::vector<Cause> causes;
    causes.reserve(std::size(kCausesHead) + std::size(kCausesTail) + 2);
    for (const Cause& c : kCausesHead) causes.push_back(c);
    causes.push_back(kCausesLog);
    for (const Cause& c : kCausesTail) causes.push_back(c);
    causes.push_back(kSysindexes);
    return task_switches(run, causes);
}

std::optional<ResultChain> tsk2_proc() {
    MonRun run("TSKD");
    std::vector<Cause> causes;
    causes.reserve(std::size(kCausesHead) + std::size(kCausesTail) + 3);
    for (const Cause& c : kCausesHead) causes.push_back(c);
    causes.push_back(kLatch);
    causes.push_back(kCausesLog);
    causes.push_back(kPlcLock);
    for (const Cause& c : kCausesTail) causes.push_back(c);
    return task_switches(run, causes);
}

} // namespace qvx
