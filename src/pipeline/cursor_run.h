// Running one cursor: the hold test, trimming before the run, the logon
// when no connection is up, and the fetch that stores the new sample.
#pragma once

#include <string>

#include "control/cursor.h"

namespace qvx {

// Logon state of the collector: 0 logged on (or never tried), 1 the last
// logon failed, 2 a new logon was asked for (kept through a failure).
enum DbLogonState { kLogonGood = 0, kLogonFailed = 1, kLogonRenew = 2 };
extern int db_logon_state;

// Runs the cursor now and records the outcome at the collector
// distributor ("GOOD" or "FAIL" with the time). A virtual cursor is only
// marked changed. 0 on success, 1 on failure.
int get_cursor_data(curs& cursor);

// One run: 0 success (also for a held cursor, which is not run), 1 when
// the logon failed, otherwise the fetch's result.
int run_cursor(curs& cursor, const std::string& time_text);

// True for an age_to target (its rows come only from its source).
bool is_age_to_copy(const curs& cursor);

// Forgets the logon state (tests).
void reset_cursor_run();

} // namespace qvx
