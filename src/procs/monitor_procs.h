// The monitor-counter procedures: derived metrics (rates per second and
// per transaction, counts, percentages) computed from the raw counters
// that the cursors SYSMON, ZEPV, CACHEMAP, SYSDEV and SYSCCONF collected,
// read with the SQL-like select. Each answers its tab-separated output
// lines, or nothing when it failed. They run with the procedures' term
// table installed (smon_curs_driver).
#pragma once

#include <optional>

#include "expr/select_walk.h"

namespace qvx {

std::optional<ResultChain> cacd_proc();
std::optional<ResultChain> cacs_proc();
std::optional<ResultChain> devd_proc();
std::optional<ResultChain> engd_proc();
std::optional<ResultChain> engs_proc();
std::optional<ResultChain> lckd_proc();
std::optional<ResultChain> lcks_proc();
std::optional<ResultChain> logd_proc();
std::optional<ResultChain> logs_proc();
std::optional<ResultChain> sqld_proc();
std::optional<ResultChain> tskd_proc();
std::optional<ResultChain> tsk2_proc();

} // namespace qvx
