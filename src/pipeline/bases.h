// Base rows: which row of another cursor a row being built reads. By
// default that is the other cursor's current row; a "base" clause joins
// on a key instead, choosing for every fetched row the base cursor's row
// whose key column equals the row's key item.
#pragma once

#include <cstdint>

#include "control/cursor.h"
#include "model/select_row.h"

namespace qvx {

// Binds every base clause to its base cursor and key column (edit pass
// "base"); 0 good, 1 after errors (each reported).
int edit_bases();

// Chooses the base row of every base clause of the cursor for the row
// now in desc. 0, or 1 when a base has no row (the row is rejected).
// The base cursor's rows are indexed by key once per change of its rows,
// so a fetch costs one look-up per row; the row chosen is the oldest
// matching one, as a search from the oldest row would find.
int set_bases(curs& cursor, const SelectDescriptor& desc, RowOrigin origin);

// The row of referenced that the row being built in cursor reads: the
// row its base clause chose, else referenced's current row; null when
// there is none.
const row_data* locate_base_row(const curs& referenced, const curs& cursor);

// The same row's text at offset; null when there is no row.
const char* locate_base(const curs& referenced, const curs& cursor, int32_t offset);

// Forgets the key item last warned about (tests).
void reset_bases();

} // namespace qvx
