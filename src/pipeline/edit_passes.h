// The edit passes: after COLLECT.CTL is read, each pass binds one kind of
// clause kept on the cursors, in a fixed order (a later pass may rely on
// what an earlier one made: the percent cursor before the virtual
// cursors, the loads before the qualified names).
#pragma once

#include <span>

namespace qvx {

struct EditPass {
    const char* name;
    int (*run)();  // 0 good; null while the clause kind has no processing
};

// The passes in the order start-up runs them.
std::span<const EditPass> edit_passes();

// Runs every pass, stopping at the first failure; 0 good, else its result.
int run_edit_passes();

// Runs parse_curs and, when it succeeded, the edit passes; 0 good, else
// the first failure's result.
int load_cursors();

// load_cursors; on failure deletes all cursors and ends the collector
// through quitting(-1001).
int init_cursors();

} // namespace qvx
