// The scheduling loop: windows and intervals of the distributors, the
// collection pass over the cursors, the request-queue service and the
// sleep until the next due time.
#pragma once

#include <string>

#include "model/cursor.h"
#include "model/distributor.h"
#include "runtime/run_requests.h"

namespace qvx {

// The loop; returns only by ending the process.
[[noreturn]] void schedule();

// One collection pass; returns the number of failed cursors (1 when
// interrupted by a stop request).
int collect();

// The action of a distributor without a special name.
int distribute(distrib& d, long time);

// Seconds to sleep at the end of a pass: sleep_time, lowered to the time
// left until the earliest next_time of the distributors; 0 when one is due.
long sleep_seconds(long now);

// Forgets the loop's process-wide state (tests).
void reset_schedule();

} // namespace qvx
