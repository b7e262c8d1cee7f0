// The scheduling loop: windows and intervals of the distributors, the
// collection pass over the cursors, the request-queue service and the
// sleep until the next due time.
#pragma once

#include <string>

#include "control/cursor.h"
#include "control/distributor.h"

namespace qvx {

// Relative time at which the collector stops by itself (COLLECT.CTL
// "go_home"); 0 when not set.
extern long go_home_time;

// Set when the agent asked for tracing to be read again ("RETRACE").
extern bool retrace_request;

// Set by the database layer when a reconnection needs a fresh process.
extern bool restart_request;

// The loop; returns only by ending the process.
[[noreturn]] void schedule();

// One collection pass; returns the number of failed cursors (1 when
// interrupted by a stop request).
int collect();

// The cursor's current or next window (skipped for demand, held and
// once-with-rows cursors).
void set_window_c(curs& cursor, long now);

// The action of a distributor without a special name.
int distribute(distrib& d, long time);

// Seconds to sleep at the end of a pass: sleep_time, lowered to the time
// left until the earliest next_time of the distributors; 0 when one is due.
long sleep_seconds(long now);

// Forgets the loop's process-wide state (tests).
void reset_schedule();

} // namespace qvx
