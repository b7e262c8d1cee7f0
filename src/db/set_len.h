// Fetch lengths given by set_len clauses: before the columns of a fetch
// are sized, the named select-list items take the lengths the clauses
// give them instead of the lengths their types would.
#pragma once

#include "model/cursor.h"
#include "model/select_row.h"

namespace qvx {

// Looks each set_len name of the cursor up among the items of the
// described select list (same length and bytes) and remembers its
// position. An unknown name holds the cursor (reported): 1; when every
// name is found the cursor's entries count as resolved: 0.
int init_set_len(curs& cursor, const SelectDescriptor& desc);

// Gives each resolved entry's item its fetch length, in clause order.
void set_the_lengths(const curs& cursor, SelectDescriptor& desc);

// What the fetch does before sizing: resolves the entries on the first
// collection (init_set_len), then sets the lengths. 0, or 1 when the
// cursor was held.
int apply_set_len(curs& cursor, SelectDescriptor& desc);

} // namespace qvx
