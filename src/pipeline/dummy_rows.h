// Dummy rows: a placeholder row appended after a fetch so that a cursor
// always has a last row ("dummy_last_row", or "conditional_dummy_last_row"
// only when the store is empty).
#pragma once

#include "control/cursor.h"
#include "model/select_row.h"

namespace qvx {

// Appends the cursor's dummy row (built once: blanks, "N/A" in text
// columns, '0' at the end of number columns) with the current sample and
// the next row number. Nothing while the row layout is unknown.
void build_dummy_last_row(curs& cursor);

// The step after a fetch: the dummy row of a cursor with dummy_last_row,
// and of one with conditional_dummy_last_row whose store is empty.
void add_dummy_rows(curs& cursor, int rows);

// After a fetch that built no row while the cursor is unbound: lays the
// columns out from desc without data so that a dummy row can be built
// (the cursor stays unbound: its first fetched row binds it). origin says
// whether desc describes a fetch or a fetch exit's parsed output, which
// the messages name. 0, or 1 when a column cannot be laid out (reported;
// an unknown percent variable or an unresolvable name also holds the
// cursor).
int setup_dummy(curs& cursor, const SelectDescriptor& desc, RowOrigin origin);

} // namespace qvx
