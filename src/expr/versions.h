// Choosing a cursor's version before each collection pass: the conditions
// of its decision tree are evaluated against the cursor's latest row and
// the version reached is moved into the listed cursor (the slot), whose
// rows, times and hold state stay with it.
#pragma once

#include <string>

#include "model/cursor.h"

namespace qvx {

// Makes the conditions of "if" clauses parse with the shared term table
// (start-up and test reset).
void install_condition_parser();

// -1 error (reported, retried next pass), 0 unchanged, 1 changed.
int select_cursor_version(curs& cursor, const std::string& time);

// Selects the version of every cursor that has them and, after a change,
// binds the clauses again. 1 when some selection or re-binding failed or
// there are no cursors, else 0.
int tune_up_cursor_versions(const std::string& time);

// Frees the shared term table of the conditions (after the cursors are gone).
void reset_versions();

} // namespace qvx
