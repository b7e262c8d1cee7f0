// Running one cursor: fetching its rows and storing them as a new sample.
#pragma once

#include "control/cursor.h"

namespace qvx {

// Runs the cursor now; 0 on success. Until the row store exists a run
// only records its time.
int get_cursor_data(curs& cursor);

} // namespace qvx
