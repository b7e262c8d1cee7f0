// Puts every collector module back to its start-up state, and captures
// what a piece of code writes to the standard streams.
#pragma once

#include <functional>
#include <string>

#include "model/cursor.h"

namespace qvxtest {

// Resets settings, trace switches, message output, dictionary parameters
// and elements, distributors, signal handlers and the environment pass.
void reset_collector_state();

// reset_collector_state, then the collector home, the output directory
// and the temporary directories all in dir, database type "qvx" (control
// files are then dir/qvx*.ctl).
void reset_collector_state_in(const std::string& dir);

// Standard output and standard error written while fn runs.
std::string captured(const std::function<void()>& fn);

// Stores n rows without text on the cursor, for tests that need a row
// count only.
void give_rows(qvx::curs& c, int n);

// Case-insensitive search.
bool has(const std::string& text, const std::string& part);

} // namespace qvxtest
