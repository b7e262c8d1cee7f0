#include "channel/request_wait.h"

#include "runtime/signals.h"

namespace qvx {

bool wait_for_request(comm_anchor* anchor, double seconds) {
    // Pipe channel: the request pipe becomes readable when an agent writes.
    const int fd = anchor && anchor->anchor_type == 'C' && anchor->coll_fd ? anchor->coll_fd.get() : -1;
    return interruptible_wait(seconds, fd) == WaitEnd::ready;
}

} // namespace qvx
