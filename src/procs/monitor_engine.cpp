// The device and engine procedures: one line per SYSDEV device
// (devd_proc), one per engine (engd_proc) and one for all engines
// (engs_proc).
#include <array>
#include <cstdint>
#include <cstdio>

#include "expr/select.h"
#include "model/cursor_list.h"
#include "procs/monitor_common.h"
#include "procs/monitor_procs.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The current SYSDEV row's line against the reads and writes of all disks.
bool device_line(MonRun& run, int tot1, ResultChain& chain) {
    struct Col {
        const char* column;
        const char* variable;
        int id;
    };
    static const Col cols[] = {{"DEVNAME", "devname", 135},
                               {"OSNAME", "osname", 140},
                               {"DISKMON", "diskmon", 145}};
    std::string text[3];
    for (int i = 0; i < 3; ++i) {
        const char* v = nullptr;
        if (select_column(cols[i].column, "SYSDEV", &v, kTargetText, cols[i].variable, nullptr)) {
            PRINT('e', run.id(cols[i].id).c_str(), "Can't get column SYSDEV.%s\n", cols[i].column);
            return false;
        }
        text[i] = v ? v : "";
    }
    static const char* const names[] = {"total_reads", "total_writes", "p_hits", "p_misses"};
    int n[4];
    run.next_id = 190;
    for (int i = 0; i < 4; ++i) {
        std::optional<int> v =
            mon_sum(run, std::string("GROUPNAME = diskmon AND FLDNAME = '") + names[i] + "'", names[i]);
        if (!v) return false;
        n[i] = *v;
    }
    int rw = n[0] + n[1];
    MonLine line(run, kStyle82);
    line.text(text[0]).text(text[1]);
    line.group(n[3], rw).group(n[2], rw).group(rw, tot1).group(n[1], rw).group(n[0], rw);
    line.to(chain);
    return true;
}

// The eight engine counters, in their line order.
constexpr std::array<const char*, 8> kEngineCounters = {
    "engine_sleeps",   "context_switches",    "max_outstanding_AIOs_engine",
    "total_dpoll_completed_aios", "no_packets_received", "no_bytes_received",
    "no_packets_sent", "no_bytes_sent"};

// Reads the engine counters (and with ticks, clock_ticks and cpu_ticks
// first) under `group`; false: failed.
bool engine_counters(MonRun& run, const std::string& group, bool ticks, int* out) {
    int k = 0;
    if (ticks)
        for (const char* t : {"clock_ticks", "cpu_ticks"}) {
            std::optional<int> v = mon_sum(run, group + "FLDNAME = '" + t + "'", t);
            if (!v) return false;
            out[k++] = *v;
        }
    for (const char* c : kEngineCounters) {
        std::optional<int> v = mon_sum(run, group + "FLDNAME = '" + c + "'", c);
        if (!v) return false;
        out[k++] = *v;
    }
    return true;
}

// tck2 * 100 / tck1, or 100 when tck1 is below 1.
int busy_percent(const MonRun& run, int tck1, int tck2, const char* cursor) {
    if (tck1 >= 1) return static_cast<int>(static_cast<long>(tck2) * 100 / tck1);
    PRINT('w', run.id(455).c_str(),
          "In cursor %s there is an attempt to divide by tck1=0: the quotient is assumed to be 1.\n",
          cursor);
    return 100;
}

// The engine name the per-engine WHERE texts compare GROUPNAME with.
std::array<char, 32> tmp_grp_text{};

bool engine_line(MonRun& run, int engine, const int* totals, ResultChain& chain) {
    std::snprintf(tmp_grp_text.data(), tmp_grp_text.size(), "engine_%d", engine);
    if (declare_C_var("tmp_grp", 1, tmp_grp_text.data()) != 0) {
        PRINT('e', run.id(395).c_str(), "tmp_grp declaration failed\n");
        return false;
    }
    int n[10];
    run.next_id = 400;
    if (!engine_counters(run, "GROUPNAME = tmp_grp AND ", true, n)) return false;
    int busy = busy_percent(run, n[0], n[1], "ZEPENGD");
    MonLine line(run, kStyle82);
    char label[32];
    std::snprintf(label, sizeof label, "%s%i", "engine", engine);
    line.text(label);
    line.integer("%7d", static_cast<long>(run.interval)).integer("%7d", static_cast<long>(run.xacts));
    line.integer("%7d", n[0]).integer("%7d", n[1]).integer("%7d", busy).integer("%7d", 100 - busy);
    for (size_t i = 0; i < kEngineCounters.size(); ++i) {
        line.integer("%7d", n[2 + i]).num("%7.1f", n[2 + i] / run.interval);
        line.num("%7.1f", n[2 + i] * 100.0 / nonzero(totals[i]));
    }
    line.to(chain);
    return true;
}

} // namespace

std::optional<ResultChain> devd_proc() {
    MonRun run("DEVD");
    if (!mon_common_inputs(run)) return std::nullopt;
    curs* dev = mon_cursor(run, "SYSDEV");
    if (!dev) return std::nullopt;
    std::optional<int> tot1 = mon_sum(
        run, "GROUPNAME LIKE 'disk_%' AND ( FLDNAME = 'total_reads' OR FLDNAME = 'total_writes')",
        "tot1");
    if (!tot1) return std::nullopt;
    return mon_walk(run, *dev, [&](ResultChain& chain) { return device_line(run, *tot1, chain); });
}

std::optional<ResultChain> engd_proc() {
    MonRun run("ENGD");
    int engines = 0;
    if (!mon_common_inputs(run) || !mon_numeng(run, engines)) return std::nullopt;
    if (engines == 0) {
        PRINT('e', run.id(25).c_str(), "0 engines\n");
        return std::nullopt;
    }
    int totals[8];
    if (!engine_counters(run, "GROUPNAME LIKE 'engine_%' AND ", false, totals)) return std::nullopt;
    ResultChain chain;
    for (int i = 0; i < engines; ++i) {
        if (i == 100) {
            PRINT('t', run.id(390).c_str(),
                  "Stopped selecting data for cursor ZEPENGD since number of engines > 100\n");
            break;
        }
        if (!engine_line(run, i, totals, chain)) return std::nullopt;
    }
    return chain;
}

std::optional<ResultChain> engs_proc() {
    MonRun run("ENGS");
    int engines = 0;
    if (!mon_common_inputs(run) || !mon_numeng(run, engines)) return std::nullopt;
    int n[10];
    if (!engine_counters(run, "GROUPNAME LIKE 'engine_%' AND ", true, n)) return std::nullopt;
    int p = busy_percent(run, n[0], n[1], "ZEPENGS");
    ResultChain chain;
    MonLine line(run, kStyle82);
    line.integer("%2d", engines);
    line.integer("%7d", static_cast<long>(run.interval)).integer("%7d", static_cast<long>(run.xacts));
    line.integer("%7d", 100 - p).integer("%7d", p);
    for (int i = 2; i < 10; ++i) line.integer("%7d", n[i]);
    line.to(chain);
    return chain;
}

} // namespace qvx
