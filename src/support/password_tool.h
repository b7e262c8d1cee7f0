// qvxpass: writes the scrambled form of a database password, bound to the
// logon id and server id the collector runs with, for PROCESS.CTL
// ("password ...;"), -password or COLL_PASSWORD. The password is read from
// the first line of standard input, so that it shows neither in the
// process list nor in the shell's history.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qvx {

// The current scrambled form for the logon id and server id (the key the
// collector unscrambles with); nothing when the password cannot be
// carried (more than 49 characters, a tab, characters outside the table).
std::optional<std::string> scramble_for_logon(std::string_view password, std::string_view logon_id,
                                              std::string_view server_id);

// The program: "qvxpass LOGON_ID [SERVER_ID]" with the password on
// standard input; the scrambled form on out. 0, 1 when the password cannot
// be scrambled, 64 for a usage error.
int password_tool_main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace qvx
