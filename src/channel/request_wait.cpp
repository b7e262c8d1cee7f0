#include "channel/request_wait.h"

#include "channel/shm_channel.h"
#include "runtime/signals.h"

namespace qvx {

bool wait_for_request(comm_anchor* anchor, double seconds) {
    const bool collector = anchor && anchor->anchor_type == 'C';
    if (comm_uses_shm()) {
        // Shared memory: wait on the request segment's semaphores without
        // taking the request; the get that follows takes it.
        if (collector) {
            switch (shm_wait_for_request(seconds)) {
            case RequestWait::posted: return true;
            case RequestWait::timeout:
            case RequestWait::signal: return false;
            case RequestWait::unavailable: break;  // not established: a plain nap
            }
        }
        interruptible_wait(seconds, -1);
        return false;
    }
    // Pipe channel: the request pipe becomes readable when an agent writes.
    const int fd = collector && anchor->coll_fd ? anchor->coll_fd.get() : -1;
    return interruptible_wait(seconds, fd) == WaitEnd::ready;
}

} // namespace qvx
