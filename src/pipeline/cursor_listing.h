// The column listing of a cursor, written once when show_cursor is on.
#pragma once

#include "control/cursor.h"

namespace qvx {

// Writes the cursor's column listing and clears show_cursor; returns 0.
int sho_cur(curs& cursor);

} // namespace qvx
