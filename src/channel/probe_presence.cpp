// Whether a collector serves the probe's identity, found out before
// anything of the channel is made: the collector's pipe with a reader, or
// an id file of the shared-memory channel that names a running process.
// Without either a request would only wait out its time-out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "channel/comm_anchor.h"
#include "channel/comm_pipe.h"
#include "channel/comm_shm.h"
#include "channel/probe.h"
#include "runtime/settings.h"

namespace qvx {

namespace {

std::string identity() {
    return "host " + env_vars.hostname + ", type " + env_vars.db_type + ", server " + env_vars.serverid;
}

std::string pipe_problem() {
    const std::string pipe = collector_pipe_name();
    // Opening for writing without blocking fails at once when the pipe
    // is missing (ENOENT) or nobody reads it (ENXIO).
    const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (errno != ENOENT && errno != ENXIO) return {};  // the exchange reports it
    return "Open Pipe error " + std::to_string(errno) + ". Pipe=" + pipe;
}

std::string shm_problem() {
    const std::string path = shm_id_file_path(env_vars.serverid);
    IpcIds ids;
    if (!read_id_file(path, ids)) return "no id file " + path;
    const int me = static_cast<int>(::getpid());
    for (int pid : {ids.owner, ids.writer})
        if (pid > 0 && pid != me && process_running(pid)) return {};
    return "the id file " + path + " names no running process";
}

} // namespace

std::string missing_collector() {
    const std::string why = comm_uses_shm() ? shm_problem() : pipe_problem();
    if (why.empty()) return {};
    return "no collector serves " + identity() + " (" + why + ")";
}

} // namespace qvx
