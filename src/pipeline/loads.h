// Loads: after every fetch of a cursor, each of its loads writes a value
// of the fetched rows (one row's value, or a count, sum or average over
// the rows that pass the load's where test) into a column of a virtual
// cursor's single row. A fetch without rows puts the target back to its
// dictionary element's initial value. A cursor with a samples limit
// loads from the rows of its current sample only.
#pragma once

#include <cstddef>
#include <string_view>

#include "control/load_clause.h"
#include "model/cursor.h"

namespace qvx {

// Binds the where tests of every load (after parse_loads); "Load predicate
// editing successful" or "... failed"; 0 good, 1 after errors.
int edit_loads();

// The edit pass "loads": parse_loads, then edit_loads.
int load_pass();

// Runs the cursor's loads after a fetch that stored rows rows; 0, or
// non-zero when a load's column function failed (the later loads are not
// run).
int process_loads(curs& cursor, int rows);

// Moves the source column's value (src, its length bytes) into the target
// field dst (dst_col's length bytes): blanks and tabs stripped at both
// ends, then a Number source right-aligned (its rightmost characters kept
// when too long), anything else left-aligned (cut to the field).
void set_one_var(const columns& src_col, const columns& dst_col, char* dst, const char* src, const curs& cursor);

// The first row of the cursor holding the value of the column that occurs
// most often (the value seen first among equally frequent ones), or null
// when the cursor has no rows. One pass over the rows.
const row_data* get_max_occurance(const curs& cursor, const columns& column);

// Writes text right-aligned into the blank-filled field of width bytes.
// Text wider than the field keeps its leftmost characters when the cut
// falls after its decimal point (the fraction is shortened); when even
// the digits before the point do not fit, the field is filled with '*'.
void put_aggregate(char* field, size_t width, std::string_view text);

} // namespace qvx
