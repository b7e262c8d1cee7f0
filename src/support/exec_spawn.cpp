// Child processes: start with a clean signal state and descriptor table,
// watch under a deadline, stop and reap.
#include "support/exec_spawn.h"

#include "runtime/trace.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qvx::exec {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Time a child gets between SIGTERM and SIGKILL, and the longest wait
// for a killed child to be gone.
constexpr milliseconds kTermGrace{1000};
constexpr milliseconds kKillWait{2000};
// Polling slice where the kernel has no pidfds.
constexpr milliseconds kPollSlice{10};
constexpr size_t kReadBlock = 8192;

// Children killed but not yet gone, reaped by later runs.
std::vector<pid_t>& stragglers() {
    static auto* list = new std::vector<pid_t>();
    return *list;
}

// What a child (or the intermediate of a detached start) tells its parent
// through the report pipe; nothing at all when the program was reached.
struct Report {
    int32_t kind;  // a ReportKind
    int32_t err_no;
    int32_t value; // descriptor of a failed dup2, or the pid of a detached child
};
enum ReportKind : int32_t { report_fork = 1, report_dup = 2, report_exec = 3, report_pid = 4 };

void send_report(int fd, int32_t kind, int32_t err_no, int32_t value) {
    const Report r{kind, err_no, value};
    ssize_t n;
    do n = ::write(fd, &r, sizeof r);
    while (n < 0 && errno == EINTR);
}

int close_from(unsigned first, unsigned last, int max_fd) {
    if (first > last) return 0;
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, first, last, 0) == 0) return 0;
#endif
    const unsigned end = std::min<unsigned>(last, static_cast<unsigned>(max_fd));
    for (unsigned fd = first; fd <= end; ++fd) ::close(static_cast<int>(fd));
    return 0;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
// Every signal is blocked on entry.
[[noreturn]] void become_program(const Launch& l, char* const* argv, int report, int null_in,
                                 int max_fd) {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        struct sigaction dfl{};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(sig, &dfl, nullptr);
    }
    ::setpgid(0, 0);

    // Everything is moved above the standard descriptors first, so that no
    // dup2 below can overwrite a descriptor still to be used.
    report = ::fcntl(report, F_DUPFD_CLOEXEC, 3);
    if (report < 0) ::_exit(127);
    const int sources[3] = {l.in >= 0 ? l.in : null_in, l.out, l.err};
    int moved[3] = {-1, -1, -1};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] < 0) continue;
        moved[i] = ::fcntl(sources[i], F_DUPFD_CLOEXEC, 3);
        if (moved[i] < 0) {
            send_report(report, report_dup, errno, i);
            ::_exit(127);
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (moved[i] >= 0 && ::dup2(moved[i], i) < 0) {
            send_report(report, report_dup, errno, i);
            ::_exit(127);
        }
    }
    // No descriptors but the standard ones (and the report pipe, closed by
    // the exec itself).
    close_from(3, static_cast<unsigned>(report) - 1, max_fd);
    close_from(static_cast<unsigned>(report) + 1, UINT_MAX, max_fd);

    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(l.program.c_str(), argv);
    send_report(report, report_exec, errno, 0);
    ::_exit(127);
}

// Everything a fork needs, prepared beforehand so that the child does not
// allocate.
struct ForkKit {
    std::vector<char*> argv;
    UniqueFd null_in;
    UniqueFd report_r, report_w;
    int max_fd = 1024;
    int err_no = 0;

    bool prepare(const Launch& l) {
        for (const std::string& word : l.argv) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (l.in < 0) {
            null_in.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            if (!null_in) return fail();
        }
        if (!make_pipe(report_r, report_w)) return fail();
        const long open_max = ::sysconf(_SC_OPEN_MAX);
        max_fd = open_max > 0 ? static_cast<int>(std::min<long>(open_max, 65536)) : 1024;
        return true;
    }
    bool fail() {
        err_no = errno;
        return false;
    }
};

// Every signal blocked while the object lives (around a fork, so that no
// handler of the collector runs in the child).
class BlockAllSignals {
public:
    BlockAllSignals() {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &saved_);
    }
    ~BlockAllSignals() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

// Reads the report pipe to its end; the records are in reports.
std::vector<Report> read_reports(int fd) {
    std::vector<Report> reports;
    Report r;
    size_t have = 0;
    for (;;) {
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(&r) + have, sizeof r - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        if (have == sizeof r) {
            reports.push_back(r);
            have = 0;
        }
    }
    return reports;
}

// Reaps the child when it has ended; true then (also when it is no longer
// there to be reaped).
bool try_reap(pid_t pid, int& status) {
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r == 0) return false;
        if (errno == EINTR) continue;
        status = 0;
        return true;  // ECHILD: reaped elsewhere
    }
}

void reap_blocking(pid_t pid) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

UniqueFd open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return UniqueFd();
#endif
}

int millis_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

void set_nonblocking(const UniqueFd& fd) {
    if (!fd) return;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
}

// Reads what the descriptor has now. Returns false when the descriptor is
// done with (end of input, an error, or the sink wants no more) and has
// been closed.
bool read_some(UniqueFd& fd, const Sink& sink, bool until_empty, Clock::time_point deadline) {
    char buf[kReadBlock];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0) {
            if (sink && !sink(buf, static_cast<size_t>(n))) break;
            // Only what is there now: a writer that never stops must not
            // keep the reading going past the deadline.
            if (!until_empty || Clock::now() >= deadline) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        break;
    }
    fd.reset();
    return false;
}

// SIGPIPE blocked while the object lives; one raised by a write to a
// child that has gone is taken away again.
class HoldSigpipe {
public:
    HoldSigpipe() {
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe_only, &saved_);
    }
    ~HoldSigpipe() {
        if (!was_pending_ && sigismember(&saved_, SIGPIPE) != 1) {
            sigset_t pending;
            sigemptyset(&pending);
            ::sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t pipe_only;
                sigemptyset(&pipe_only);
                sigaddset(&pipe_only, SIGPIPE);
                const timespec now{0, 0};
                ::sigtimedwait(&pipe_only, nullptr, &now);
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    HoldSigpipe(const HoldSigpipe&) = delete;
    HoldSigpipe& operator=(const HoldSigpipe&) = delete;

private:
    sigset_t saved_;
    bool was_pending_ = false;
};

// True while a process of the group is alive. Members that have already
// ended may linger as zombies until init collects them; they do not count.
bool group_alive(pid_t pgid) {
    if (::kill(-pgid, 0) != 0 && errno == ESRCH) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return true;
    while (const dirent* e = ::readdir(proc.get())) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        const std::string path = std::string("/proc/") + e->d_name + "/stat";
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) continue;
        char buf[512];
        const ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
        if (n <= 0) continue;
        buf[n] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything but
        // ends at the last parenthesis.
        const char* close = std::strrchr(buf, ')');
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (!close || std::sscanf(close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3) continue;
        if (pgrp == pgid && state != 'Z' && state != 'X') return true;
    }
    return false;
}

void signal_group(pid_t pid, int sig) {
    if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

std::string search_path_value() {
    const char* bin = std::getenv("COLL_BINPATH");
    const char* path = std::getenv("PATH");
    std::string value = path ? path : "";
    if (bin && *bin) value = std::string(bin) + ":" + value;
    return value;
}

std::string& cached_search_path() {
    static auto* path = new std::string();
    return *path;
}
bool search_path_known = false;

bool is_executable_file(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

bool make_pipe(UniqueFd& read_end, UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    return true;
}

TempFile::~TempFile() {
    if (!path_.empty() && !debug_on(9)) ::unlink(path_.c_str());
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        TempFile gone(std::move(*this));
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

Started start_child(const Launch& l) {
    ForkKit kit;
    if (!kit.prepare(l)) return {-1, StartError::fork, kit.err_no, -1};
    pid_t pid;
    {
        BlockAllSignals blocked;
        pid = ::fork();
        if (pid == 0)
            become_program(l, kit.argv.data(), kit.report_w.get(), kit.null_in.get(), kit.max_fd);
    }
    if (pid < 0) return {-1, StartError::fork, errno, -1};
    ::setpgid(pid, pid);  // also done by the child; whichever comes first
    kit.report_w.reset();
    for (const Report& r : read_reports(kit.report_r.get())) {
        if (r.kind != report_dup && r.kind != report_exec) continue;
        reap_blocking(pid);
        return {-1, r.kind == report_dup ? StartError::dup : StartError::exec, r.err_no, r.value};
    }
    return {pid, StartError::none, 0, -1};
}

Started start_detached(const Launch& l) {
    ForkKit kit;
    if (!kit.prepare(l)) return {-1, StartError::fork, kit.err_no, -1};
    pid_t middle;
    {
        BlockAllSignals blocked;
        middle = ::fork();
        if (middle == 0) {
            const pid_t pid = ::fork();
            if (pid == 0)
                become_program(l, kit.argv.data(), kit.report_w.get(), kit.null_in.get(),
                               kit.max_fd);
            if (pid < 0)
                send_report(kit.report_w.get(), report_fork, errno, 0);
            else
                send_report(kit.report_w.get(), report_pid, 0, pid);
            ::_exit(0);
        }
    }
    if (middle < 0) return {-1, StartError::fork, errno, -1};
    kit.report_w.reset();
    reap_blocking(middle);
    Started s;
    for (const Report& r : read_reports(kit.report_r.get())) {
        switch (r.kind) {
        case report_pid: s.pid = r.value; break;
        case report_fork: return {-1, StartError::fork, r.err_no, -1};
        case report_dup: s.error = StartError::dup; s.err_no = r.err_no; s.fd = r.value; break;
        case report_exec: s.error = StartError::exec; s.err_no = r.err_no; break;
        default: break;
        }
    }
    if (s.error != StartError::none) s.pid = -1;
    return s;
}

ChildSignalScope::ChildSignalScope() {
    if (::sigaction(SIGCHLD, nullptr, &saved_) != 0) return;
    if (saved_.sa_handler == SIG_DFL && !(saved_.sa_flags & (SA_NOCLDWAIT | SA_SIGINFO))) return;
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    restore_ = ::sigaction(SIGCHLD, &dfl, nullptr) == 0;
}

ChildSignalScope::~ChildSignalScope() {
    if (restore_) ::sigaction(SIGCHLD, &saved_, nullptr);
}

Outcome watch_child(pid_t pid, ChildIo& io, std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    const auto deadline = start + limit;
    Outcome o;
    HoldSigpipe hold;
    UniqueFd pidfd = open_pidfd(pid);
    set_nonblocking(io.in);
    set_nonblocking(io.out);
    set_nonblocking(io.err);
    size_t fed = 0;
    if (io.in && io.in_data.empty()) io.in.reset();

    for (;;) {
        if (!pidfd && try_reap(pid, o.wait_status)) o.ended = true;
        if (o.ended) break;
        const int left = millis_left(deadline);
        if (left <= 0) {
            o.timed_out = true;
            break;
        }
        pollfd fds[4];
        nfds_t n = 0;
        int at_in = -1, at_out = -1, at_err = -1, at_pid = -1;
        if (io.in) at_in = static_cast<int>(n), fds[n++] = {io.in.get(), POLLOUT, 0};
        if (io.out) at_out = static_cast<int>(n), fds[n++] = {io.out.get(), POLLIN, 0};
        if (io.err) at_err = static_cast<int>(n), fds[n++] = {io.err.get(), POLLIN, 0};
        if (pidfd) at_pid = static_cast<int>(n), fds[n++] = {pidfd.get(), POLLIN, 0};
        const int wait_ms = pidfd ? left : std::min<int>(left, static_cast<int>(kPollSlice.count()));
        if (::poll(fds, n, wait_ms) < 0) {
            if (errno == EINTR) continue;
            std::this_thread::sleep_for(kPollSlice);
            continue;
        }
        if (at_in >= 0 && fds[at_in].revents) {
            const ssize_t w = ::write(io.in.get(), io.in_data.data() + fed, io.in_data.size() - fed);
            if (w > 0) fed += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                o.feed_errno = errno;
                io.in.reset();
            } else if (fed == io.in_data.size()) {
                o.fed_all = true;
                io.in.reset();
            }
        }
        if (at_out >= 0 && fds[at_out].revents) read_some(io.out, io.out_sink, false, deadline);
        if (at_err >= 0 && fds[at_err].revents) read_some(io.err, nullptr, false, deadline);
        if (at_pid >= 0 && fds[at_pid].revents && try_reap(pid, o.wait_status)) o.ended = true;
    }
    io.in.reset();
    if (o.ended) {
        // All the child wrote is in the pipes now; descendants that still
        // hold them are not waited for.
        if (io.out) read_some(io.out, io.out_sink, true, deadline);
        if (io.err) read_some(io.err, nullptr, true, deadline);
        io.out.reset();
        io.err.reset();
    }
    o.used = Clock::now() - start;
    return o;
}

void stop_child(pid_t pid, ChildIo& io) {
    // The whole process group goes: a shell's own children must not outlive
    // it. The group is empty once the child is reaped and no member is left.
    int status = 0;
    bool reaped = false;
    auto all_gone = [&] {
        if (!reaped) reaped = try_reap(pid, status);
        return reaped && !group_alive(pid);
    };
    auto wait_for = [&](milliseconds span) {
        const auto deadline = Clock::now() + span;
        while (!all_gone() && Clock::now() < deadline) std::this_thread::sleep_for(kPollSlice);
        return all_gone();
    };
    signal_group(pid, SIGTERM);
    if (!wait_for(kTermGrace)) {
        signal_group(pid, SIGKILL);
        wait_for(kKillWait);
    }
    const auto until = Clock::now() + kPollSlice;
    if (io.out) read_some(io.out, io.out_sink, true, until);
    io.in.reset();
    io.out.reset();
    io.err.reset();
    if (!reaped) stragglers().push_back(pid);
}

void reap_stragglers() {
    auto& list = stragglers();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](pid_t pid) {
                                  int status;
                                  return try_reap(pid, status);
                              }),
               list.end());
}

void reset_spawn_state() { stragglers().clear(); }

std::vector<std::string> split_words(const std::string& line, size_t max_words) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = line.size();
    while (words.size() < max_words) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= n) break;
        std::string word;
        while (i < n && line[i] != ' ' && line[i] != '\t') {
            const char c = line[i++];
            if (c == '\'' || c == '"') {
                const size_t close = line.find(c, i);
                const size_t end = close == std::string::npos ? n : close;
                word.append(line, i, end - i);
                i = close == std::string::npos ? n : close + 1;
            } else {
                word.push_back(c);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string find_program(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return is_executable_file(name) ? name : std::string();
    if (!search_path_known) {
        cached_search_path() = search_path_value();
        search_path_known = true;
    }
    const std::string& path = cached_search_path();
    size_t begin = 0;
    for (;;) {
        const size_t colon = path.find(':', begin);
        const size_t len = colon == std::string::npos ? path.size() - begin : colon - begin;
        // An empty entry is the current directory.
        const std::string candidate =
            (len == 0 ? std::string(".") : path.substr(begin, len)) + "/" + name;
        if (is_executable_file(candidate)) return candidate;
        if (colon == std::string::npos) break;
        begin = colon + 1;
    }
    return {};
}

void reset_search_path() {
    cached_search_path().clear();
    search_path_known = false;
}

} // namespace qvx::exec
