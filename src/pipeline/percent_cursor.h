// The percent cursor "%CURSOR": the collector's percent variables (run
// statistics of the cursor being built, time stamps, machine identity,
// logon return codes, request parameters) as the columns of one row that
// any cursor can read.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "control/cursor.h"

namespace qvx {

// The percent cursor; null until created.
extern curs* percent_cursor;

// Builds the percent cursor from the variables and appends it to the
// cursor list; 0 good, 1 when its columns could not be built.
int create_percent_cursor();

// The percent column of that name (compared without regard to case over
// 50 characters), or null. "%machine_me" is answered with
// "%machine_me_ora" for an Oracle collector.
columns* find_pcnt_col(std::string_view name);

// Refreshes the run variables from the cursor whose row is being built:
// "%now_time" from the time text, and the row number, sample number, now
// seconds, execution time and current interval.
void refresh_percent_fields(const curs& cursor, const std::string& time_text);

// Writes the cursor's conn_rc_text into its "%sqlcode_" variable.
void set_percent_sqlcode(const curs& cursor);

// Gives the request parameters to the "%parm" columns: the k-th column
// whose name begins with "%parm" (any case) takes parms[k] when k < count
// (its value becomes the text, its length the text's length up to 256);
// the others keep their values.
void set_request_parms(std::span<const std::string> parms, int count);

// Forgets the percent cursor (the cursor list is being deleted).
void forget_percent_cursor();

// Writes value as right-aligned decimal text into a blank field of width
// bytes; digits that do not fit are lost on the left.
void put_decimal(char* field, size_t width, long value);

} // namespace qvx
