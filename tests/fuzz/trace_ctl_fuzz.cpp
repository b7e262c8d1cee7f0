// TRACE.CTL as start-up reads it, over a fixed set of cursors so that
// the names it gives can be found.
#include <array>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "control/tracing.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

constexpr const char* kCursors =
    "cursor SESSIONS;\n"
    "  INSERT INTO demo.sessions (user_name, cpu) VALUES (:user_name, :INT!cpu);\n"
    "  interval 5;\n"
    "cursor CPUSTAT;\n"
    "  INSERT INTO demo.cpu (busy, avg_busy) VALUES (:busy, :12AVG!busy);\n"
    "cursor LOCKS;\n"
    "  INSERT INTO demo.locks (owner) VALUES (:owner);\n"
    "  demand;\n"
    "end;\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool written = (qvxfuzz::write_scratch("qvxcoll.ctl", kCursors), true);
    (void)written;
    qvxfuzz::fresh_state();
    FUZZ_CHECK(parse_curs() == 0 && cur_anchor.size() == 3);
    qvxfuzz::write_scratch("qvxtrac.ctl", qvxfuzz::as_text(data, size));
    const int rc = parse_trace();
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (trace_all)
        for (const auto& c : cur_anchor) FUZZ_CHECK(c->trace && c->show_row && c->show_cursor);
    // A RETRACE request clears the switches and reads the file again:
    // the same file gives the same switches.
    std::vector<std::array<int16_t, 3>> before;
    for (const auto& c : cur_anchor) before.push_back({c->trace, c->traced, c->tracem});
    const int all_before = trace_all;
    reset_tracing();
    FUZZ_CHECK(trace_all == all_before);
    for (size_t i = 0; i < cur_anchor.size(); ++i) {
        const curs& c = *cur_anchor[i];
        FUZZ_CHECK((std::array<int16_t, 3>{c.trace, c.traced, c.tracem}) == before[i]);
    }
    qvxfuzz::fresh_state();
    return 0;
}
