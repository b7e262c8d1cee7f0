// Both ends of the pipe transport, the waits and write/read loops and
// SIGPIPE handling. The dispatcher (comm_dispatch.cpp) calls the ends; the
// request record, its parameters and the agent's blocks are built in
// comm_anchor.cpp, as the shared-memory transport builds them.
#include "channel/comm_pipe.h"
#include "channel/channel_mode.h"

#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

volatile std::sig_atomic_t pipe_error = 0;

namespace {

// The module name in trace lines: the one the pipe channel has always
// given, so that traces read as before.
constexpr const char* kModule = "pipe_channel.cpp";
// Largest reply the agent end accepts; a header announcing more is refused.
constexpr size_t kMaxReplyBytes = size_t{256} << 20;
// The reply rows are read in slices of at most this many bytes.
constexpr size_t kReplySliceBytes = size_t{1} << 20;

volatile std::sig_atomic_t sigpipe_seen = 0;  // signal number noted by the handler
bool signal_onoff = false;  // the channel's handler is installed
PipeFd write_pipe_fd;  // a writer kept open on the end's own pipe
// The errno of the write that failed last; write_request reports it once
// the loop has given up.
int last_write_errno = 0;

void set_error(comm_anchor* a, int code, const char* format, ...) QVX_PRINTF(3, 4);
void set_error(comm_anchor* a, int code, const char* format, ...) {
    char text[200];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    a->error_code = code;
    a->error_text = text;
}

// The handler only notes the signal; the write that raised it reports it.
void handle_pipe_error(int sig) {
    pipe_error = 1;
    sigpipe_seen = sig;
}

void report_sigpipe(int line) {
    if (sigpipe_seen) {
        PRINT('e', "com0150", "%s:%d handle_pipe_error sig_val=%d\n", kModule, line, static_cast<int>(sigpipe_seen));
        sigpipe_seen = 0;
    }
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Opens a named pipe and nothing else: a path a request names could be
// a link or a file of the collector's user that a reply would overwrite.
// A path that is not a pipe fails with ENXIO, as a pipe without a reader.
int open_nonblocking(const std::string& path, int flags) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode)) {
        errno = ENXIO;  // not even opened: a device would notice
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fd;
    if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) return fd;
    ::close(fd);
    errno = ENXIO;
    return -1;
}

void hex_dump(const std::vector<unsigned char>& buf) {
    PRINT('t', "com0202", "pipe buffer:\n");
    for (size_t off = 0; off < buf.size(); off += 16) {
        char line[100];
        int n = std::snprintf(line, sizeof line, "%04zx ", off);
        for (size_t i = off; i < std::min(off + 16, buf.size()); ++i)
            n += std::snprintf(line + n, sizeof line - n, " %02x", buf[i]);
        PRINT('t', "com0202", "%s\n", line);
    }
}

// Which transfer a loop serves: a reply's header or rows, or a request
// sent. The messages differ between them.
enum class Site { Header, Data, Send };

// Writes n bytes: 0 all written, 1 the wait failed (error 1 set),
// 2 the write failed (pipe_error set, errno in last_write_errno).
int write_loop(comm_anchor* a, int fd, const unsigned char* p, size_t n, Site site) {
    while (n > 0 && pipe_error == 0) {
        const int w = wait_for_write(a, fd);
        if (w == 1) {
            set_error(a, 1, site == Site::Header ? "Data Collector Wait Timeout.  Is collector still there?"
                                                 : "Data Collector Wait Timeout. Is collector still there?");
            return 1;
        }
        if (w != 0 || pipe_error) {
            if (debug_on(0)) {
                if (site == Site::Header) PRINT('t', "com0130", "%s:%d Pipe error in wait_for_write \n", kModule, __LINE__);
                else if (site == Site::Data) PRINT('t', "com0140", "%s:%d Pipe error in wait_for_write \n", kModule, __LINE__);
                else PRINT('t', "com0145", "%s:%d pipe error in wait_for_write\n", kModule, __LINE__);
            }
            set_error(a, 1, "Data Collector Wait error.");
            return 1;
        }
        const ssize_t r = ::write(fd, p, n);
        if (r > 0) {
            p += r;
            n -= static_cast<size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            last_write_errno = r < 0 ? errno : EIO;
            pipe_error = 1;
            report_sigpipe(__LINE__);
        }
    }
    return n == 0 ? 0 : 2;
}

// Reads n bytes: 0 all read, else the error code set in the anchor.
int read_loop(comm_anchor* a, int fd, unsigned char* p, size_t n, Site site) {
    while (n > 0 && pipe_error == 0) {
        const int w = wait_for_read(a, fd);
        if (w == 1) {
            if (site == Site::Header) set_error(a, 1, "Data Collector Wait Timeout. Wait Time=%d", wait_timeout);
            else set_error(a, 1, "Data Collector Wait Timeout. Is collector still there?");
            return 1;
        }
        if (w != 0) {
            if (site == Site::Header) PRINT('t', "com0120", "%s:%d Pipe error in wait_for_read:ret=%d\n", kModule, __LINE__, w);
            else if (debug_on(0))
                PRINT('t', "com0125", "%s:%d get_curs_data() Pipe error in wait_for_read: ret=%d  \n", kModule, __LINE__, w);
            set_error(a, 1, "Data Collector Wait error.");
            return 1;
        }
        const ssize_t r = ::read(fd, p, n);
        if (r > 0) {
            p += r;
            n -= static_cast<size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            pipe_error = 1;  // end of file cannot happen while a writer is kept
        }
    }
    if (n == 0) return 0;
    set_error(a, 4, "Pipe read error. Pipe=%s", a->probe_pipe.c_str());
    return 4;
}

// A new pipe, open to every user unless COLL_IPC_MODE says otherwise.
bool make_pipe(const std::string& path) {
    if (::mkfifo(path.c_str(), static_cast<mode_t>(channel_mode(0777))) != 0) return false;
    restrict_channel_path(path);
    return true;
}

// Makes a pipe that has disappeared again and opens its reading end;
// false with error 4 set when either step fails.
bool recreate_read_pipe(comm_anchor* a, const std::string& path, PipeFd& fd_out) {
    if (!make_pipe(path)) {
        set_error(a, 4, "Create Pipe error %d. Pipe=%s", errno, path.c_str());
        return false;
    }
    const int fd = open_nonblocking(path, O_RDONLY);
    if (fd < 0) {
        set_error(a, 4, "Open Pipe error %d. Pipe=%s", errno, path.c_str());
        return false;
    }
    fd_out.reset(fd);
    return true;
}

} // namespace

// ---------------------------------------------------------------- SIGPIPE

// The handler is in place only while a get or a put runs; the disposition
// found before it is restored afterwards.
void set_signal(comm_anchor* a, bool on) {
    if (on) {
        if (signal_onoff || !a) return;
        struct sigaction sa {};
        sa.sa_handler = handle_pipe_error;
        sigemptyset(&sa.sa_mask);
        if (::sigaction(SIGPIPE, &sa, &a->old_sigpipe) == 0) {
            a->sigpipe_saved = true;
            signal_onoff = true;
        }
    } else if (signal_onoff && a && a->sigpipe_saved) {
        ::sigaction(SIGPIPE, &a->old_sigpipe, nullptr);
        a->sigpipe_saved = false;
        signal_onoff = false;
    }
}

// ------------------------------------------------------------------ waits

int wait_for_read(comm_anchor* a, int fd) {
    pipe_error = 0;
    if (fd < 0 || fd >= FD_SETSIZE) {
        pipe_error = 1;
        return 4;
    }
    for (int retries = 0;; ++retries) {
        fd_set rs;
        FD_ZERO(&rs);
        FD_SET(fd, &rs);
        timeval tv{wait_timeout, 0};
        const int r = ::select(fd + 1, &rs, nullptr, nullptr, &tv);
        if (r == 0) return 1;
        if (r < 0) {
            const int err = errno;
            pipe_error = 1;
            PRINT('t', "com0155", "%s:%d select failed errno=%d-%s pipe_fd=%d\n", kModule, __LINE__, err,
                  std::strerror(err), fd);
            const std::string pipe = a ? a->probe_pipe : std::string();
            PRINT('t', "com0156", "  Pipe name=%s.\n", pipe.c_str());
            if (!exists(pipe)) {
                const std::time_t now = std::time(nullptr);
                char when[32];
                std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&now));
                PRINT('w', "com0165", "%s: Pipe is gone\n", when);
            }
            if (err == EINTR && retries < 10) {
                comm_sleep(1);
                continue;
            }
            return 2;
        }
        if (!FD_ISSET(fd, &rs)) {
            pipe_error = 1;
            return 3;
        }
        return 0;
    }
}

int wait_for_write(comm_anchor*, int fd) {
    pipe_error = 0;
    if (fd < 0 || fd >= FD_SETSIZE) {
        pipe_error = 1;
        return 4;
    }
    fd_set ws;
    FD_ZERO(&ws);
    FD_SET(fd, &ws);
    timeval tv{wait_timeout, 0};
    const int r = ::select(fd + 1, nullptr, &ws, nullptr, &tv);
    if (r == 0) {
        pipe_error = 1;
        return 1;
    }
    if (r < 0 || !FD_ISSET(fd, &ws)) pipe_error = 1;
    return 0;
}

// ----------------------------------------------------------- collector end

namespace {

// The collector holds its own pipe open for writing as well: without a
// writer, a pipe an agent has written to and closed reads as ended, and a
// wait on it would return at once, over and over.
void keep_writer(const std::string& path) { write_pipe_fd.reset(open_nonblocking(path, O_WRONLY)); }

} // namespace

comm_anchor* init_collector() {
    if (wait_timeout == 0) wait_timeout = get_timeout_value("COLL_WAIT_TIMEOUT", 5);
    auto a = std::make_unique<comm_anchor>();
    a->anchor_type = 'C';
    a->coll_pipe = collector_pipe_name();
    ::unlink(a->coll_pipe.c_str());
    if (!make_pipe(a->coll_pipe)) {
        set_error(a.get(), 4, "Create Pipe error %d. Pipe=%s", errno, a->coll_pipe.c_str());
        return term_comm(a.release());
    }
    const int fd = open_nonblocking(a->coll_pipe, O_RDONLY);
    if (fd < 0) {
        set_error(a.get(), 4, "Open Pipe error %d. Pipe=%s", errno, a->coll_pipe.c_str());
        return term_comm(a.release());
    }
    a->coll_fd.reset(fd);
    keep_writer(a->coll_pipe);
    return a.release();
}

curs_list* get_probe_reqs(comm_anchor* a) {
    if (!a) return nullptr;
    a->error_code = 0;
    a->error_text.clear();
    a->c_list.clear();

    if (!exists(a->coll_pipe)) {
        if (!recreate_read_pipe(a, a->coll_pipe, a->coll_fd)) return nullptr;
        keep_writer(a->coll_pipe);
    }

    // Whatever the pipe holds now; a request left from the last read
    // comes first.
    read_available(a->coll_fd.get(), a->pending, kPendingLimit);
    std::vector<unsigned char>& in = a->pending;
    if (in.empty()) return nullptr;  // no request waiting
    if (in.size() < 4) {
        in.clear();
        set_error(a, 4, "Pipe read error. Pipe=%s", a->coll_pipe.c_str());
        return nullptr;
    }
    const int len = request_get16(in.data());
    const int name_len = request_get16(in.data() + 2);
    // The shortest request: a one-character name, an empty path and the
    // closing zeros.
    if (len > kMaxRequestLen || len < 8) {
        PRINT('e', "com0203", "request length error, size=%d\n", len);
        skip_to_next_request(in);
        return nullptr;
    }
    if (static_cast<size_t>(len) > in.size()) {
        // Records arrive whole: the rest of this one is not coming.
        skip_to_next_request(in);
        set_error(a, 4, "Pipe read error. Pipe=%s", a->coll_pipe.c_str());
        return nullptr;
    }
    std::vector<unsigned char> buf(in.begin(), in.begin() + len);
    in.erase(in.begin(), in.begin() + len);
    if (debug_on(7)) hex_dump(buf);
    if (name_len < 1 || name_len > kMaxCursorName || 4 + name_len > len - 3) {
        set_error(a, 4, "Pipe cursor length error. Pipe=%s", a->coll_pipe.c_str());
        return nullptr;
    }

    // A name holding a zero ends there; one that ends at once names
    // nothing, as a name length of 0 does.
    const char* name_at = reinterpret_cast<const char*>(buf.data() + 4);
    if (strnlen(name_at, static_cast<size_t>(name_len)) == 0) {
        set_error(a, 4, "Pipe cursor length error. Pipe=%s", a->coll_pipe.c_str());
        return nullptr;
    }

    const size_t path_at = 4 + static_cast<size_t>(name_len);
    const auto path_end = std::find(buf.begin() + static_cast<long>(path_at), buf.end(), 0);
    if (path_end == buf.end()) {
        set_error(a, 4, "Pipe read error. Pipe=%s", a->coll_pipe.c_str());
        return nullptr;
    }
    curs_list block;
    block.name.assign(name_at, strnlen(name_at, static_cast<size_t>(name_len)));
    a->probe_pipe.assign(buf.begin() + static_cast<long>(path_at), path_end);
    block.p_list.push_back(a->probe_pipe);

    read_request_parms(*a, buf);

    block.pipe_buf = std::move(buf);
    a->c_list.push_back(std::move(block));
    return &a->c_list.front();
}

std::vector<curs_list>* put_request(comm_anchor* a) {
    if (!a) return nullptr;
    auto unchanged = [a] { return a->c_list.empty() ? nullptr : &a->c_list; };
    if (a->anchor_type == 'P') {
        set_error(a, 4, "Invalid request type for probe.");
        return unchanged();
    }
    if (a->anchor_type != 'C') {
        set_error(a, 4, "Invalid IPC anchor for put request.");
        return unchanged();
    }
    set_signal(a, true);
    pipe_error = 0;
    std::string last_name;
    for (auto& block : a->c_list) {
        last_name = block.name;
        const size_t want = block.rows > 0 && block.len > 0
                                ? static_cast<size_t>(block.rows) * static_cast<size_t>(block.len) : 0;
        if (block.data.size() < want) block.data.resize(want, 0);  // never read past the rows
        for (const auto& path : block.p_list) {
            a->probe_pipe = path;
            const int fd = open_nonblocking(path, O_WRONLY);
            if (fd < 0) {
                const int err = errno;
                set_signal(a, false);
                set_error(a, 3, "Open Probe pipe error %d. Pipe=%s", err, path.c_str());
                return unchanged();
            }
            a->probe_fd.reset(fd);
            if (debug_on(6)) {
                PRINT('t', "com0111", "collector open upa pipe to write(success):%d\n", fd);
                PRINT('t', "com0112", "header rows=%d, len=%d\n", block.rows, block.len);
            }
            const auto header = serialize_header({block.rows, block.len});
            int r = write_loop(a, fd, header.data(), header.size(), Site::Header);
            if (r == 0 && block.rows != 0) r = write_loop(a, fd, block.data.data(), want, Site::Data);
            a->probe_fd.reset();
            if (r == 1) {
                set_signal(a, false);
                return nullptr;
            }
            if (pipe_error) break;
        }
        if (pipe_error) break;  // a write failed: the pass ends here
    }
    set_signal(a, false);
    a->c_list.clear();
    if (debug_on(5)) PRINT('t', "com2010", "put_request() %8.8s pipe=%s\n", last_name.c_str(), a->probe_pipe.c_str());
    return nullptr;
}

// --------------------------------------------------------------- agent end

comm_anchor* init_probe() {
    if (wait_timeout == 0) wait_timeout = get_timeout_value("WAIT_TIMEOUT", 45);
    auto a = std::make_unique<comm_anchor>();
    a->anchor_type = 'P';
    a->coll_pipe = collector_pipe_name();
    // The name is taken by creating the pipe: another agent started in
    // the same second may have chosen the same name a moment earlier, and
    // then the next counter value is tried.
    bool created = false;
    for (int attempt = 0; attempt < 100 && !created; ++attempt) {
        a->probe_pipe = make_agent_pipe_name();
        created = make_pipe(a->probe_pipe);
        if (!created && errno != EEXIST) break;
    }
    if (!created) {
        PRINT('e', "com0110", "Create Pipe error %d. Pipe=%s\n", errno, a->probe_pipe.c_str());
        a->probe_pipe.clear();  // somebody else's pipe: not ours to remove
        return term_comm(a.release());
    }
    const int fd = open_nonblocking(a->probe_pipe, O_RDONLY);
    if (fd < 0) {
        PRINT('e', "com0115", "Open Pipe error %d-%s. Pipe=%s\n", errno, std::strerror(errno), a->probe_pipe.c_str());
        return term_comm(a.release());
    }
    a->probe_fd.reset(fd);
    const int wfd = open_nonblocking(a->probe_pipe, O_WRONLY);
    if (wfd < 0) {
        PRINT('e', "com0115", "Open Pipe error %d-%s. Pipe=%s\n", errno, std::strerror(errno), a->probe_pipe.c_str());
        return term_comm(a.release());
    }
    write_pipe_fd.reset(wfd);
    if (debug_on(5)) PRINT('t', "com2005", "init_probe() Created pipe=%s\n", a->probe_pipe.c_str());
    return a.release();
}

int write_request(comm_anchor* a, int fd, const std::vector<unsigned char>& bytes) {
    const int r = write_loop(a, fd, bytes.data(), bytes.size(), Site::Send);
    if (r == 1) return 1;
    if (r == 2) {
        set_error(a, 3, "Write Pipe error %d. Pipe=%s", last_write_errno, a->coll_pipe.c_str());
        return 3;
    }
    return 0;
}

int send_a_request(comm_anchor* a, curs_list& block) {
    int fd = -1;
    int err = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fd = open_nonblocking(a->coll_pipe, O_WRONLY);
        if (fd >= 0) break;
        err = errno;
        comm_sleep(1);
    }
    if (fd < 0) {
        set_error(a, 3, "Open Pipe error %d. Pipe=%s", err, a->coll_pipe.c_str());
        return 3;
    }
    a->coll_fd.reset(fd);
    const int r = write_request(a, fd, block.pipe_buf);
    a->coll_fd.reset();
    return r;
}

int read_reply(comm_anchor* a, curs_list& block) {
    unsigned char head[kStreamHeaderSize];
    pipe_error = 0;
    if (int r = read_loop(a, a->probe_fd.get(), head, sizeof head, Site::Header)) return r;
    const stream_header h = parse_header(head);
    if (h.rows < 0 || h.len < 0 ||
        (h.rows > 0 && static_cast<size_t>(h.rows) * static_cast<size_t>(h.len) > kMaxReplyBytes)) {
        set_error(a, 4, "Pipe read error. Pipe=%s", a->probe_pipe.c_str());
        return 4;
    }
    block.rows = h.rows;
    block.len = h.len;
    block.data.clear();
    if (h.rows >= 1) {
        // The rows are taken a slice at a time, the buffer growing with
        // what has arrived: a header announcing more than is sent costs
        // the memory of what was sent, not of what it announced.
        const size_t n = static_cast<size_t>(h.rows) * static_cast<size_t>(h.len);
        for (size_t have = 0; have < n;) {
            const size_t step = std::min(n - have, kReplySliceBytes);
            try {
                block.data.resize(have + step);
            } catch (const std::bad_alloc&) {
                set_error(a, 8, "No memory available");
                return 8;
            }
            if (int r = read_loop(a, a->probe_fd.get(), block.data.data() + have, step, Site::Data)) return r;
            have += step;
        }
    }
    return 0;
}

std::vector<curs_list>* pipe_get_cursor_data(comm_anchor* a, const char* list) {
    pipe_error = 0;
    a->error_code = 0;
    a->error_text.clear();
    build_request_blocks(*a, list);

    if (!exists(a->probe_pipe)) {
        if (!recreate_read_pipe(a, a->probe_pipe, a->probe_fd)) return nullptr;
        write_pipe_fd.reset(open_nonblocking(a->probe_pipe, O_WRONLY));
    }

    for (auto& block : a->c_list)
        if (send_a_request(a, block) != 0) return nullptr;
    for (auto& block : a->c_list)
        if (read_reply(a, block) != 0) return nullptr;
    return a->c_list.empty() ? nullptr : &a->c_list;
}

// ------------------------------------------------------------- both ends

std::vector<curs_list>* get_request(comm_anchor* a, const char* list) {
    if (!a) return nullptr;
    if (a->anchor_type != 'P' && a->anchor_type != 'C') {
        set_error(a, 8, "Invalid IPC anchor for get request.");
        return nullptr;
    }
    set_signal(a, true);
    if (debug_on(5))
        PRINT('t', "com2010", "get_request() %.8s pipe=%s\n", a->curs_names.c_str(),
              (a->anchor_type == 'C' ? a->coll_pipe : a->probe_pipe).c_str());
    std::vector<curs_list>* result = nullptr;
    if (a->anchor_type == 'C') result = get_probe_reqs(a) ? &a->c_list : nullptr;
    else result = pipe_get_cursor_data(a, list);
    set_signal(a, false);
    return result;
}

comm_anchor* term_comm(comm_anchor* a) {
    if (!a) return nullptr;
    if (a->anchor_type == 'P' || a->anchor_type == 'C') {
        a->probe_fd.reset();
        a->coll_fd.reset();
        write_pipe_fd.reset();
        const std::string& own = a->anchor_type == 'C' ? a->coll_pipe : a->probe_pipe;
        if (!own.empty()) ::unlink(own.c_str());
        set_signal(a, false);
    }
    delete a;
    return nullptr;
}

void reset_pipe_channel() {
    reset_comm_timing();
    pipe_error = 0;
    sigpipe_seen = 0;
    pipe_count = 0;
    last_write_errno = 0;
    write_pipe_fd.reset();
}

} // namespace qvx
