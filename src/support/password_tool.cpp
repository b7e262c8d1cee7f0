#include "support/password_tool.h"

#include <istream>
#include <ostream>

#include "support/password.h"

namespace qvx {

namespace {

constexpr int kUsageError = 64;

const char* const kUsage =
    "usage: qvxpass LOGON_ID [SERVER_ID] < file-holding-the-password\n"
    "       printf '%s\\n' \"$PASSWORD\" | qvxpass LOGON_ID [SERVER_ID]\n"
    "\n"
    "Writes the scrambled form of the password on the first line of standard\n"
    "input. It only unscrambles for the same logon id and server id: give the\n"
    "values the collector runs with (its -logonid / COLL_LOGON or the logon_id of\n"
    "PROCESS.CTL, and its -rdbms / COLL_SERVERID or the server_id of the\n"
    "collector distributor; none when it has no server id).\n";

} // namespace

std::optional<std::string> scramble_for_logon(std::string_view password, std::string_view logon_id,
                                              std::string_view server_id) {
    std::string key(logon_id);
    key += '\t';
    key += server_id;
    return n_Encrypt(password, key);
}

int password_tool_main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    if (argc >= 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        out << kUsage;
        return 0;
    }
    if (argc < 2 || argc > 3 || !*argv[1]) {
        err << "qvxpass: give the logon id and, when the collector has one, the server id; see qvxpass --help\n";
        return kUsageError;
    }
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        err << "qvxpass: no password on standard input\n";
        return kUsageError;
    }
    const auto scrambled = scramble_for_logon(password, argv[1], argc == 3 ? argv[2] : "");
    if (!scrambled) {
        err << "qvxpass: this password cannot be scrambled (at most 49 characters, no tab, printable "
               "characters)\n";
        return 1;
    }
    out << *scrambled << "\n";
    return 0;
}

} // namespace qvx
