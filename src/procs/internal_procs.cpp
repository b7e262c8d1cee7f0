// The internal procedures a script exit can name and their driver. The
// procedures share one term table, installed around every call, so that
// each keeps its lexed select texts and its term variables between runs.
#include "procs/internal_procs.h"

#include <memory>
#include <string>

#include "expr/select.h"
#include "expr/term.h"
#include "procs/monitor_procs.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr InternalProcEntry kProcs[] = {
    {"ZEPCACD", cacd_proc},  {"ZEPCACS", cacs_proc}, {"ZEPSDEVD", devd_proc}, {"ZEPENGD", engd_proc},
    {"ZEPENGS", engs_proc},  {"ZEPLCKD", lckd_proc}, {"ZEPLCKS", lcks_proc},  {"ZEPLOGD", logd_proc},
    {"ZEPLOGS", logs_proc},  {"ZEPSQLD", sqld_proc}, {"ZEPTSKD", tskd_proc},  {"ZEPTSK2", tsk2_proc},
};

// The procedures' shared term table, made on the first call.
std::unique_ptr<TermTable>& lx_sql_handler() {
    static std::unique_ptr<TermTable> table;
    return table;
}

// Installs the shared table for the life of a call.
class SqlScope {
public:
    SqlScope() {
        auto& t = lx_sql_handler();
        if (!t) t = std::make_unique<TermTable>();
        start_exec_sql(*t);
    }
    ~SqlScope() { end_exec_sql(*lx_sql_handler()); }
    SqlScope(const SqlScope&) = delete;
    SqlScope& operator=(const SqlScope&) = delete;
};

} // namespace

std::span<const InternalProcEntry> cur_func_tb() { return kProcs; }

std::optional<ResultChain> smon_curs_driver(std::string_view name) {
    const std::string n(name);
    if (expr_debug()) PRINT('t', "SMZB010", "cursor %s, len %d\n", n.c_str(), static_cast<int>(n.size()));
    for (const InternalProcEntry& e : cur_func_tb()) {
        if (name != e.name) continue;
        SqlScope scope;
        return e.proc();
    }
    PRINT('e', "SMON010", "Can't find a proc for cursor %s\n", n.c_str());
    return std::nullopt;
}

std::optional<ResultChain> exec_internal(std::string_view parms) {
    while (!parms.empty() && parms.back() == ' ') parms.remove_suffix(1);
    return smon_curs_driver(parms);
}

void reset_internal_procs() { lx_sql_handler().reset(); }

} // namespace qvx
