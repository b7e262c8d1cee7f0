// The collector's replies as the probe reads them from its reply pipe and
// prints them. The first byte chooses what the probe asked for and how it
// prints; the rest is what arrived on the pipe: the stream header and the
// rows.
//
//   bits 0-1  0 a cursor of the control files, 1 "C-STATUS",
//             2 "D-STATUS", 3 a cursor that is not defined
//   bit 2     --raw (hex dump)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "channel/comm_pipe.h"
#include "channel/probe.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"

using namespace qvx;

namespace {

constexpr size_t kPipeBytes = 65536;

// Columns of every kind the layout knows: text of a forced width, an
// integer, a float, a time stamp, an unsent column, a percent variable
// and text whose width only the database knows.
constexpr const char* kCursors =
    "cursor SESSIONS;\n"
    "  INSERT INTO demo.sessions (user_name, cpu, load, started, skip, now, program)\n"
    "    VALUES (:user_name^12, :INT!cpu, :FLOAT!load, :TS!started, :NS!skip, :%now_time, :program);\n"
    "cursor TWOFREE;\n"
    "  INSERT INTO demo.free (a, b, c) VALUES (:a, :INT!b, :c);\n"
    "end;\n";

const char* const kNames[] = {"SESSIONS", "C-STATUS", "D-STATUS", "NOSUCH"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool written = (qvxfuzz::write_scratch("qvxcoll.ctl", kCursors), true);
    (void)written;
    if (size == 0) return 0;
    const uint8_t how = data[0];
    ++data;
    --size;

    qvxfuzz::fresh_state();
    ProbeOptions options;
    options.control_dir = qvxfuzz::scratch_dir();
    std::string err;
    FUZZ_CHECK(load_cursor_definitions(options, err) == 0);

    int ends[2];
    FUZZ_CHECK(::pipe2(ends, O_NONBLOCK) == 0);
    const size_t n = std::min(size, kPipeBytes);
    FUZZ_CHECK(n == 0 || ::write(ends[1], data, n) == static_cast<ssize_t>(n));
    ::close(ends[1]);  // what was not sent never comes

    wait_timeout = 1;
    comm_anchor anchor;
    anchor.anchor_type = 'P';
    anchor.probe_fd.reset(ends[0]);
    curs_list block;
    block.name = kNames[how & 3];
    const int rc = read_reply(&anchor, block);
    if (rc == 0) {
        FUZZ_CHECK(block.rows >= 0 && block.len >= 0);
        FUZZ_CHECK(block.data.size() == (block.rows > 0 ? size_t(block.rows) * size_t(block.len) : 0));
        std::string notes;
        const std::string out = format_reply(block.name, block.rows, block.len, block.data.data(),
                                             find_cursor(block.name), (how & 4) != 0, notes);
        FUZZ_CHECK(out.compare(0, block.name.size(), block.name) == 0);
        // The printout grows with the bytes received, not with the counts
        // a header claims.
        FUZZ_CHECK(out.size() <= 200 * block.data.size() + 1000);
    } else {
        FUZZ_CHECK(anchor.error_code == rc && !anchor.error_text.empty());
    }
    qvxfuzz::fresh_state();
    return 0;
}
