// Names of temporary files for the request channel and child processes:
// local temporary directory, identity pieces, and (unless asked for a
// plain name) the time, a call counter and the process id.
#include "runtime/message_state.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

#include <filesystem>
#include <unistd.h>

namespace qvx {
namespace {

constexpr int kMaxTempCounter = 101;

// The local temporary directory, created on the first call; "." when it
// cannot be had.
const std::string& temp_directory() {
    msgout::State& st = msgout::state();
    if (!st.temp_dir) {
        std::string dir = env_vars.localtmpdir;
        std::error_code ec;
        if (!dir.empty()) std::filesystem::create_directories(dir, ec);
        if (dir.empty() || !std::filesystem::is_directory(dir, ec)) {
            PRINT('w', "utf0105", "Could not create path: %s, using '.'\n", dir.c_str());
            dir = ".";
        }
        st.temp_dir = dir;
    }
    return *st.temp_dir;
}

} // namespace

std::string u_createTempFileName(const std::string& suffix, char mode) {
    const EnvVars& e = env_vars;
    std::string name = temp_directory() + "/";
    if (!e.hostname.empty()) name += e.hostname + "_";
    if (e.db_type.size() > 1) name += e.db_type.substr(1) + "_";
    if (!e.serverid.empty()) name += e.serverid + "_";
    if (mode != 'n' && mode != 'N') {
        int& counter = msgout::state().temp_counter;
        counter = counter >= kMaxTempCounter ? 1 : counter + 1;
        name += msgout::local_time("%H%M%S") + std::to_string(counter) + "_" +
                std::to_string(::getpid()) + "_";
    }
    return name + suffix;
}

} // namespace qvx
