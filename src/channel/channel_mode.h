// The permission bits the request channel's objects get: the shared-memory
// segments, the semaphore sets, the named pipes, the id file and its lock
// file. Without COLL_IPC_MODE they keep the modes the channel has always
// had (open to every user, less the umask for files and pipes); with it
// every object gets exactly that mode, whatever the umask.
#pragma once

#include <string>

namespace qvx {

// The mode to create an object with: COLL_IPC_MODE when set, else the
// object's old one.
int channel_mode(int old_mode);

// Gives an opened file or pipe the COLL_IPC_MODE bits (nothing when unset
// or when the object belongs to another user).
void restrict_channel_fd(int fd);
void restrict_channel_path(const std::string& path);

} // namespace qvx
