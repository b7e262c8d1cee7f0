// The agents' request records as the collector reads them from its
// request pipe: the input is what agents wrote into the pipe (any number
// of records, or garbage), and the collector's end takes one request per
// "get" until the pipe is empty, as its request service does.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "channel/comm_dispatch.h"
#include "fuzz_support.h"

using namespace qvx;

namespace {

// What a pipe holds without blocking the writer.
constexpr size_t kPipeBytes = 65536;

int waiting_bytes(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ::setenv("COLL_USESHM", "0", 1);
    qvxfuzz::fresh_state();
    comm_anchor* anchor = qvxcomm("initc").anchor;
    FUZZ_CHECK(anchor != nullptr);
    const int writer = ::open(anchor->coll_pipe.c_str(), O_WRONLY | O_NONBLOCK);
    FUZZ_CHECK(writer >= 0);
    const size_t n = std::min(size, kPipeBytes);
    FUZZ_CHECK(n == 0 || ::write(writer, data, n) == static_cast<ssize_t>(n));
    ::close(writer);

    for (size_t gets = 0;; ++gets) {
        const int before = waiting_bytes(anchor->coll_fd.get());
        if (before == 0) break;
        std::vector<curs_list>* blocks = qvxcomm("get", anchor).blocks;
        // Every get takes something out of the pipe, so the service never
        // spins on a bad record.
        FUZZ_CHECK(waiting_bytes(anchor->coll_fd.get()) < before);
        if (!blocks) continue;
        FUZZ_CHECK(blocks->size() == 1);
        const curs_list& b = blocks->front();
        FUZZ_CHECK(!b.name.empty() && b.name.size() <= kMaxCursorName);
        FUZZ_CHECK(b.name.find('\0') == std::string::npos);
        FUZZ_CHECK(b.p_list.size() == 1 && b.p_list[0] == anchor->probe_pipe);
        FUZZ_CHECK(b.pipe_buf.size() <= static_cast<size_t>(kMaxRequestLen));
        FUZZ_CHECK(anchor->parm_count >= 0 && anchor->parm_count <= kParmSlots);
        for (int i = 0; i < anchor->parm_count; ++i)
            FUZZ_CHECK(anchor->parms[static_cast<size_t>(i)].find('\0') == std::string::npos);
    }
    qvxcomm("term", anchor);
    qvxfuzz::fresh_state();
    return 0;
}
