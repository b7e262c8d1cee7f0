// Pre-cursors and post-cursors around one run of a cursor.
#include "pipeline/cursor_chain.h"

#include <utility>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "pipeline/cursor_run.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The newest row of the sample position row_no, or null.
row_data* last_row_numbered(const curs& c, int32_t row_no) {
    row_data* found = nullptr;
    for (row_data* r = c.rows.first(); r; r = r->next)
        if (r->row_no == row_no) found = r;
    return found;
}

// A cursor run on behalf of another: its own scheduled cursors do not run.
int run_scheduled(curs& c, const std::string& time_text) {
    const int rc = run_cursor(c, time_text);
    c.post_cursors.clear();
    return rc;
}

} // namespace

int run_post_cursors(curs& c, const std::string& time_text, const char* failure_id) {
    std::vector<PostCursor> list = std::exchange(c.post_cursors, {});
    for (size_t i = 0; i < list.size(); ++i) {
        const PostCursor& entry = list[i];
        if (!entry.cursor || entry.cursor == &c) continue;
        row_data* const saved = c.reading_row;
        if (row_data* r = last_row_numbered(c, entry.row_no)) c.reading_row = r;
        const int rc = run_scheduled(*entry.cursor, time_text);
        c.reading_row = saved;
        if (rc != 0) {
            if (i + 1 < list.size()) PRINT('e', failure_id, "Post cursor failed, breaking the chain\n");
            return rc;
        }
    }
    return 0;
}

int pre_prep_l_fetch(curs& c, const std::string& time_text) {
    if (c.pre_cursor) {
        for (const PreCursorEntry& pre : c.pre_cursor->entries) {
            if (!pre.cursor) continue;
            const int rc = run_cursor(*pre.cursor, time_text);
            if (rc != 0) {
                pre.cursor->post_cursors.clear();
                return rc;
            }
            run_post_cursors(*pre.cursor, time_text, "cfe3195");
        }
    }
    const int rc = run_cursor(c, time_text);
    if (rc != 0) {
        c.post_cursors.clear();
        return rc;
    }
    run_post_cursors(c, time_text, "pfe3200");
    return 0;
}

} // namespace qvx
