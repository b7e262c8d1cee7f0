// Transport group: the dispatcher qvxcomm, the one entry to the channel
// between the collector and the monitoring agent. It picks the transport
// (COLL_USESHM, see comm_uses_shm) and hands each call to it: the
// shared-memory transport (comm_shm.h) or the named pipes (comm_pipe.h),
// which are peers below it.
//
// The request service (serve_*) and the probe (probe*) reach the channel
// through this header only; the anchor, the blocks and the words come with
// it from comm_anchor.h.
//
// An invalid word leaves error 12 in the anchor, when there is one.
#pragma once

#include <string>

#include "channel/comm_anchor.h"

namespace qvx {

// Code of the call in progress; 0 when none.
extern int qvxcomm_locked;

// The one entry point: "init", "initc", "get", "put", "term", "shut",
// "initsm", in any case. "term" deletes the anchor. A call made while
// another is in progress (from a signal handler) waits for it up to 30
// seconds; "shut" neither waits nor keeps the lock.
CommResult qvxcomm(const std::string& function, comm_anchor* anchor = nullptr,
                   const char* list = nullptr);

// Waits up to seconds, without taking it, for a request to reach the
// collector end of the anchor, or for a signal. unavailable, at once, when
// the transport gives no way to wait: no collector anchor, or shared
// memory not yet established.
RequestWait comm_wait_for_request(comm_anchor* anchor, double seconds);

// Forgets the lock (tests).
void reset_comm_dispatch();

} // namespace qvx
