// Column functions: one summary value of a column over a cursor's stored
// rows (MIN, MAX, AVG, WAVG, TREND, SUM, COUNT, and the HIGH_WATER and
// LOW_WATER marks), and the column-function row a read-out answers with.
#pragma once

#include "model/cursor.h"

namespace qvx {

// The column-function row of the cursor (built again only after its
// store changed), or null: no column functions, a failed run, a failed
// function.
row_data* do_column_func(curs& cursor);

// The column's function over the cursor's rows (the current sample only
// with a samples limit), length bytes at dest. 0 good, 1 failed. A column
// whose type is not Number goes to col_funct_char (COUNT never does).
int col_function(curs& cursor, columns& column, char* dest);
int col_funct_char(curs& cursor, columns& column, char* dest);

} // namespace qvx
