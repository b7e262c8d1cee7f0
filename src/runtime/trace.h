// Trace switches of the collector: the global switches and the ten debug
// levels. Set at start-up from trace-letter options, "COLL_DEBUG" and
// TRACE.CTL; every area tests the level of its own.
#pragma once

#include <string_view>

#include <cstdint>

namespace qvx {

extern int16_t trace_all;        // trace everything
extern int16_t trace_something;  // at least one trace is on
extern int16_t my_trace_all[10]; // debug levels 0..9, on when non-zero

inline bool debug_on(int level) { return level >= 0 && level < 10 && my_trace_all[level] != 0; }

// Clears every switch (tests).
void reset_trace_switches();

// Debug-level setter for "-ddd..." arguments, the "debug" option and
// COLL_DEBUG: a leading "-" is skipped; a lower-case "d" next switches
// trace_all and trace_something on; the characters after that first one
// set debug levels 0..9 in order to their distance from "c" after
// lower-casing ("d" = 1, "z" = 23), anything else and missing positions 0.
void set_debug_levels(std::string_view text);

} // namespace qvx
