// Requests to the scheduling loop that lower layers raise: the stop time
// COLLECT.CTL gives, a new reading of TRACE.CTL, a fresh process.
#pragma once

namespace qvx {

// Relative time at which the collector stops by itself (COLLECT.CTL
// "go_home"); 0 when not set.
extern long go_home_time;
// Set when the agent asked for tracing to be read again ("RETRACE").
extern bool retrace_request;
// Set by the database layer when a reconnection needs a fresh process.
extern bool restart_request;

// Forgets all three (tests).
void reset_run_requests();

} // namespace qvx
