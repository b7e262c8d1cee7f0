// History files: the historian appends the rows of each cursor marked for
// history to the file <cursor name>.HST in the collector home directory,
// each record led by the time of the historian's pass.
#pragma once

#include <string>

namespace qvx {

// One historian pass at the 14-digit time text: every cursor with history
// whose store changed since the last pass, inside its window and not held,
// gets its stored rows (the current sample with a samples limit) or its
// column-function row appended. 0 good; 1 when a file could not be opened
// (the pass stops there and later cursors wait for the next pass).
int do_history(const std::string& time_text);

} // namespace qvx
