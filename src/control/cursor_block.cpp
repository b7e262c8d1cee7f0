// The checks and defaults of a finished cursor block. Every check runs,
// so that one block reports all its faults; defaults (interval, row limit,
// whole-day windows) only warn.
#include "control/cursor.h"
#include "runtime/messages.h"

namespace qvx {

int edit_cursor_block(curs& c) {
    int rc = 0;
    auto fail = [&rc] { rc = 1; };
    const bool named = !c.cur_name.empty();
    const bool scheduled = !c.demand && !c.virtual_cur;

    for (size_t i = 0; i < c.cols.size(); ++i) c.cols[i].ordinal = static_cast<int16_t>(i + 1);
    c.blank16.fill(' ');

    if (!named) {
        PRINT('e', "pcc0327", "No cursor name\n");
        fail();
    }
    if (c.stale && !c.demand) {
        PRINT('t', "pcc0340", "Error - Stale only valid with demand cursor\n");
        fail();
    }
    if (scheduled && c.interval == 0) {
        c.interval = 10;
        PRINT('w', "pcc0345", "Using default interval of 10 seconds for cursor %s\n",
              c.cur_name.c_str());
    }
    if (c.dummy_last_row && c.conditional_dummy_last_row) {
        PRINT('e', "pcc0350", "Conditional_dummy_last_row and dummy_last_row are exclusive\n");
        fail();
    }
    if (c.cols.empty()) {
        PRINT('e', "pcc0355", "No local columns to fetch for insert\n");
        fail();
    }
    if (!c.insert) {
        if (named) PRINT('e', "pcc0360", "Cursor (%s). No model INSERT statement\n", c.cur_name.c_str());
        else PRINT('e', "pcc0360", "No model INSERT statement\n");
        fail();
    }
    if (c.table_name.empty()) {
        if (named) PRINT('e', "pcc0365", "Cursor (%s). No table name found\n", c.cur_name.c_str());
        else PRINT('e', "pcc0365", "No table name found\n");
        fail();
    }
    if (scheduled && c.row_limit == 0 && c.time_limit == 0) {
        c.row_limit = 200;
        if (named)
            PRINT('w', "pcc0370", "Warning, Cursor (%s) No cursor row limit, using 200 rows\n",
                  c.cur_name.c_str());
        else
            PRINT('w', "pcc0370", "Warning, No cursor row limit, using 200 rows\n");
    }
    for (auto& list : c.ranges)
        if (list.empty()) set_operate(list, 0, 86400);
    if (c.empty && c.once) {
        PRINT('e', "pcc0390", "Empty and Once are incompatable\n");
        fail();
    }
    if (c.no_sql) {
        if (c.raw_insert_select) {
            PRINT('e', "pcc0400", "NO_SQL and INSERT_SELECT are incompatable\n");
            fail();
        }
        if (c.virtual_cur) {
            PRINT('e', "pcc0405", "NO_SQL and VIRTUAL are incompatable\n");
            fail();
        }
        if (c.base) {
            PRINT('e', "pcc0410", "NO_SQL and BASE are incompatable\n");
            fail();
        }
    }
    if (c.iterate_where && !c.iterate) {
        PRINT('e', "pcc0415", "ITERATE_WHERE requires ITERATE\n");
        fail();
    }
    // A script exit needs its script and the select list its output fills;
    // the select list becomes the columns the output lines fill.
    if (c.fetch_exit && c.fetch_exit->runs_script()) {
        if (!c.script || !c.raw_insert_select) {
            PRINT('e', "pcc0440", "Fetch exit %s requires 'script' and 'select'\n",
                  c.fetch_exit->name.c_str());
            fail();
        } else if (parse_script_columns(c) != 0) {
            fail();
        }
    }
    return rc;
}

} // namespace qvx
