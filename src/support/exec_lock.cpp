// Whole-file advisory write locks on a stream's file.
#include "support/child_process.h"

#include "runtime/messages.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace qvx {

namespace {

// Sets or releases the lock over the whole file; the errno of a failure,
// else 0.
int set_whole_file_lock(FILE* stream, short type, int wait) {
    if (!stream) return EBADF;
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end, however the file grows
    if (::fcntl(fileno(stream), wait == 1 ? F_SETLKW : F_SETLK, &lock) == 0) return 0;
    return errno;
}

} // namespace

int issue_write_lock(FILE* stream, const std::string& name, int wait) {
    const int err = set_whole_file_lock(stream, F_WRLCK, wait);
    if (err == 0) return 0;
    U_MSG("e", "cgn3985", "Write_lock error %d on %s. %s\n", err, name.c_str(), std::strerror(err));
    return 1;
}

int issue_unlock(FILE* stream, const std::string& name, int wait) {
    const int err = set_whole_file_lock(stream, F_UNLCK, wait);
    if (err == 0) return 0;
    U_MSG("e", "cgn3990", "Unlock error %d on %s. %s!!\n", err, name.c_str(), std::strerror(err));
    return 1;
}

} // namespace qvx
