// The send layout: a stored row as the agent receives it. Columns in
// order; text and timestamps take their send width, integers a 4-byte
// binary integer at the next multiple of 4, floats an 8-byte double at the
// next multiple of 8, unsent columns no room. Padding is zero.
#pragma once

#include "control/cursor.h"

namespace qvx {

// How a column of the declared type is sent (SendType).
SendType send_type_of(ColumnType decl_type);

// Computes every column's row_offset and the cursor's row_size (returned).
int32_t get_row_size(curs& cursor);

// Converts one stored row into the send layout at dest (row_size bytes;
// computed first when still 0).
void make_row(curs& cursor, char* dest, const row_data& row);

} // namespace qvx
