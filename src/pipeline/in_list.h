// In-lists: a column of a cursor's rows as one list text, such as
// "( 'AB' , 'XY' )" or "(    42 ,     7 )", rebuilt after every fetch, that
// decodes test values against with the operator "in".
#pragma once

#include <string_view>

#include "control/cursor_lists_clause.h"
#include "model/cursor.h"

namespace qvx {

// Binds every in-list to its column (edit pass "in_list"); 0 good, 1
// after errors (each reported).
int edit_in_lists();

// Rebuilds the texts of the cursor's in-lists from its stored rows (only
// the current sample with a samples limit); "( 'ZIP' )" without rows.
void build_in_list(curs& cursor);

// The same as the after-fetch step (rows: what the fetch stored).
void build_in_lists_after_fetch(curs& cursor, int rows);

// The in-list a decode names as "cursor.list"; null when there is none
// (reported).
const InList* find_in_list(std::string_view name);

} // namespace qvx
