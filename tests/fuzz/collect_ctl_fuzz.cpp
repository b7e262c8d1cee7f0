// COLLECT.CTL as start-up reads it: the cursor parser, then the edit
// passes that bind the kept clauses, as init_cursors runs them (without
// its quitting on failure, which is start-up's business).
#include <set>
#include <vector>
#include <string>

#include "control/cursor.h"
#include "control/distributor.h"
#include "control/versions.h"
#include "expr/versions.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/edit_passes.h"

using namespace qvx;

namespace {

// Each version of a source that names a target has a target record of its
// own, never a listed cursor; the source itself names the listed copy cursor.
void check_version_targets() {
    for (const auto& c : cur_anchor) {
        const std::vector<curs*> versions = cursor_versions(*c);
        if (versions.size() < 2) continue;
        std::set<const curs*> records;
        for (curs* v : versions) {
            const curs* record = (v == c.get() ? c->tree_place : v)->age_to_cur;
            FUZZ_CHECK(v->age_to.empty() == (record == nullptr));
            if (!record) continue;
            FUZZ_CHECK(records.insert(record).second && record->is_age_copy);
            FUZZ_CHECK(find_cursor(record->cur_name) && find_cursor(record->cur_name) != record);
        }
        if (c->age_to_cur) FUZZ_CHECK(find_cursor(c->age_to_cur->cur_name) == c->age_to_cur);
    }
}

} // namespace

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
            // Every version is a complete cursor of the same name, in one
            // closed ring behind the listed cursor.
            const std::vector<curs*> versions = cursor_versions(*c);
            FUZZ_CHECK(c->parent_if == nullptr);
            for (curs* v : versions) FUZZ_CHECK(v->cur_name == c->cur_name);
            if (versions.size() > 1) {
                FUZZ_CHECK(c->vers_root && c->tree_place != c.get());
                curs* v = c->tree_place;
                for (size_t i = 0; i < versions.size(); ++i) v = v->vers_list;
                FUZZ_CHECK(v == c->tree_place);
            }
        }
        // Every bound age_to target is another cursor, shaped as a target.
        if (run_edit_passes() == 0) {
            for (const auto& c : cur_anchor)
                if (c->age_to_cur) FUZZ_CHECK(c->age_to_cur != c.get() && c->age_to_cur->is_age_copy);
            check_version_targets();
            // Choosing versions before a pass keeps each ring whole, with the
            // listed cursor standing in for one of its members.
            std::vector<size_t> sizes;
            for (const auto& c : cur_anchor) sizes.push_back(cursor_versions(*c).size());
            tune_up_cursor_versions("20260101000000");
            for (size_t i = 0; i < cur_anchor.size(); ++i) {
                curs& c = *cur_anchor[i];
                FUZZ_CHECK(cursor_versions(c).size() == sizes[i]);
                if (sizes[i] > 1) FUZZ_CHECK(c.tree_place->tree_place == c.tree_place && c.vers_list == c.tree_place->vers_list);
            }
            check_version_targets();
        }
    }
    qvxfuzz::fresh_state();
    return 0;
}
