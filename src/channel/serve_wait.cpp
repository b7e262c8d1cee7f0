#include "channel/serve_wait.h"

#include "runtime/signals.h"

namespace qvx {

bool wait_for_request(comm_anchor* anchor, double seconds) {
    switch (comm_wait_for_request(anchor, seconds)) {
    case RequestWait::posted: return true;
    case RequestWait::timeout:
    case RequestWait::signal: return false;
    case RequestWait::unavailable: break;  // nothing to wait on: a plain nap
    }
    interruptible_wait(seconds, -1);
    return false;
}

} // namespace qvx
