// Column references used by the clauses of a cursor: a column of the
// cursor itself, a percent variable or another cursor's column.
#pragma once

#include <string_view>

#include "control/cursor.h"

namespace qvx {

// Resolves name to a column and its cursor: 0 resolved, 1 not found
// (reported). An unknown cursor leaves both outputs null.
int find_col(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out);

// Binds every column written as cursor.column to the column it reads
// (edit pass "qualified"): the part before the first '.' names the
// source cursor, the rest its column, looked up across its versions.
// 0 good, 1 after errors (each reported).
int set_qualifieds();

// Numbers the columns 1, 2, 3 ... in order.
void set_col_ordinals(curs& cursor);

} // namespace qvx
