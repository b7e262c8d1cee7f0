// The data cache procedures: one line per cache of CACHEMAP (cacd_proc)
// and one line of all caches together (cacs_proc).
#include <cstdint>

#include "expr/select.h"
#include "model/cursor_list.h"
#include "procs/monitor_common.h"
#include "procs/monitor_procs.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

struct CacheFigures {
    int read = 0, hit = 0, miss = 0, tot2 = 0, hit2 = 0, hit3 = 0, hit4 = 0, unkeep = 0;
    int tot4 = 0, hit5 = 0, denied = 0, tot5 = 0, hit6 = 0;
};

// The cache counters under `group` (a GROUPNAME condition followed by AND).
bool read_cache(MonRun& run, const std::string& group, CacheFigures& f) {
    struct Read {
        int CacheFigures::*field;
        const char* cond;
        const char* name;
    };
    static const Read reads[] = {
        {&CacheFigures::read, "FLDNAME = 'bufsearch_calls'", "read"},
        {&CacheFigures::hit, "FLDNAME = 'bufsearch_finds'", "hit"},
        {&CacheFigures::tot2, "FLDNAME LIKE 'bufgrab_%k'", "tot2"},
        {&CacheFigures::hit2, "FLDNAME LIKE 'bufgrab_dirty_%'", "hit2"},
        {&CacheFigures::hit3, "FLDNAME = 'bufunkeep_lru'", "hit3"},
        {&CacheFigures::hit4, "FLDNAME = 'bufunkeep_mru'", "hit4"},
        {&CacheFigures::tot4, "FLDNAME = 'prefetch_req'", "tot4"},
        {&CacheFigures::hit5,
         "( FLDNAME = 'prefetch_as_requested' OR FLDNAME = 'prefetch_page_realigned')", "hit5"},
        {&CacheFigures::tot5, "FLDNAME LIKE 'bufgrab_%' AND FLDNAME ^= 'bufgrab_2k'", "tot5"},
        {&CacheFigures::hit6, "FLDNAME LIKE 'bufgrab_ref_%K' AND FLDNAME ^= 'bufgrab_ref_2K'",
         "hit6"},
    };
    for (const Read& r : reads) {
        std::optional<int> v = mon_sum(run, group + r.cond, r.name);
        if (!v) return false;
        f.*r.field = *v;
    }
    f.miss = f.read - f.hit;
    f.read = nonzero(f.read);
    f.tot2 = nonzero(f.tot2);
    f.unkeep = nonzero(f.hit3 + f.hit4);
    f.tot4 = nonzero(f.tot4);
    f.denied = f.tot4 - f.hit5;
    return true;
}

// The 34 numeric fields of one cache (or of all), tot5run the running total.
void cache_fields(MonLine& line, const CacheFigures& f, int tot5run) {
    line.rates(f.read);
    line.group(f.hit, f.read).group(f.miss, f.read);
    line.group(f.hit3, f.unkeep).group(f.hit4, f.unkeep);
    line.group(f.hit5, f.tot4).group(f.denied, f.tot4);
    line.rates(tot5run);
    line.group(f.hit6, tot5run);
}

// The current CACHEMAP row's line; false: failed.
bool cache_line(MonRun& run, int& tot5run, ResultChain& chain) {
    const char* cache_name = nullptr;
    const char* buffer_name = nullptr;
    if (select_column("CACHENAME", "CACHEMAP", &cache_name, kTargetText, "cache_name", nullptr)) {
        PRINT('e', run.id(135).c_str(), "Can't get column CACHEMAP.CACHENAME\n");
        return false;
    }
    std::string name = cache_name ? cache_name : "";
    if (select_column("BUFFERNAME", "CACHEMAP", &buffer_name, kTargetText, "buffer_name",
                      nullptr)) {
        PRINT('e', run.id(140).c_str(), "Can't get column CACHEMAP.BUFFERNAME\n");
        return false;
    }
    run.next_id = 160;
    CacheFigures f;
    if (!read_cache(run, "GROUPNAME = buffer_name AND ", f)) return false;
    tot5run += f.tot5;
    MonLine line(run, kStyle51);
    line.text(name);
    cache_fields(line, f, tot5run);
    line.to(chain);
    return true;
}

} // namespace

std::optional<ResultChain> cacd_proc() {
    MonRun run("CACD");
    if (!mon_common_inputs(run)) return std::nullopt;
    curs* map = mon_cursor(run, "CACHEMAP");
    if (!map) return std::nullopt;
    int tot5run = 0;
    return mon_walk(run, *map, [&](ResultChain& chain) { return cache_line(run, tot5run, chain); });
}

std::optional<ResultChain> cacs_proc() {
    MonRun run("CACS");
    if (!mon_common_inputs(run)) return std::nullopt;
    CacheFigures f;
    if (!read_cache(run, "GROUPNAME LIKE 'buffer_%' AND ", f)) return std::nullopt;
    ResultChain chain;
    MonLine line(run, kStyle51);
    cache_fields(line, f, f.tot5);
    line.to(chain);
    return chain;
}

} // namespace qvx
