// Establishing the channel: the IPC id file and its lock file, the check
// for a running owner, removal of a dead owner's objects, creating or
// attaching the two channel objects, and destroying them again.
#include "channel/comm_shm.h"
#include "channel/channel_mode.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "runtime/clock.h"
#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/child_process.h"

namespace qvx {

namespace {

// The process-wide channel objects.
struct Channel {
    std::unique_ptr<ShareCommObject> request;  // share type 0
    std::unique_ptr<ShareCommObject> data;     // share type 1
    std::string lock_path;                     // of the last InitShare
};
Channel g;

// Longest wait for the lock file; its holder only runs "ps" and "ipcrm".
constexpr int kLockSeconds = 30;
constexpr int kPsSeconds = 5;

bool traced() { return trace_all != 0 || debug_on(5); }

union semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

void ensure_settings() {
    if (env_vars.localtmpdir.empty()) get_envs();
}

// The lock file, held for as long as the object lives.
class LockFile {
public:
    explicit LockFile(std::string path) : path_(std::move(path)) {
        // Never through a symbolic link, never blocking on a FIFO.
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, channel_mode(0666));
        struct stat st{};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
        restrict_channel_fd(fd_);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() { release(); }

    bool opened() const { return fd_ >= 0; }

    bool lock() {
        if (traced()) PRINT('t', "ush0550", "locking file %s\n", path_.c_str());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockSeconds);
        struct flock fl{};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        for (;;) {
            if (::fcntl(fd_, F_SETLK, &fl) == 0) return locked_ = true;
            if (errno != EACCES && errno != EAGAIN && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Leaves the own process id in the file (none when the channel is
    // gone with this process), then unlocks and closes.
    void release(bool leave_pid = true) {
        if (fd_ < 0) return;
        if (locked_) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd_, 0) == 0 && leave_pid) {
                [[maybe_unused]] const ssize_t n = ::pwrite(fd_, pid.data(), pid.size(), 0);
            }
            struct flock fl{};
            fl.l_type = F_UNLCK;
            fl.l_whence = SEEK_SET;
            ::fcntl(fd_, F_SETLK, &fl);
            if (traced()) PRINT('t', "ush0570", "Unlock file %s\n", path_.c_str());
        }
        ::close(fd_);
        fd_ = -1;
        locked_ = false;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool locked_ = false;
};

// True for a segment of the size the channel makes and of this user.
bool our_segment(int id, bool request) {
    shmid_ds ds{};
    if (id < 0 || ::shmctl(id, IPC_STAT, &ds) != 0) return false;
    const uid_t me = ::geteuid();
    if (ds.shm_perm.uid != me && ds.shm_perm.cuid != me) return false;
    return request ? ds.shm_segsz >= 30600 && ds.shm_segsz <= 32768 : ds.shm_segsz == dataseg::kSize;
}

bool our_semaphores(int id) {
    semid_ds ds{};
    semun arg{};
    arg.buf = &ds;
    if (id < 0 || ::semctl(id, 0, IPC_STAT, arg) != 0) return false;
    const uid_t me = ::geteuid();
    return ds.sem_nsems == 2 && (ds.sem_perm.uid == me || ds.sem_perm.cuid == me);
}

bool segment_alive(int id) {
    shmid_ds ds{};
    return id >= 0 && ::shmctl(id, IPC_STAT, &ds) == 0 && !(ds.shm_perm.mode & SHM_DEST);
}

bool segment_in_use(int id) {
    shmid_ds ds{};
    return id >= 0 && ::shmctl(id, IPC_STAT, &ds) == 0 && ds.shm_nattch > 0;
}

// Whether the process has the segment attached: System V segments show
// in its memory map with the segment id as their inode. When the map
// cannot be read (no /proc) the answer is yes.
bool attached_by(int pid, int shm_id) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    if (!maps) return true;
    const std::string id = std::to_string(shm_id);
    for (std::string line; std::getline(maps, line);) {
        if (line.find("/SYSV") == std::string::npos) continue;
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode;
        if (fields >> range >> perms >> offset >> device >> inode && inode == id) return true;
    }
    return false;
}

// The objects of the id file belong to the running process it names:
// they are this user's, of the channel's shape, and that process has the
// request segment attached. After a reboot the process id and the object
// ids may all have been given to others.
bool objects_of(const IpcIds& ids, int pid) {
    return our_segment(ids.request_shm, true) && our_segment(ids.data_shm, false) &&
           segment_alive(ids.request_shm) && segment_alive(ids.data_shm) && our_semaphores(ids.request_sem) &&
           our_semaphores(ids.data_sem) && attached_by(pid, ids.request_shm);
}

// Removes the objects an id file names, as far as they are still there,
// look like the channel's own (an id may have been reused since) and no
// process is attached to them.
void remove_stale(const IpcIds& ids) {
    auto ipcrm = [](const char* option, int id) {
        u_shell(std::string("ipcrm ") + option + " " + std::to_string(id) + " > /dev/null 2>&1");
    };
    const bool request_free = !segment_in_use(ids.request_shm);
    const bool data_free = !segment_in_use(ids.data_shm);
    if (request_free && our_segment(ids.request_shm, true)) {
        ipcrm("-m", ids.request_shm);
        if (our_segment(ids.request_shm, true)) ::shmctl(ids.request_shm, IPC_RMID, nullptr);
    }
    if (data_free && our_segment(ids.data_shm, false)) {
        ipcrm("-m", ids.data_shm);
        if (our_segment(ids.data_shm, false)) ::shmctl(ids.data_shm, IPC_RMID, nullptr);
    }
    for (auto [sem, free] : {std::pair{ids.request_sem, request_free}, std::pair{ids.data_sem, data_free}}) {
        if (!free || !our_semaphores(sem)) continue;
        ipcrm("-s", sem);
        if (our_semaphores(sem)) ::semctl(sem, 0, IPC_RMID);
    }
}

// Every process attaching writes the file again (its own id as the
// writer) while others may be reading it: the new text goes to a file of
// its own that then replaces the id file in one step, so a reader sees
// the old text or the new one, never a file just emptied.
bool write_id_file(const std::string& path, const IpcIds& ids) {
    const std::string fresh = path + "." + std::to_string(::getpid());
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          channel_mode(0666));
    if (fd < 0) return false;
    restrict_channel_fd(fd);
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%d %d %d %d %d %d\n", ids.owner, ids.writer, ids.request_shm,
                                ids.request_sem, ids.data_shm, ids.data_sem);
    const bool written = ::write(fd, line, static_cast<size_t>(n)) == n;
    if (::close(fd) == 0 && written && ::rename(fresh.c_str(), path.c_str()) == 0) return true;
    ::unlink(fresh.c_str());
    return false;
}

void report_ids(const char* id, const char* format, const IpcIds& ids) {
    PRINT('a', id, format, form_time().c_str(), ids.request_shm, ids.request_sem, ids.data_shm, ids.data_sem);
}

} // namespace

// ----------------------------------------------------------- file names

std::string shm_id_file_path(const std::string& server_id) {
    ensure_settings();
    return u_createTempFileName(server_id + "_" + env_vars.db_type + "_" + env_vars.hostname, 'n');
}

std::string shm_lock_file_path(const std::string& server_id) { return shm_id_file_path(server_id) + "-lk"; }

bool read_id_file(const std::string& path, IpcIds& ids) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return false;
    buf[n] = 0;
    std::istringstream in(buf);
    IpcIds got;
    if (!(in >> got.owner >> got.writer >> got.request_shm >> got.request_sem >> got.data_shm >> got.data_sem))
        return false;
    if (got.request_shm < 0 || got.request_sem < 0 || got.data_shm < 0 || got.data_sem < 0) return false;
    ids = got;
    return true;
}

bool process_running(int pid) {
    if (pid <= 0) return false;
    execopt opt;
    opt.flags = exec_options_set | exec_parms_cmdline;
    const r_exec_chain lines = u_exec_timed("ps", "-p " + std::to_string(pid), kPsSeconds, opt);
    if (opt.status == exec_not_created)  // no "ps" here: ask the kernel
        return ::kill(pid, 0) == 0 || errno == EPERM;
    const std::string want = std::to_string(pid);
    for (const auto& line : lines) {
        if (debug_on(5)) PRINT('t', "ush0400", "Line:'%s', pid=%d\n", line.c_str(), pid);
        std::istringstream words(line);
        for (std::string w; words >> w;)
            if (w == want) return true;
    }
    return false;
}

// ---------------------------------------------------------- establishing

int CreateShare(const std::string& id_path) {
    if (g.request && g.data && g.request->IsGood() && g.data->IsGood()) return 0;
    g.request.reset();
    g.data.reset();

    IpcIds old;
    const bool have_file = read_id_file(id_path, old);
    int running = 0;
    if (have_file) {
        if (old.owner != -1 && process_running(old.owner)) running = old.owner;
        else if (old.writer != -1 && process_running(old.writer)) running = old.writer;
    }

    IpcIds ids;
    if (running && objects_of(old, running)) {
        g.request = std::make_unique<ShareCommObject>(kShareRequest, old.request_shm, old.request_sem);
        if (g.request->IsGood())
            g.data = std::make_unique<ShareCommObject>(kShareData, old.data_shm, old.data_sem);
        if (g.data && g.data->IsGood()) {
            ids = old;
            ids.owner = running;
            report_ids("ush0035", "Attached IPCID(%s): %d %d %d %d\n", ids);
        } else {
            PRINT('e', g.data ? "ush0037" : "ush0036", g.data ? "Failed to attach Data object\n"
                                                              : "Failed to attach Request object\n");
            PRINT('w', "ush0038", "Objects of the id file %s not usable; making new ones\n", id_path.c_str());
            g.request.reset();
            g.data.reset();
        }
    }
    if (!g.request) {
        // Nobody runs with these objects (or they are gone, or were
        // somebody else's all along): start afresh.
        if (have_file) remove_stale(old);
        g.request = std::make_unique<ShareCommObject>(kShareRequest, reqseg::kSize);
        if (!g.request->IsGood()) {
            PRINT('e', "ush0034", "Failed to create Request object\n");
            g.request.reset();
            return -1;
        }
        g.data = std::make_unique<ShareCommObject>(kShareData, dataseg::kSize);
        if (!g.data->IsGood()) {
            PRINT('e', "ush0035", "Failed to create Data object\n");
            g.request.reset();
            g.data.reset();
            return -1;
        }
        ids.owner = -1;
        ids.request_shm = g.request->ShmId();
        ids.request_sem = g.request->SemId();
        ids.data_shm = g.data->ShmId();
        ids.data_sem = g.data->SemId();
        report_ids("ush0034", "Created IPCID(%s): %d %d %d %d\n", ids);
    }
    g.data->SetRequestSegment(g.request->Base());

    ids.writer = ::getpid();
    if (!write_id_file(id_path, ids)) {
        PRINT('e', "ush0032", "Cannot open file: %s\n", id_path.c_str());
        g.request.reset();
        g.data.reset();
        return -1;
    }
    return 0;
}

int InitShare(const std::string& server_id) {
    const std::string id_path = shm_id_file_path(server_id);
    g.lock_path = id_path + "-lk";
    LockFile lock(g.lock_path);
    if (!lock.opened() || !lock.lock()) {
        PRINT('e', "ush0560", "Cannot open lock file: %s\n", g.lock_path.c_str());
        return -1;
    }
    const int r = CreateShare(id_path);
    lock.release();
    return r == 0 ? 0 : -1;
}

void shut_comm() {
    if (!g.request && !g.data) return;
    // Under the lock, so that nobody attaches while the last one leaves.
    std::unique_ptr<LockFile> lock;
    if (!g.lock_path.empty()) {
        lock = std::make_unique<LockFile>(g.lock_path);
        if (lock->opened()) lock->lock();
    }
    const int request_shm = g.request ? g.request->ShmId() : -1;
    const int data_shm = g.data ? g.data->ShmId() : -1;
    g.data.reset();
    g.request.reset();
    // The last one out removed the objects: then the id file names nothing
    // and goes, and the lock file is left naming no owner. An id file that
    // names other objects meanwhile (the other end made new ones after
    // these were removed under it) is theirs and stays.
    if (lock && !segment_alive(request_shm) && !segment_alive(data_shm)) {
        const std::string id_path = g.lock_path.substr(0, g.lock_path.size() - 3);
        IpcIds named;
        if (!read_id_file(id_path, named) || (named.request_shm == request_shm && named.data_shm == data_shm)) {
            ::unlink(id_path.c_str());
            lock->release(false);
        }
    }
}

bool shm_established() { return g.request && g.data && g.request->IsGood() && g.data->IsGood(); }

ShareCommObject* shm_request_object() { return g.request.get(); }
ShareCommObject* shm_data_object() { return g.data.get(); }

void forget_shm_channel_after_fork() {
    if (g.request) g.request->Abandon();
    if (g.data) g.data->Abandon();
    g.request.reset();
    g.data.reset();
    g.lock_path.clear();
}

void reset_shm_channel() {
    shut_comm();
    g.lock_path.clear();
    last_succeed_sent_req_tm = 0;
}

} // namespace qvx
