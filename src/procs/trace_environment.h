// The trace settings handed to fetch-exit programs through the
// environment: LMX_TRC1, LMX_VARPREFIX and LMX_TRC1_LOG.
#pragma once

namespace qvx {

// Once per process: LMX_TRC1 ("ERROR" when unset), LMX_VARPREFIX ("%"
// when unset) and LMX_TRC1_LOG (the exits' log and inventory file names
// when "QVX_COLL_EXE_TRC1" is set, else "/dev/null") put into the
// collector's environment, which every exit inherits. traced: the names
// are traced (fxr4050, fxr4051, fxr4052).
void prepare_trace_environment(bool traced);

// The next call prepares again (tests).
void reset_trace_environment();

} // namespace qvx
