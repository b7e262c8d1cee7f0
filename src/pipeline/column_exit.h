// Column exits: binding every cursor's column_exit clauses to columns
// once all cursors are known (edit pass "column_exit"), and running a
// column's exits on the row being built (row step "column_exit", after
// math and decodes).
#pragma once

#include <span>

#include "control/column_exit_clause.h"
#include "model/cursor.h"

namespace qvx {

// A routine: reformats the column's field in the row being built
// (row_text: the row's text, the field at the column's buf_offset, its
// length bytes) by the exit's arguments. 0 done, 1 failed (reported).
using ExitFunction = int (*)(curs& cursor, columns& column, char* row_text, const ColumnExit& exit);

struct ExitRoutineEntry {
    ExitRoutine routine;
    ExitFunction run;
};

// The routines, one per ExitRoutine, in the order of that enumeration.
std::span<const ExitRoutineEntry> exit_routines();

// Binds every cursor's exit chains to its columns and resolves the
// CONCAT columns by the column-reference rules. 0 when everything binds,
// 1 otherwise; every error is reported, then "Column exit editing was
// successful" or "Column exit editing failed".
int edit_col_exits();

// Runs the exits of the chain on the column in clause order: 0, or the
// first routine result that is not 0 (the later exits of the chain are
// then skipped for this row; the row is kept either way).
int column_exit_driver(curs& cursor, columns& column, char* row_text, const ColumnExitChain& chain);

// The row step: every column with exits, in column order.
void column_exit_row(curs& cursor, row_data& row);

} // namespace qvx
