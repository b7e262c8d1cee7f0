// Finding request records in the collector's pipe. Every agent writes its
// record with one write of at most 300 bytes, so a record arrives whole;
// bytes that do not make a well-formed record (an agent that died half
// way, a length field that lies, more than the pipe takes at once) are
// dropped up to the next place where a whole, well-formed record starts,
// so the agents after it are served.
#include "channel/comm_pipe.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qvx {

bool whole_request_at(const std::vector<unsigned char>& bytes, size_t at) {
    if (at + 4 > bytes.size()) return false;
    const int len = request_get16(bytes.data() + at);
    const int name_len = request_get16(bytes.data() + at + 2);
    if (len < 8 || len > kMaxRequestLen || at + static_cast<size_t>(len) > bytes.size()) return false;
    if (name_len < 1 || name_len > kMaxCursorName || 4 + name_len > len - 3) return false;
    // The two closing zeros (which also end the path when nothing else
    // does).
    const size_t end = at + static_cast<size_t>(len);
    return bytes[end - 1] == 0 && bytes[end - 2] == 0;
}

void skip_to_next_request(std::vector<unsigned char>& bytes) {
    size_t at = 1;
    while (at < bytes.size() && !whole_request_at(bytes, at)) ++at;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(std::min(at, bytes.size())));
}

bool read_available(int fd, std::vector<unsigned char>& into, size_t cap) {
    unsigned char chunk[4096];
    bool any = false;
    while (into.size() < cap) {
        const ssize_t r = ::read(fd, chunk, std::min(sizeof chunk, cap - into.size()));
        if (r > 0) {
            into.insert(into.end(), chunk, chunk + r);
            any = true;
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // nothing more now (or no writer)
        }
    }
    return any;
}

} // namespace qvx
