// Clauses of a cursor block that this collector reads and checks but does
// not apply yet. A block that uses one is told so once, at the block's
// line, so that nobody takes a silent clause for a working one.
#pragma once

#include "model/cursor.h"

namespace qvx {

// Warns (pcc0516) once per clause kind the cursor uses that has no effect.
// Returns the number of such clauses.
int report_unapplied_clauses(const curs& cursor);

} // namespace qvx
