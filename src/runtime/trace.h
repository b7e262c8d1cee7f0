// Trace switches of the collector: the global switches and the ten debug
// levels. Set at start-up from trace-letter options, "COLL_DEBUG" and
// TRACE.CTL; every area tests the level of its own.
#pragma once

#include <cstdint>

namespace qvx {

extern int16_t trace_all;        // trace everything
extern int16_t trace_something;  // at least one trace is on
extern int16_t my_trace_all[10]; // debug levels 0..9, on when non-zero

inline bool debug_on(int level) { return level >= 0 && level < 10 && my_trace_all[level] != 0; }

// Clears every switch (tests).
void reset_trace_switches();

} // namespace qvx
