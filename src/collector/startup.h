// Steps of the start-up order that run between reading PROCESS.CTL and
// DICT.CTL; exposed for the tests.
#pragma once

#include "control/identity.h"

namespace qvx {

// Reads the soft stack limit and raises it to 8192000 bytes when it is
// unlimited or lower.
void adjust_stack_limit();


// Turns "COLL_DISABLE_CURSORS" into COLL_DISABLE_CURSOR_<name> variables.
void apply_disabled_cursors();

// The settings dump written when everything is traced.
void dump_settings();

// Appends the settings to the dictionary parameters.
void seed_dictionary();

} // namespace qvx
