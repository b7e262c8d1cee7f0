// Math columns: binding every cursor's math clauses to columns and cursors
// once all cursors are known (edit pass "math"), and computing a math
// column's value in the row being built (row step "math").
#pragma once

#include "control/math_clause.h"
#include "model/cursor.h"

namespace qvx {

// Binds the names of every cursor's math clauses and makes the columns
// named by a clause math columns (Number, 16 bytes unless "^n" gives the
// width). 0 when every cursor binds, 1 otherwise; every error is reported,
// then "Math editing successful" or "Math editing failed".
int edit_math();

// Computes the math column's value into its field of the row being built
// (row_text: the row's text, the column at its buf_offset). Never fails:
// a missing source, a division by zero or an empty result gives 0.
void do_math(curs& cursor, const columns& column, char* row_text);

// Reduces the filled work array of the definition to its answer: the
// innermost parenthesis first, * and / before + and -, each level left to
// right. A division by 0, or nothing left to answer, gives 0.
double do_arith(MathDef& math, const curs& cursor);

// The row step: every math column of the cursor, in column order.
void math_row_step(curs& cursor, row_data& row);

} // namespace qvx
