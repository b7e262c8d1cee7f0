// COLL_IPC_MODE and COLL_PASSWORD_FILE.
#include "support/guarded_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/environment.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

namespace qvx {

namespace {

constexpr size_t kLongestPasswordFile = 4096;

// Reports a refused setting and keeps its reason for the start-up's
// last word (this runs before the message file is open).
void refuse(const char* name, const char* msgid, const std::string& text) {
    PRINT('e', msgid, "%s\n", text.c_str());
    if (!env_vars.refused.empty()) env_vars.refused += "; ";
    env_vars.refused += std::string(name) + ": " + text;
}

std::string cannot_read(const std::string& path, const char* why) {
    return "Cannot read the password file '" + path + "' that COLL_PASSWORD_FILE names: " + why;
}

// Who besides the owner may read a file of this mode, or nullptr.
const char* other_readers(mode_t mode) {
    const bool group = (mode & S_IRGRP) != 0;
    const bool others = (mode & S_IROTH) != 0;
    if (group && others) return "its group and all users";
    if (group) return "its group";
    if (others) return "all users";
    return nullptr;
}

// The first line of the file, or nothing after its message.
std::optional<std::string> read_password_file(const std::string& path) {
    // Never blocking on a FIFO someone put in its place.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refuse("COLL_PASSWORD_FILE", "uen0031", cannot_read(path, std::strerror(errno)));
        return std::nullopt;
    }
    struct stat st{};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        refuse("COLL_PASSWORD_FILE", "uen0031", cannot_read(path, "not a regular file"));
    } else if (const char* who = other_readers(st.st_mode)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        refuse("COLL_PASSWORD_FILE", "uen0032",
               "The password file '" + path + "' is readable by " + who + " (mode " + mode +
                   "): make it readable by its owner only (chmod 600)");
        ok = false;
    } else {
        char buf[kLongestPasswordFile];
        ssize_t n;
        while (text.size() < kLongestPasswordFile &&
               (n = ::read(fd, buf, kLongestPasswordFile - text.size())) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                refuse("COLL_PASSWORD_FILE", "uen0031", cannot_read(path, std::strerror(errno)));
                ok = false;
                break;
            }
            text.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.empty()) {
        refuse("COLL_PASSWORD_FILE", "uen0033",
               "The password file '" + path + "' holds no password on its first line");
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<int> parse_ipc_mode(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    int mode = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '7') return std::nullopt;
        mode = mode * 8 + (ch - '0');
    }
    if (mode > 0777 || (mode & 0600) != 0600) return std::nullopt;
    return mode;
}

void fill_ipc_mode() {
    if (env_vars.ipc_mode_set) return;
    env_vars.ipc_mode_set = true;
    env_vars.ipc_mode = -1;
    auto text = u_getenv("COLL_IPC_MODE", 0, nullptr);
    if (!text || text->empty()) return;
    if (auto mode = parse_ipc_mode(*text)) {
        env_vars.ipc_mode = *mode;
        return;
    }
    refuse("COLL_IPC_MODE", "uen0030",
           "'COLL_IPC_MODE' is not an octal mode that lets the owner read and write, such as 0600 or 0660 (" +
               *text + ")");
}

void fill_password_file() {
    if (env_vars.password_file_read) return;
    if (env_vars.password_file.empty()) {
        auto path = u_getenv("COLL_PASSWORD_FILE", 0, nullptr);
        if (!path || path->empty()) return;
        env_vars.password_file = *path;
    }
    env_vars.password_file_read = true;
    if (!env_vars.password.empty()) {
        PRINT('w', "uen0034", "The password file '%s' is not read: a password is given already\n",
              env_vars.password_file.c_str());
        return;
    }
    if (auto password = read_password_file(env_vars.password_file)) env_vars.password = std::move(*password);
}

} // namespace qvx
