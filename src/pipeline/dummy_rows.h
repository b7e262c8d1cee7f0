// Dummy rows: a placeholder row appended after a fetch so that a cursor
// always has a last row ("dummy_last_row", or "conditional_dummy_last_row"
// only when the store is empty).
#pragma once

#include "control/cursor.h"
#include "model/select_row.h"

namespace qvx {

// Appends the cursor's dummy row (built once: blanks, "N/A" in text
// columns, '0' at the end of number columns). Nothing while the row
// layout is unknown.
void build_dummy_last_row(curs& cursor);

// After a fetch that built no row while the cursor is unbound: lays the
// columns out from desc without data so that a dummy row can be built.
// 0, or 1 when a column cannot be laid out (reported).
int setup_dummy(curs& cursor, const SelectDescriptor& desc, RowOrigin origin);

} // namespace qvx
