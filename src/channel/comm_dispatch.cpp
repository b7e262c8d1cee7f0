// The dispatcher qvxcomm: the re-entry lock, the choice of transport and
// the hand-over of each word to the pipes or to shared memory.
#include "channel/comm_dispatch.h"

#include <cstdio>

#include "channel/comm_pipe.h"
#include "channel/comm_shm.h"
#include "runtime/messages.h"
#include "runtime/signals.h"

namespace qvx {

int qvxcomm_locked = 0;

namespace {

// Entered again from a signal handler while a call runs: wait for it to
// finish, up to 30 seconds, then go on regardless.
void wait_for_unlock(int code) {
    while (qvxcomm_locked != 0) {
        PRINT('t', "com0010", "qvxcomm locked... entering wait (%d,%d)\n", qvxcomm_locked, code);
        bool cleared = false;
        for (int waits = 0; waits < 30; ++waits) {
            comm_sleep(1);
            if (qvxcomm_locked == 0) {
                cleared = true;
                break;
            }
            PRINT('t', "com0012", "qvxcomm locked... still waiting (%d)\n", waits);
        }
        if (!cleared) break;
    }
}

// The words over the named pipes.
CommResult pipe_call(int code, comm_anchor* anchor, const char* list) {
    CommResult result;
    switch (code) {
    case 1: result.anchor = init_probe(); break;
    case 2: result.anchor = init_collector(); break;
    case 3: result.blocks = get_request(anchor, list); break;
    case 4: result.blocks = put_request(anchor); break;
    case 5: term_comm(anchor); break;
    default: break;  // "initsm": nothing to build for the pipes
    }
    return result;
}

} // namespace

CommResult qvxcomm(const std::string& function, comm_anchor* anchor, const char* list) {
    const int code = comm_function_code(function);
    CommResult result;
    if (code == 0) {
        PRINT('e', "com0100", "Invalid function code to QVXCOMM: %s\n", function.c_str());
        if (anchor) {
            char text[200];
            std::snprintf(text, sizeof text, "Invalid function code to QVXCOMM: %s", function.c_str());
            anchor->error_code = 12;
            anchor->error_text = text;
        }
        return result;
    }
    if (code == 6) {  // "shut" neither waits nor takes the lock
        if (comm_uses_shm()) result.code = qvxcomm2(function, anchor, list).code;
        qvxcomm_locked = 0;
        return result;
    }

    wait_for_unlock(code);
    qvxcomm_locked = code;
    result = comm_uses_shm() ? qvxcomm2(function, anchor, list) : pipe_call(code, anchor, list);
    qvxcomm_locked = 0;
    return result;
}

RequestWait comm_wait_for_request(comm_anchor* anchor, double seconds) {
    const bool collector = anchor && anchor->anchor_type == 'C';
    if (comm_uses_shm()) {
        // Shared memory: wait on the request segment's semaphores; the get
        // that follows takes the request.
        return collector ? shm_wait_for_request(seconds) : RequestWait::unavailable;
    }
    // Pipes: the request pipe becomes readable when an agent writes.
    if (!collector || !anchor->coll_fd) return RequestWait::unavailable;
    if (!anchor->pending.empty()) return RequestWait::posted;  // read with the last request
    switch (interruptible_wait(seconds, anchor->coll_fd.get())) {
    case WaitEnd::ready: return RequestWait::posted;
    case WaitEnd::signal: return RequestWait::signal;
    case WaitEnd::timeout: break;
    }
    return RequestWait::timeout;
}

void reset_comm_dispatch() { qvxcomm_locked = 0; }

} // namespace qvx
