#include "channel/serve_requests.h"

#include <cstring>
#include <new>
#include <unistd.h>

#include "channel/status_images.h"
#include "control/cursor.h"
#include "control/distributor.h"
#include "pipeline/cluster.h"
#include "pipeline/percent_cursor.h"
#include "runtime/clock.h"
#include "runtime/exit_path.h"
#include "runtime/signals.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"
#include "runtime/window.h"
#include "runtime/trace.h"

namespace qvx {

comm_anchor* ipc_ptr = nullptr;
unsigned channel_retry_seconds = 3;

namespace {

bool traced_cursor(const std::string& name) {
    if (!trace_something) return false;
    const curs* c = find_cursor(name);
    return c && c->trace;
}

// A terminating signal ends the channel before the collector quits.
void end_channel_on_interrupt() {
    if (!upa_channel_open()) return;
    term_upa_channel();
    if (upa_channel_open()) PRINT('e', "cir5008", "Error terminating UPA IPC environment\n");
}

// Builds the channel: "initsm", then up to three "initc".
bool open_channel() {
    set_close_step(CloseStep::interrupt_channel, end_channel_on_interrupt);
    set_close_step(CloseStep::quit_channel, shut_upa_channel);
    qvxcomm("initsm");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ipc_ptr = qvxcomm("initc").anchor;
        if (ipc_ptr) return true;
        PRINT('e', "iir1510", "Error building UPA IPC environment. Try %d failed\n", attempt);
        if (attempt < 3) ::sleep(channel_retry_seconds);
    }
    PRINT('e', "iir1510", "Error building UPA IPC environment\n");
    return false;
}

template <typename List, typename Image>
bool copy_images(curs_list& block, const List& list, size_t len, Image image) {
    try {
        std::vector<unsigned char> data(list.size() * len);
        size_t at = 0;
        for (const auto& item : list) {
            const auto bytes = image(*item);
            std::memcpy(data.data() + at, bytes.data(), len);
            at += len;
        }
        block.data = std::move(data);
    } catch (const std::bad_alloc&) {
        return false;
    }
    block.rows = static_cast<int32_t>(list.size());
    block.len = static_cast<int32_t>(len);
    return true;
}

} // namespace

bool build_status_reply(curs_list& block) {
    if (block.name == "C-STATUS")
        return copy_images(block, cur_anchor, kCursorImageSize, [](const curs& c) { return cursor_image(c); });
    return copy_images(block, distrib_anchor, kDistribImageSize, [](const distrib& d) { return distrib_image(d); });
}

int get_probe_data(curs_list& block) {
    curs* c = find_cursor(block.name);
    if (!c) return 1;
    if (ipc_ptr) {
        read_request_parms(*ipc_ptr, block.pipe_buf);
        set_request_parms(ipc_ptr->parms, ipc_ptr->parm_count);
    }
    const long now = now_relative();
    if (static_cast<long>(c->window_end) <= now) set_window_c(*c, now);
    if (static_cast<long>(c->window_start) > now) {
        block.rows = 0;
        return 0;
    }
    c->last_time = secs_to_date(now);
    cluster* cl = open_cursor(*c);
    if (!cl) return 1;
    if (cl->count == 0 || cl->len == 0) {
        close_cur(cl);
        return 1;
    }
    if (trace_something)
        PRINT('t', "cpr1885", "Build return data block, cur= %s, rows= %d, len= %d\n", c->cur_name.c_str(),
              cl->count, cl->len);
    const size_t len = static_cast<size_t>(cl->len);
    try {
        block.data.clear();
        block.data.resize(static_cast<size_t>(cl->count) * len);
    } catch (const std::bad_alloc&) {
        close_cur(cl);
        return 1;
    }
    block.rows = cl->count;
    block.len = cl->len;
    size_t at = 0;
    while (fetch_cur(cl) == 0 && at + len <= block.data.size()) {
        std::memcpy(block.data.data() + at, cl->cur, len);
        at += len;
    }
    close_cur(cl);
    return 0;
}

int do_upa(long max_wait) {
    if (!ipc_ptr && !open_channel()) {
        quitting(-1004);
        return -1;
    }
    if (debug_on(0)) PRINT('t', "cir1830", "Check UPA request queue...\n");
    std::vector<curs_list>* blocks = nullptr;
    {
        const int configured = wait_timeout;
        if (max_wait >= 0 && max_wait < wait_timeout) wait_timeout = static_cast<int>(max_wait);
        blocks = qvxcomm("get", ipc_ptr).blocks;
        wait_timeout = configured;
    }
    if (!blocks || blocks->empty()) {
        if (ipc_ptr->error_code != 0 && ipc_ptr->error_code != 20) {
            PRINT('e', "cir1835", "%s\n", ipc_ptr->error_text.c_str());
            return -1;
        }
        if (debug_on(0) && ipc_ptr->error_code == 0) PRINT('t', "cir1840", " No requests!\n");
        return kNoRequest;
    }

    set_request_parms(ipc_ptr->parms, ipc_ptr->parm_count);
    if (debug_on(0)) PRINT('t', "cir1845", " Requests=%d\n", static_cast<int>(blocks->size()));

    int result = 0;
    for (curs_list& block : *blocks) {
        if (block.name == "RETRACE") {
            retrace_request = true;
            PRINT('i', "cir1850", "Reseting trace.\n");
            continue;
        }
        if (block.name == "SHUTDOWN") {
            go_home = 1;
            PRINT('a', "cir1855", "SHUTDOWN request recieved.\n");
            continue;
        }
        if (debug_on(0) || traced_cursor(block.name))
            PRINT('t', "cir1860", "Demand request. Cursor=%s\n", block.name.c_str());
        if (block.name == "C-STATUS" || block.name == "D-STATUS") {
            if (!build_status_reply(block)) return -1;
        } else if (get_probe_data(block) != 0) {
            result = -1;
            if (debug_on(1)) PRINT('e', "cir1870", "Get UPA data failed. Cursor=%s\n", block.name.c_str());
        }
        if (traced_cursor(block.name))
            PRINT('t', "cir1875", "Returning Cur %s, %d Rows, %d bytes in length.\n", block.name.c_str(),
                  block.rows, block.len);
    }

    qvxcomm("put", ipc_ptr);
    if (ipc_ptr->error_code != 0) PRINT('e', "cir1880", "%s\n", ipc_ptr->error_text.c_str());
    return result;
}

bool upa_channel_open() { return ipc_ptr != nullptr; }

int term_upa_channel() {
    ipc_ptr = qvxcomm("term", ipc_ptr).anchor;
    return ipc_ptr ? 1 : 0;
}

void shut_upa_channel() { qvxcomm("shut"); }

void reset_requests() {
    if (ipc_ptr) term_upa_channel();
    ipc_ptr = nullptr;
    channel_retry_seconds = 3;
}

} // namespace qvx
