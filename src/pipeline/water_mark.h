// High and low water marks: a HIGH_WATER or LOW_WATER column keeps the
// highest (lowest) value it has seen over every run of its cursor, and
// each built row shows the mark instead of a value that does not pass it.
#pragma once

#include "model/cursor.h"

namespace qvx {

// The row step: for each water mark column whose value in the row is not
// null, either the value becomes the mark or the row gets the mark.
// Values compare by their bytes over the column's length.
void apply_water_marks(curs& cursor, row_data& row);

} // namespace qvx
