// Output of a short shell command, used for defaults of the settings
// (`uname -n`, `whoami`, `pwd`).
#pragma once

#include <string>

namespace qvx {

// Runs the command and returns its standard output: at most 500 lines and
// 4094 characters, trailing white space of each line removed, lines joined
// with single blanks, more than two empty lines in a row end the reading.
// A start that fails without an error number is tried again once after a
// second; a final failure is reported (uti2050) and gives an empty string.
// The shell query u_shell of support/child_process.h under its settings
// name.
std::string u_shell_output(const std::string& command);

} // namespace qvx
