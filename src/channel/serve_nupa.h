// Request service group: the "nupa" distributor, the service's
// counterpart without an agent: writes the rows of the cursors it names to
// the message output, one line per column.
#pragma once

#include "control/cursor.h"
#include "control/distributor.h"

namespace qvx {

// The cursor whose rows send_a_row wrote last.
extern const curs* last_curs;

// Writes the rows of every cursor whose window has started, whose class
// the distributor names and that is not held; the result of the last
// cursor close.
int do_nupa(distrib& d, long time);

// Writes one send-layout row of the cursor (preceded by the cursor's
// INSERT statement when the cursor differs from the last one); 0.
int send_a_row(const curs& cursor, const char* row);

// Forgets the last cursor sent (tests).
void reset_nupa();

} // namespace qvx
