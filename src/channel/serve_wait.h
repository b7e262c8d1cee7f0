// Request service group: waiting for the agent between polls of the
// request queue. The "upa" service sleeps here instead of a plain sleep,
// so that a request that arrives is taken at once rather than at the end
// of the nap.
#pragma once

#include "channel/comm_dispatch.h"

namespace qvx {

// Waits up to seconds for a request on the collector end of the channel
// (or for a signal). True when a request may be waiting, false after the
// time or a signal. Without an open channel it is a plain interruptible
// sleep.
bool wait_for_request(comm_anchor* anchor, double seconds);

} // namespace qvx
