// Interface definitions (".UPA" files): a cursor whose INSERT clause is
// written "INSERT !name" takes its delivered table and columns from the
// file name.UPA instead of spelling them out. The reader deduces the
// INSERT statement (and the cursor's columns) from the file's INTERFACE
// and COLUMN statements and keeps its identifiers on the cursor.
#pragma once

#include <string>
#include <string_view>

#include "control/cursor.h"

namespace qvx {

// Reads the interface definition named by word (every "!" removed, up to
// the first blank, then ".UPA") and writes the deduced INSERT statement
// into out, adding one column per interface column to the cursor. 0 good,
// 1 failed (reported).
int parse_upa(std::string_view word, std::string& out, curs& cursor);

} // namespace qvx
