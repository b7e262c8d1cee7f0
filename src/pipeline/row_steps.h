// The row steps: what works on a built row's text after its values are
// filled and before it is stored (water marks, math columns, decodes,
// column exits), in that order. A step sees the finished values of the
// row's own columns; it cannot reject the row.
#pragma once

#include <span>

#include "model/cursor.h"

namespace qvx {

struct RowStep {
    const char* name;
    void (*run)(curs& cursor, row_data& row);  // null while the clause kind has no processing
};

// The steps in the order a row goes through them.
std::span<const RowStep> row_steps();

// Runs every step on the row.
void run_row_steps(curs& cursor, row_data& row);

} // namespace qvx
