// The two settings that guard the collector's secrets: the permission
// bits of the request channel (COLL_IPC_MODE) and the file the password
// is read from (COLL_PASSWORD_FILE). A value that cannot be honoured is
// refused with its message and its name is added to env_vars.refused:
// start-up stops rather than run more open than the operator asked.
#pragma once

#include <optional>
#include <string>

namespace qvx {

// Fills env_vars.ipc_mode from COLL_IPC_MODE once.
void fill_ipc_mode();

// Reads the password from the file COLL_PASSWORD_FILE names, once, when
// no password has been given yet.
void fill_password_file();

// The mode an octal text gives: one to four octal digits, at most 0777,
// and the owner may read and write. Nothing otherwise.
std::optional<int> parse_ipc_mode(const std::string& text);

} // namespace qvx
