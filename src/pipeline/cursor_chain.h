// Cursors run with other cursors: pre-cursors run before a cursor, the
// post-cursors its decodes scheduled run after it (each with the row that
// scheduled it as the cursor's current row), and an iterated cursor runs
// once per row of its driving cursor.
#pragma once

#include <string>

#include "model/cursor.h"

namespace qvx {

// Edit passes "pre_cursor", "iterate" and "iterate_where": bind the names
// and tests once every cursor is known; 0 good, 1 after errors.
int edit_pre_cursors();
int edit_iterates();
int edit_iterate_where();

// One run of the cursor with its chain: each pre-cursor in order (a
// failure is the result and the cursor is not run) followed by the
// post-cursors that pre-cursor scheduled, then the cursor itself followed
// by its own post-cursors. The run result.
//
// A post-cursor runs as a plain run: what its own decodes schedule is
// dropped when it ends, so cursors that schedule each other ("A runs B,
// B runs A") run once each per run of the first. A cursor scheduling
// itself is not run again.
int pre_prep_l_fetch(curs& cursor, const std::string& time_text);

// Runs and empties the cursor's post-cursor list; failure_id is the
// message id reported when a failure leaves entries unrun. 0, or the
// failing run's result.
int run_post_cursors(curs& cursor, const std::string& time_text, const char* failure_id);

// The iterated run of a cursor (run_cursor, for a cursor with a driving
// cursor): one collection per driving row that passes the cursor's
// iterate_where test, all in one sample numbered from 1; then the steps
// after a fetch with the last collection's row count. The last
// collection's result.
int run_iteration(curs& cursor, curs& driver, const std::string& time_text);

} // namespace qvx
