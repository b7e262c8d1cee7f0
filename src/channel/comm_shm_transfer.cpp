// Moving requests and replies through the segments: SendRequest and
// GetRequest on the request object, SendData, GetData and Check on the
// data object.
//
// The writer of a segment acquires 'available' and releases 'filled'; the
// reader acquires 'filled' and releases 'available'. Every wait is one
// timed semaphore operation, so a request or a chunk is taken as soon as
// it is posted.
#include "channel/comm_shm.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/signals.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// A reply unread for longer than this is cleared by the next send or check.
constexpr int kStaleReplySeconds = 30;
// The writer waits this long for the reader to finish the previous reply.
constexpr int kReaderDoneSeconds = 60;
// Largest reply an agent accepts.
constexpr int64_t kMaxReplyBytes = int64_t{256} << 20;
constexpr size_t kReserveAhead = 16 * dataseg::kChunkSize;

bool traced() { return trace_all != 0 || debug_on(5); }

int32_t now32() { return static_cast<int32_t>(std::time(nullptr)); }

// A text field: zero-padded, at most width - 1 characters.
void put_text(unsigned char* base, size_t offset, size_t width, const std::string& text) {
    std::memset(base + offset, 0, width);
    std::memcpy(base + offset, text.data(), std::min(text.size(), width - 1));
}

// A text field as written by the peer, which need not have terminated it.
std::string get_text(const unsigned char* base, size_t offset, size_t width) {
    const char* p = reinterpret_cast<const char*>(base + offset);
    return std::string(p, strnlen(p, width - 1));
}

// The request time-out kept in the segment; a value no writer of ours
// would leave there counts as the default.
int32_t request_timeout(const unsigned char* req) {
    const int32_t t = shm_get32(req, reqseg::kTimeout);
    return t > 0 && t <= 600 ? t : reqseg::kDefaultTimeout;
}

// Reply size from rows and len; -1 when they make no sense.
int64_t reply_bytes(int32_t rows, int32_t len) {
    if (rows < 0 || len < 0) return -1;
    const int64_t total = int64_t{rows} * int64_t{len};
    return total > kMaxReplyBytes ? -1 : total;
}

} // namespace

// --------------------------------------------------------------- request

int ShareCommObject::SendRequest(const std::string& name, const std::vector<std::string>& params,
                                 std::string& request_id, const std::string* data, int timeout) {
    const QVXRequest req(name, params, data ? *data : std::string());
    request_id = req.request_id;
    if (!IsGood()) return kShmFailed;
    const SemWait w = TimedOp(kSemAvailable, -1, timeout);
    if (w == SemWait::timeout) {
        if (debug_on(5)) PRINT('i', "ush0007", "Function SendRequest timeout\n");
        if (!IsBlockAvailableForWrite() && !IsBlockFilledForRead() && !SemGone()) {
            // Neither free nor holding a request: a writer died half-way.
            PRINT('t', "ush0130", "SendRequest: share memory inconsistency occurs\n");
            if (SemOp(kSemFilled, 1, 0) != 0) {
                SetAll();
                PRINT('i', "ush0038", "Break SendRequest deadlock\n");
            }
        }
        return kShmTimeout;
    }
    if (w != SemWait::done) {
        PRINT('e', "ush0003", "SendRequest cannnot acquire 'available' semaphore\n");
        return kShmFailed;
    }

    put_text(addr_, reqseg::kName, reqseg::kNameWidth, req.name);
    put_text(addr_, reqseg::kId, reqseg::kIdWidth, req.request_id);
    if (data) put_text(addr_, reqseg::kData, reqseg::kDataWidth, req.data);
    std::memset(addr_ + reqseg::kParms, 0, reqseg::kParmCount * reqseg::kParmWidth);
    for (size_t i = 0; i < req.params.size() && i < reqseg::kParmCount; ++i)
        put_text(addr_, reqseg::kParms + i * reqseg::kParmWidth, reqseg::kParmWidth, req.params[i]);
    shm_put32(addr_, reqseg::kWritten, 0);
    shm_put32(addr_, reqseg::kWriteTime, now32());
    if (SemOp(kSemFilled, 1, 0) != 0) {
        SetAll();
        PRINT('e', "ush0008", "SendRequest cannot release 'filled' semaphore\n");
        return kShmFailed;
    }
    return kShmGood;
}

int ShareCommObject::GetRequest(std::string& name, std::string& request_id, std::vector<std::string>& params,
                                std::string& data, int timeout) {
    if (!IsGood()) return kShmFailed;
    // A signal ends the wait like the time-out: the collector attends to
    // it at once instead of after the rest of the wait.
    const SemWait w = TimedOp(kSemFilled, -1, timeout, true);
    if (w == SemWait::timeout || w == SemWait::interrupted) {
        if (traced()) PRINT('t', "ush0009", "Function GetRequest timeout\n");
        return kShmTimeout;
    }
    if (w != SemWait::done) {
        if (!SemGone()) SetAll();
        PRINT('e', "ush0004", "GetRequest cannot acquire 'filled' semaphore\n");
        return kShmFailed;
    }

    request_id = get_text(addr_, reqseg::kId, reqseg::kIdWidth);
    name = get_text(addr_, reqseg::kName, reqseg::kNameWidth);
    params.clear();
    for (size_t i = 0; i < reqseg::kParmCount; ++i) {
        const size_t at = reqseg::kParms + i * reqseg::kParmWidth;
        if (addr_[at] != 0) params.push_back(get_text(addr_, at, reqseg::kParmWidth));
    }
    data.clear();
    if (addr_[reqseg::kData] != 0) data = get_text(addr_, reqseg::kData, reqseg::kDataWidth);
    shm_put32(addr_, reqseg::kTaken, 0);
    const int32_t written = shm_get32(addr_, reqseg::kWriteTime);
    const int32_t limit = request_timeout(addr_);

    // Releasing 'available' and putting the set back to {1, 0} in one
    // step: a writer that got in between would lose its request.
    if (SetAll() != 0) PRINT('e', "ush0010", "GetRequest cannot release 'available' semaphore\n");

    const int32_t now = now32();
    if (now - written > limit) {
        PRINT('i', "ush0032",
              "It's %s. Request '%s' received too late to process(now:%d, finish write:%d, timeout:%d)\n",
              form_time().c_str(), request_id.c_str(), now, written, limit);
        return kShmFailed;
    }
    return kShmGood;
}

// ------------------------------------------------------------------ data

void ShareCommObject::CleanReply() {
    shm_put32(addr_, dataseg::kReadIndex, 0);
    shm_put32(addr_, dataseg::kWriteIndex, 0);
    SetAll();
    shm_put32(addr_, dataseg::kReaderDone, 1);
    if (request_base_) shm_put32(request_base_, reqseg::kCheckTime, -1);
}

int ShareCommObject::Check() {
    if (!IsGood() || !request_base_) return 0;
    const int32_t check = shm_get32(request_base_, reqseg::kCheckTime);
    if (check == -1 || now32() - check <= kStaleReplySeconds) return 0;
    if (traced())
        PRINT('i', "nsh0011", "It's %s. Data for cursor %s is cleaned\n", form_time().c_str(),
              get_text(addr_, dataseg::kId, dataseg::kIdWidth).c_str());
    CleanReply();
    return 1;
}

void ShareCommObject::WaitReaderDone() {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::seconds(kReaderDoneSeconds);
    auto nap = std::chrono::milliseconds(1);
    while (shm_get32(addr_, dataseg::kReaderDone) == 0) {
        // A reply left unread for longer than a stale one may stay is
        // cleared rather than waited for.
        const int32_t check = request_base_ ? shm_get32(request_base_, reqseg::kCheckTime) : -1;
        if (check != -1 && now32() - check > kStaleReplySeconds) {
            PRINT('i', "ush0030", "Cleaning share memory, Data for cursor %s is cleaned\n",
                  get_text(addr_, dataseg::kId, dataseg::kIdWidth).c_str());
            CleanReply();
            return;
        }
        if (clock::now() >= deadline || signal_pending()) {
            PRINT('t', "ush0240", "Reader should already finish read now!\n");
            return;
        }
        std::this_thread::sleep_for(nap);
        nap = std::min(nap * 2, std::chrono::milliseconds(50));
    }
}

int ShareCommObject::SendData(const std::string& request_id, int32_t rows, int32_t len,
                              const std::vector<unsigned char>& data, int timeout) {
    if (!IsGood() || !request_base_) return kShmFailed;
    const int32_t now = now32();
    const int32_t written = shm_get32(request_base_, reqseg::kWriteTime);
    const int32_t limit = request_timeout(request_base_);
    if (now - written > limit) {
        PRINT('i', "ush0033", "Data for Request '%s' are too late to send(%d,%d,%d)\n", request_id.c_str(), now,
              written, limit);
        return kShmGood;
    }
    const int32_t check = shm_get32(request_base_, reqseg::kCheckTime);
    if (check != -1 && now - check > kStaleReplySeconds) {
        PRINT('i', "ush0030", "Cleaning share memory, Data for cursor %s is cleaned\n",
              get_text(addr_, dataseg::kId, dataseg::kIdWidth).c_str());
        CleanReply();
    }
    if (traced() && request_id.empty()) {
        PRINT('e', "ush0015", "Unique name is not supplied\n");
        return kShmFailed;
    }

    const int64_t want = rows > 0 && len > 0 ? int64_t{rows} * int64_t{len} : 0;
    if (want > kMaxReplyBytes) return kShmFailed;
    const bool none = want == 0;
    const size_t total = none ? 4 : static_cast<size_t>(want);
    auto source = [&](size_t at) -> const unsigned char* {
        if (none) return reinterpret_cast<const unsigned char*>(kEmptyReply);
        return at < data.size() ? data.data() + at : nullptr;
    };
    const size_t have = none ? 4 : std::min(total, data.size());  // rows past the data go as zeros

    WaitReaderDone();
    shm_put32(addr_, dataseg::kReaderDone, 0);

    for (size_t at = 0; at < total;) {
        const SemWait w = TimedOp(kSemAvailable, -1, timeout);
        if (w == SemWait::timeout) {
            if (debug_on(5)) PRINT('i', "ush0002", "Function SendData Timeout\n");
            return kShmTimeout;
        }
        if (w != SemWait::done) {
            PRINT('e', "ush0005", "SendData cannot acquire 'available' semaphore\n");
            return kShmFailed;
        }
        if (at == 0) {
            put_text(addr_, dataseg::kId, dataseg::kIdWidth, request_id);
            shm_put32(addr_, dataseg::kRows, rows);
            shm_put32(addr_, dataseg::kLen, len);
        }
        const size_t n = std::min(dataseg::kChunkSize, total - at);
        // The chunk area holds the copied bytes and zeros after them.
        const size_t copied = at < have ? std::min(n, have - at) : 0;
        if (copied) std::memcpy(addr_ + dataseg::kChunk, source(at), copied);
        if (chunk_dirty_ > copied) std::memset(addr_ + dataseg::kChunk + copied, 0, chunk_dirty_ - copied);
        chunk_dirty_ = copied;
        shm_put32(request_base_, reqseg::kCheckTime, now32());
        if (SemOp(kSemFilled, 1, 0) != 0) {
            SetAll();
            PRINT('e', "ush0012", "SendData cannot release 'filled' semaphore\n");
            return kShmFailed;
        }
        at += n;
    }
    if (traced())
        PRINT('t', "ush0250", "SendData(%s): Leaving, unique=%s, numrow=%d, lenrow=%d\n", request_id.c_str(),
              request_id.c_str(), rows, len);
    return kShmGood;
}

int ShareCommObject::GetData(const std::string& request_id, std::string& got_id, int32_t& rows, int32_t& len,
                             std::vector<unsigned char>& data, int timeout) {
    if (!IsGood()) return kShmFailed;
    data.clear();
    int result = kShmGood;
    size_t total = 0;
    bool first = true;
    for (;;) {
        const SemWait w = TimedOp(kSemFilled, -1, timeout);
        if (w == SemWait::timeout) {
            if (debug_on(5)) PRINT('i', "ush0013", "GetData timeout\n");
            return kShmTimeout;
        }
        if (w != SemWait::done) {
            PRINT('e', "ush0006", "GetData cannot acquire 'filled' semaphore\n");
            return kShmFailed;
        }
        if (first) {
            first = false;
            got_id = get_text(addr_, dataseg::kId, dataseg::kIdWidth);
            rows = shm_get32(addr_, dataseg::kRows);
            len = shm_get32(addr_, dataseg::kLen);
            if (got_id != request_id)
                PRINT('i', "ush0037", "Get Data for %s, not for %s\n", got_id.c_str(), request_id.c_str());
            const int64_t bytes = reply_bytes(rows, len);
            if (bytes < 0) {
                result = kShmFailed;  // nothing sensible to read: drop the reply
                break;
            }
            total = static_cast<size_t>(bytes);
            // What the header announces is reserved only up to a few
            // chunks: a header that lies costs no more than what arrives.
            data.reserve(std::min(total, kReserveAhead));
        }
        const size_t n = std::min(dataseg::kChunkSize, total - data.size());
        data.insert(data.end(), addr_ + dataseg::kChunk, addr_ + dataseg::kChunk + n);
        if (data.size() >= total) break;  // the reset below releases the last one
        if (SemOp(kSemAvailable, 1, 0) != 0) {
            PRINT('e', "ush0014", "GetData cannot release 'available' semaphore\n");
            break;
        }
    }
    if (result == kShmGood && data.size() < total) result = kShmFailed;
    if (SetAll() != 0 && result == kShmGood)
        PRINT('e', "ush0014", "GetData cannot release 'available' semaphore\n");
    shm_put32(addr_, dataseg::kReaderDone, 1);
    if (request_base_) shm_put32(request_base_, reqseg::kCheckTime, -1);
    return result;
}

} // namespace qvx
