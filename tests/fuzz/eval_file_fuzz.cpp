// The evaluation file as start-up reads it, over a fixed set of cursors so
// that the names it gives can be found; every evaluation kept is then
// compared against a blank value of each column it may name.
#include <set>
#include <string>

#include "channel/evaluator.h"
#include "control/cursor.h"
#include "control/evaluation.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"

using namespace qvx;

namespace {

constexpr const char* kCursors =
    "cursor SESSIONS;\n"
    "  INSERT INTO demo.sessions (user_name, cpu) VALUES (:user_name, :INT!cpu);\n"
    "cursor CPUSTAT;\n"
    "  INSERT INTO demo.cpu (busy, avg_busy) VALUES (:busy, :12AVG!busy);\n"
    "end;\n";

// What the evaluator relies on for every evaluation kept.
void check_evaluation(const curs& c, const e_ptr& e) {
    FUZZ_CHECK(e.cursor_name == c.cur_name);
    FUZZ_CHECK(!e.name.empty() && e.name.size() <= 35);
    FUZZ_CHECK(!e.col_name.empty() && e.col_name.size() <= 32);
    FUZZ_CHECK(e.col_name_ll == static_cast<int16_t>(e.col_name.size()));
    FUZZ_CHECK(e.less || e.equal || e.greater);
    FUZZ_CHECK(e.value_type == 1 || e.value_type == 2);
    FUZZ_CHECK(e.value_ll == static_cast<int16_t>(e.value_text.size()));
    FUZZ_CHECK(e.col_funct >= 0 && e.col_funct <= 9);
    FUZZ_CHECK(!e.fired && !e.fired_before && !e.candidate);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool written = (qvxfuzz::write_scratch("qvxcoll.ctl", kCursors), true);
    (void)written;
    qvxfuzz::fresh_state();
    FUZZ_CHECK(parse_curs() == 0 && cur_anchor.size() == 2);
    qvxfuzz::write_scratch("qvxeval.ctl", qvxfuzz::as_text(data, size));
    const int rc = parse_eval();
    FUZZ_CHECK(rc == 0 || rc == 1);
    std::set<int> ordinals;
    size_t kept = 0;
    for (const auto& cp : cur_anchor) {
        int previous = 0;
        for (const e_ptr& e : cp->evals) {
            check_evaluation(*cp, e);
            // Newest first, each ordinal given once.
            FUZZ_CHECK(previous == 0 || e.ordinal < previous);
            FUZZ_CHECK(ordinals.insert(e.ordinal).second);
            previous = e.ordinal;
            ++kept;
            for (const columns& col : cp->cols) {
                const std::string blank(static_cast<size_t>(col.length > 0 ? col.length : 0) + 1, ' ');
                const int held = do_compare(col, blank.data(), e);
                FUZZ_CHECK(held == 0 || held == 1);
            }
        }
    }
    FUZZ_CHECK(static_cast<int>(kept) == eval_count());
    if (kept) FUZZ_CHECK(*ordinals.begin() == 1 && *ordinals.rbegin() == eval_count());
    qvxfuzz::fresh_state();
    return 0;
}
