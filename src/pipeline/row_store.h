// The row store: building a fetched row into the cursor's row text,
// keeping rows by sample, trimming them, and reading them out in the send
// layout (clusters).
#pragma once

#include <string>

#include "control/cursor.h"
#include "db/fetch.h"

namespace qvx {

// Builds and stores one row from the descriptor's current row (null for a
// cursor without SQL). Returns the text length of the stored row, 0 when
// the row was rejected (the fetch then stops), -1 when memory ran out.
int merge_text(curs& cursor, const SelectDescriptor* desc, const std::string& time_text);

} // namespace qvx
