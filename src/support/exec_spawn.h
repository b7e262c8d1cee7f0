// Starting child processes and watching them under a deadline: the
// machinery under the command runs of support/child_process.h.
//
// A child starts in a process group of its own, with every signal at its
// default disposition, an empty signal mask and no open descriptors but
// its standard input, output and error. The parent learns whether the
// child reached its program before start_child returns.
//
// Exit status: while a run is watched, SIGCHLD is at its default
// disposition (ChildSignalScope), so that the child stays waitable even
// after the database logon has set SIGCHLD to be ignored; the previous
// disposition comes back when the run ends.
//
// Waiting: a pidfd of the child is polled together with the child's pipes,
// with the time left to the deadline as the poll time-out (short polling
// slices with a non-blocking waitpid where pidfds are not available). A
// child still running at its deadline is sent SIGTERM (its whole process
// group); one that has not ended a second later gets SIGKILL. A child that
// even then is not gone is remembered and reaped by a later run.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qvx::exec {

// An owned file descriptor, closed when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Both ends of a pipe, close-on-exec; false (errno set) when none was had.
bool make_pipe(UniqueFd& read_end, UniqueFd& write_end);

// A temporary file removed when the object goes, unless debug level 9 is
// on or the file has been handed to a child that outlives the run.
class TempFile {
public:
    TempFile() = default;
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile();
    TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    bool empty() const { return path_.empty(); }
    void keep() { path_.clear(); }

private:
    std::string path_;
};

// The program to run and the descriptors it gets (-1: /dev/null for the
// standard input; the collector's own standard output and error).
struct Launch {
    std::string program;            // path of the file executed
    std::vector<std::string> argv;  // argv[0] first
    int in = -1;
    int out = -1;
    int err = -1;
};

enum class StartError { none, fork, dup, exec };

struct Started {
    pid_t pid = -1;                       // -1 when no child runs
    StartError error = StartError::none;
    int err_no = 0;
    int fd = -1;                          // descriptor of a failed dup2
};

// Starts the child and waits until it has reached its program (or failed
// to). A child whose start failed after the fork has been reaped.
Started start_child(const Launch& launch);

// Starts a child that nobody waits for. It is started through a short-lived
// intermediate process, so that it belongs to init and never lingers as a
// zombie of the collector.
Started start_detached(const Launch& launch);

// SIGCHLD at its default disposition while the object lives.
class ChildSignalScope {
public:
    ChildSignalScope();
    ~ChildSignalScope();
    ChildSignalScope(const ChildSignalScope&) = delete;
    ChildSignalScope& operator=(const ChildSignalScope&) = delete;

private:
    struct sigaction saved_{};
    bool restore_ = false;
};

// Takes output as it arrives; false when no more is wanted.
using Sink = std::function<bool(const char* data, size_t size)>;

// What a watched child is fed and what is read from it. Every descriptor
// is the parent's end; any may be empty.
struct ChildIo {
    UniqueFd in;            // the child's standard input, fed in_data then closed
    std::string in_data;
    UniqueFd out;           // output given to out_sink
    Sink out_sink;
    UniqueFd err;           // output read and thrown away
};

struct Outcome {
    bool ended = false;      // the child has been reaped
    bool timed_out = false;  // the deadline came first
    int wait_status = 0;     // as from waitpid, when ended and known
    int feed_errno = 0;      // error writing the standard input, 0 when none
    bool fed_all = false;    // all of in_data has been written
    std::chrono::steady_clock::duration used{};
};

// Feeds and reads the child until it has ended (then reads what it left
// in the pipes) or the time limit has passed. The child is left running
// when it times out.
Outcome watch_child(pid_t pid, ChildIo& io, std::chrono::milliseconds limit);

// Ends a child that has outrun its time: SIGTERM to its process group,
// SIGKILL a second later when it is still there; reaps it. What reaches the
// output pipe in the meantime still goes to the sink.
void stop_child(pid_t pid, ChildIo& io);

// Reaps children left over by earlier runs.
void reap_stragglers();

// Forgets left-over children (tests).
void reset_spawn_state();

// Splits a command line into words at blanks and tabs; text between
// apostrophes or double quotes belongs to one word, without the quotes. At
// most max_words words are kept.
std::vector<std::string> split_words(const std::string& line, size_t max_words);

// Full path of a program on the search path ("COLL_BINPATH" and "PATH"),
// or of a name with a slash as it stands; empty when it is not an
// executable file.
std::string find_program(const std::string& name);

// Forgets the cached search path (tests).
void reset_search_path();

} // namespace qvx::exec
