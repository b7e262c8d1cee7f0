// The words of the shared-memory channel (qvxcomm2) and both of its ends:
// the agent sends requests and reads replies, the collector takes one
// request per get and answers it on put.
#include "channel/comm_shm.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/signals.h"
#include "runtime/trace.h"

namespace qvx {

std::time_t last_succeed_sent_req_tm = 0;

namespace {

// Time-out of one reply send.
constexpr int kSendDataSeconds = 10;
// An agent that has not sent successfully for this long resets the sets.
constexpr int kResetAfterSeconds = 180;
// Replies an agent reads before it gives up on its own.
constexpr int kReplyAttempts = 5;

bool traced() { return trace_all != 0 || debug_on(5); }

// Both objects in place and still known to the kernel; otherwise they are
// dropped and established again.
bool ensure_channel() {
    ShareCommObject* r = shm_request_object();
    ShareCommObject* d = shm_data_object();
    if (r && d && r->IsAlive() && d->IsAlive()) return true;
    if (r || d) shut_comm();
    if (env_vars.localtmpdir.empty()) get_envs();
    return InitShare(env_vars.serverid) == 0;
}

// Both objects in place and not known to be gone, without asking the
// kernel: a removal shows as a failed semaphore operation, which marks the
// object gone, and the next get establishes the channel again. Used where
// an answer is waited for, so the exchange costs no extra system calls.
bool channel_present() {
    ShareCommObject* r = shm_request_object();
    ShareCommObject* d = shm_data_object();
    return r && d && r->IsGood() && r->Attached() && d->IsGood() && d->Attached();
}

comm_anchor* new_anchor(char type) {
    auto a = std::make_unique<comm_anchor>();
    a->anchor_type = type;
    a->probe_pipe = "AGT";
    a->coll_pipe = "COL";
    return a.release();
}

// The non-empty parameters a stored request carries.
std::vector<std::string> request_parms(const std::vector<unsigned char>& request) {
    std::vector<std::string> out;
    for_each_request_parm(request, [&out](const char* text, size_t n) {
        if (n > 0 && out.size() < static_cast<size_t>(kParmSlots)) out.emplace_back(text, n);
    });
    return out;
}

// Agent end: sends one request (send_a_request).
int send_request(comm_anchor* a, const curs_list& block, std::string& request_id) {
    ShareCommObject* req = shm_request_object();
    ShareCommObject* data = shm_data_object();
    const std::time_t now = std::time(nullptr);
    if (now - last_succeed_sent_req_tm > kResetAfterSeconds) {
        if (debug_on(4)) PRINT('i', "ush0430", "Reseting semaphores...\n");
        req->ResetSemaphore(kShareRequest);
        data->ResetSemaphore(kShareData);
    }
    const int r = req->SendRequest(block.name, request_parms(block.pipe_buf), request_id, nullptr, wait_timeout);
    if (r != kShmGood) return SetError(r, a);
    last_succeed_sent_req_tm = std::time(nullptr);
    a->request_id = request_id;
    return 0;
}

// Agent end: reads replies until the one for request_id arrives (at most
// five, within wait_timeout).
int read_reply(comm_anchor* a, curs_list& block, const std::string& request_id) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::seconds(wait_timeout);
    for (int attempt = 0; attempt < kReplyAttempts; ++attempt) {
        if (attempt > 0) PRINT('i', "tsh0010", "Continue waiting...\n");
        const double left = std::chrono::duration<double>(deadline - clock::now()).count();
        const int seconds = left > 0 ? static_cast<int>(std::ceil(left)) : 0;
        std::string got;
        int32_t rows = 0;
        int32_t len = 0;
        std::vector<unsigned char> bytes;
        const int r = shm_data_object()->GetData(request_id, got, rows, len, bytes, seconds);
        if (r != kShmGood) return SetError(r, a);
        if (got == request_id) {
            block.rows = rows;
            block.len = len;
            block.data = std::move(bytes);
            return 0;
        }
    }
    return SetError(kShmTimeout, a);
}

} // namespace

int SetError(int result, comm_anchor* a) {
    if (!a) return result == kShmTimeout ? 20 : 21;
    if (result == kShmTimeout) {
        a->error_code = 20;
        a->error_text = "Share memory time out";
    } else {
        a->error_code = 21;
        a->error_text = "Share memory generic error";
    }
    return a->error_code;
}

// ------------------------------------------------------------ collector

curs_list* shm_get_probe_reqs(comm_anchor* a) {
    if (!a) return nullptr;
    a->c_list.clear();
    if (!ensure_channel()) {
        SetError(kShmFailed, a);
        return nullptr;
    }
    shm_data_object()->Check();
    std::string name;
    std::string request_id;
    std::string text;
    std::vector<std::string> params;
    int r = shm_request_object()->GetRequest(name, request_id, params, text, wait_timeout);
    if (r == kShmGood && name.empty()) r = kShmFailed;  // nothing to serve
    if (r != kShmGood) {
        SetError(r, a);
        if (traced()) PRINT('t', "ush0410", "Call get_probe_reqs: No request\n");
        return nullptr;
    }
    a->request_id = request_id;
    curs_list block;
    block.pipe_buf = serialize_request(name, a->probe_pipe, params);
    read_request_parms(*a, block.pipe_buf);
    block.name = name.substr(0, kMaxCursorName);
    block.p_list.push_back(a->probe_pipe);
    a->c_list.push_back(std::move(block));
    return &a->c_list.front();
}

std::vector<curs_list>* shm_put_request(comm_anchor* a) {
    if (!a) return nullptr;
    auto unchanged = [a] { return a->c_list.empty() ? nullptr : &a->c_list; };
    if (a->anchor_type == 'P') {
        a->error_code = 4;
        a->error_text = "Invalid request type for probe.";
        return unchanged();
    }
    if (a->anchor_type != 'C') {
        a->error_code = 4;
        a->error_text = "Invalid IPC anchor for put request.";
        return unchanged();
    }
    // A channel lost since the get is built again by the next get; a
    // reply put into new objects would find no reader.
    if (!channel_present()) {
        SetError(kShmFailed, a);
        return nullptr;
    }
    std::string last_name;
    for (const auto& block : a->c_list) {
        last_name = block.name;
        for (size_t i = 0; i < block.p_list.size(); ++i) {
            const int r = shm_data_object()->SendData(a->request_id, block.rows, block.len, block.data, kSendDataSeconds);
            if (r < 0) {
                SetError(r, a);
                return nullptr;
            }
        }
    }
    a->c_list.clear();
    if (debug_on(5)) PRINT('t', "com2010", "put_request() %8s pipe=%s\n", last_name.c_str(), a->probe_pipe.c_str());
    return nullptr;
}

// ---------------------------------------------------------------- agent

std::vector<curs_list>* shm_get_cursor_data(comm_anchor* a, const char* list) {
    if (!a) return nullptr;
    build_request_blocks(*a, list);
    if (!channel_present() && !ensure_channel()) {
        SetError(kShmFailed, a);
        return nullptr;
    }
    // Every request first, then every reply, each matched to its own id.
    std::vector<std::string> ids(a->c_list.size());
    for (size_t i = 0; i < a->c_list.size(); ++i)
        if (send_request(a, a->c_list[i], ids[i]) != 0) return nullptr;
    for (size_t i = 0; i < a->c_list.size(); ++i)
        if (read_reply(a, a->c_list[i], ids[i]) != 0) return nullptr;
    return a->c_list.empty() ? nullptr : &a->c_list;
}

// ----------------------------------------------------------- the words

CommResult qvxcomm2(const std::string& function, comm_anchor* anchor, const char* list) {
    const int code = comm_function_code(function);
    CommResult result;
    if (code == 0) {
        PRINT('e', "com2100", "Invalid function code to QVXCOMM2: %s\n", function.c_str());
        return result;
    }
    if ((code == 3 || code == 4) && anchor) {
        anchor->error_code = 0;
        anchor->error_text.clear();
    }
    switch (code) {
    case 1:
        if (last_succeed_sent_req_tm == 0) last_succeed_sent_req_tm = std::time(nullptr);
        if (wait_timeout == 0) wait_timeout = get_timeout_value("WAIT_TIMEOUT", 45);
        result.anchor = new_anchor('P');
        break;
    case 2:
        if (wait_timeout == 0) wait_timeout = get_timeout_value("COLL_WAIT_TIMEOUT", 5);
        result.anchor = new_anchor('C');
        break;
    case 3:
        if (!anchor) break;
        if (anchor->anchor_type != 'P' && anchor->anchor_type != 'C') {
            anchor->error_code = 8;
            anchor->error_text = "Invalid IPC anchor for get request.";
            break;
        }
        if (debug_on(5))
            PRINT('t', "com2010", "get_request() %8s %s\n", anchor->curs_names.c_str(),
                  (anchor->anchor_type == 'C' ? anchor->coll_pipe : anchor->probe_pipe).c_str());
        if (anchor->anchor_type == 'C') result.blocks = shm_get_probe_reqs(anchor) ? &anchor->c_list : nullptr;
        else result.blocks = shm_get_cursor_data(anchor, list);
        break;
    case 4: result.blocks = shm_put_request(anchor); break;
    case 5: delete anchor; break;
    case 6:
        if (comm_uses_shm()) shut_comm();
        break;
    case 7:
        if (comm_uses_shm()) {
            if (env_vars.localtmpdir.empty()) get_envs();
            if (InitShare(env_vars.serverid) != 0) {
                PRINT('s', "com31400", "could not establish shared memory, quitting\n");
                std::exit(8);
            }
        }
        break;
    default: break;
    }
    return result;
}

// ------------------------------------------------------------ fast wake

RequestWait shm_wait_for_request(double seconds) {
    ShareCommObject* r = shm_request_object();
    if (!r) return RequestWait::unavailable;
    if (!r->IsAlive()) return RequestWait::posted;  // the next get builds the channel again
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(
                                             std::chrono::duration<double>(std::max(seconds, 0.0)));
    for (;;) {
        if (signal_pending()) return RequestWait::signal;
        const double left = std::chrono::duration<double>(deadline - clock::now()).count();
        if (left <= 0) return RequestWait::timeout;
        // 'available' drops to 0 when an agent takes the segment to write
        // a request and stays there until the collector has taken it.
        switch (r->TimedOp(kSemAvailable, 0, std::min(left, 1.0), true)) {
        case SemWait::done: return RequestWait::posted;
        case SemWait::timeout: break;
        case SemWait::interrupted: return RequestWait::signal;
        case SemWait::gone:
        case SemWait::failed: return RequestWait::posted;  // let the get find out
        }
    }
}

} // namespace qvx
