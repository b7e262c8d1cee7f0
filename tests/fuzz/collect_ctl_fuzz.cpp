// COLLECT.CTL as start-up reads it: the cursor parser, then the edit
// passes that bind the kept clauses, as init_cursors runs them (without
// its quitting on failure, which is start-up's business).
#include <set>
#include <string>

#include "control/cursor.h"
#include "control/distributor.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/edit_passes.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    qvxfuzz::write_scratch("qvxcoll.ctl", qvxfuzz::as_text(data, size));
    const int rc = parse_curs();
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (rc == 0) {
        std::set<std::string> names;
        for (const auto& c : cur_anchor) {
            FUZZ_CHECK(!c->cur_name.empty() && c->cur_name.size() <= 8);
            FUZZ_CHECK(names.insert(c->cur_name).second);
            FUZZ_CHECK(find_cursor(c->cur_name) == c.get());
            for (const columns& col : c->cols) FUZZ_CHECK(col.name.size() <= 49);
        }
        // Every bound age_to target is another cursor, shaped as a target.
        if (run_edit_passes() == 0)
            for (const auto& c : cur_anchor)
                if (c->age_to_cur) FUZZ_CHECK(c->age_to_cur != c.get() && c->age_to_cur->is_age_copy);
    }
    qvxfuzz::fresh_state();
    return 0;
}
