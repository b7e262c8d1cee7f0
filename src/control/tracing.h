// TRACE.CTL: switches tracing on for named cursors.
#pragma once

namespace qvx {

// Reads TRACE.CTL; 0 when absent or read without errors, 1 after errors.
int parse_trace();

// Clears the trace, traced and tracem switches of every cursor (show_row
// and show_cursor stay) and the global switches trace_all and
// trace_something, and reads TRACE.CTL again. Called by the scheduling
// loop after a "RETRACE" request; the request handling reports the
// request itself ("Reseting trace."), this function adds no message.
void reset_tracing();

} // namespace qvx
