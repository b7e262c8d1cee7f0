#include "channel/channel_mode.h"

#include <sys/stat.h>
#include <unistd.h>

#include "runtime/settings.h"

namespace qvx {

int channel_mode(int old_mode) { return env_vars.ipc_mode >= 0 ? env_vars.ipc_mode : old_mode; }

void restrict_channel_fd(int fd) {
    if (env_vars.ipc_mode < 0 || fd < 0) return;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) return;
    if ((st.st_mode & 07777) != static_cast<mode_t>(env_vars.ipc_mode))
        (void)::fchmod(fd, static_cast<mode_t>(env_vars.ipc_mode));
}

void restrict_channel_path(const std::string& path) {
    if (env_vars.ipc_mode < 0) return;
    (void)::chmod(path.c_str(), static_cast<mode_t>(env_vars.ipc_mode));
}

} // namespace qvx
