// Output of a short shell command, bounded in lines and characters.
#include "support/shell.h"

#include "support/child_process.h"

namespace qvx {

std::string u_shell_output(const std::string& command) { return u_shell(command); }

} // namespace qvx
