// Steps of the start-up order that run between reading PROCESS.CTL and
// DICT.CTL; exposed for the tests.
#pragma once

#include <functional>

#include "control/identity.h"

namespace qvx {

// The control files in the order start-up reads them.
enum class ControlFile { process, dict, collect, trace, eval };

// Told the result of each control file (0 good); false stops the reading.
using ControlFileDone = std::function<bool(ControlFile, int rc)>;
// Told before each control file is read.
using ControlFileNext = std::function<void(ControlFile)>;

// From PROCESS.CTL to TRACE.CTL as start-up reads them: the distributors,
// the collector identity, cursor disabling, the settings dump, the
// dictionary seeds, DICT.CTL, COLLECT.CTL with the edit passes, TRACE.CTL,
// and the evaluation file when PROCESS.CTL has an "evaluator".
// Returns 0 when every file was read (TRACE.CTL may have failed), else 1.
int read_control_files(const ControlFileDone& done, const ControlFileNext& next = nullptr);

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
