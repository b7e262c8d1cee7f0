// Placeholder definitions of the monitor-counter procedures until they are
// built: each answers no chain, so a cursor naming one gets no rows.
#include "procs/monitor_procs.h"

namespace qvx {

std::optional<ResultChain> cacd_proc() { return std::nullopt; }
std::optional<ResultChain> cacs_proc() { return std::nullopt; }
std::optional<ResultChain> devd_proc() { return std::nullopt; }
std::optional<ResultChain> engd_proc() { return std::nullopt; }
std::optional<ResultChain> engs_proc() { return std::nullopt; }
std::optional<ResultChain> lckd_proc() { return std::nullopt; }
std::optional<ResultChain> lcks_proc() { return std::nullopt; }
std::optional<ResultChain> logd_proc() { return std::nullopt; }
std::optional<ResultChain> logs_proc() { return std::nullopt; }
std::optional<ResultChain> sqld_proc() { return std::nullopt; }
std::optional<ResultChain> tskd_proc() { return std::nullopt; }
std::optional<ResultChain> tsk2_proc() { return std::nullopt; }

} // namespace qvx
