// Binding the cursor names of pre_cursor and iterate, and the
// iterate_where tests, once every cursor is known.
#include "control/cursor_lists_clause.h"
#include "model/cursor_list.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/decode_eval.h"
#include "runtime/messages.h"

namespace qvx {

int edit_pre_cursors() {
    int rc = 0;
    for (const auto& c : cur_anchor) {
        if (!c->pre_cursor) continue;
        for (PreCursorEntry& pre : c->pre_cursor->entries) {
            if (pre.name == c->cur_name) {
                PRINT('e', "ppr3115", "Can't pre_cursor yourself in cursor %s\n", c->cur_name.c_str());
                rc = 1;
            } else if (!(pre.cursor = find_cursor(pre.name))) {
                PRINT('e', "ppr3120", "Pre_cursor %s not found for cursor %s\n", pre.name.c_str(),
                      c->cur_name.c_str());
                rc = 1;
            }
        }
    }
    return rc;
}

int edit_iterates() {
    int rc = 0;
    for (const auto& c : cur_anchor) {
        if (!c->iterate) continue;
        IterateClauses& it = *c->iterate;
        if (it.name == c->cur_name) {
            PRINT('e', "pit3130", "Can't iterate yourself in cursor %s\n", c->cur_name.c_str());
            rc = 1;
        } else if (!(it.driver = find_cursor(it.name))) {
            PRINT('e', "pit3135", "Iterator %s not found for cursor %s\n", it.name.c_str(), c->cur_name.c_str());
            rc = 1;
        }
    }
    return rc;
}

int edit_iterate_where() {
    bool any = false;
    bool failed = false;
    for (const auto& c : cur_anchor) {
        if (!c->iterate_where) continue;
        any = true;
        IterateWhereClauses& w = *c->iterate_where;
        curs* driver = c->iterate ? c->iterate->driver : nullptr;
        w.ready = driver && bind_decode_test(*c, *driver, w.test, "pit4485",
                                             "ITERATE_WHERE Column (%s) not found in cursor %s\n") == 0;
        if (!w.ready) failed = true;
    }
    if (!any) return 0;
    if (failed) {
        PRINT('e', "pit4495", "ITERATE_WHERE edits failed\n");
        return 1;
    }
    PRINT('i', "pit4490", "ITERATE_WHERE edits successful\n");
    return 0;
}

} // namespace qvx
