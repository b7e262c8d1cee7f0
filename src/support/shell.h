// Output of a short shell command, used for defaults of the settings
// (`uname -n`, `whoami`, `pwd`).
#pragma once

#include <string>

namespace qvx {

// Runs the command and returns its standard output: at most 500 lines and
// 4094 characters, trailing white space of each line removed, lines joined
// with single blanks. A start that fails without an error number is tried
// again once after a second; a final failure is reported (uti2050) and
// gives an empty string.
std::string u_shell_output(const std::string& command);

} // namespace qvx
