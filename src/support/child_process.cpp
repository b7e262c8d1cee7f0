// Running external commands: the simple run, the timed run with its
// parameter passing and output channels, the asynchronous start and the
// one-line shell query.
#include "support/child_process.h"

#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/exec_spawn.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace qvx {

namespace {

using exec::ChildIo;
using exec::ChildSignalScope;
using exec::Launch;
using exec::Started;
using exec::StartError;
using exec::TempFile;
using exec::UniqueFd;

constexpr int kDefaultTimeLimit = 600;      // seconds
constexpr int kDefaultLineLimit = 30000;
constexpr size_t kMaxWords = 500;
constexpr size_t kLineBlock = 8192;
constexpr size_t kMaxCommandLine = 1023;    // parameters on the command line
constexpr size_t kMaxInlineParms = 1024;    // u_exec: longer ones go in a file
constexpr size_t kExecMaxLines = 10000;
constexpr int kExecMaxNullLines = 5;
constexpr char kEndOfFileMark = 26;
constexpr const char* kShell = "/bin/sh";

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

const char* text_of(int err) { return std::strerror(err); }

std::chrono::milliseconds seconds(int s) { return std::chrono::milliseconds(1000LL * s); }

// Feeds a file to a sink in blocks until the sink has enough.
void read_file_into(FILE* f, const exec::Sink& sink) {
    char buf[kLineBlock];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        if (!sink(buf, n)) break;
}

// Writes text to a new file; false (errno set) when it cannot.
bool write_file(const std::string& path, const std::string& text) {
    FilePtr f(std::fopen(path.c_str(), "w"));
    if (!f) return false;
    if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) return false;
    return std::fflush(f.get()) == 0;
}

// A command in the shell: "sh -c text".
Launch shell_launch(const std::string& text) {
    Launch l;
    l.program = kShell;
    l.argv = {"sh", "-c", text};
    return l;
}

// Runs a started child to its end under the time limit; a child still
// running at the limit is reported and stopped. True when it timed out.
bool run_to_end(pid_t pid, ChildIo& io, const std::string& command, int limit,
                exec::Outcome* outcome = nullptr) {
    exec::Outcome o = exec::watch_child(pid, io, seconds(limit));
    if (o.timed_out) {
        U_MSG("e", "uex8080", "Child process %.20s did not finish in %d seconds.\n", command.c_str(),
              limit);
        exec::stop_child(pid, io);
    }
    if (outcome) *outcome = o;
    return o.timed_out;
}

// Output lines of a timed run: split at newlines (lines of more than a
// block are cut into blocks), empty lines skipped, up to the limit; a line
// ending in the end-of-file mark is the last.
class TimedLines {
public:
    explicit TimedLines(size_t limit, const LineSink* sink = nullptr) : limit_(limit), sink_(sink) {}

    bool add(const char* data, size_t size) {
        while (size > 0 && !done_) {
            const char* nl = static_cast<const char*>(std::memchr(data, '\n', size));
            const size_t part = nl ? static_cast<size_t>(nl - data) : size;
            const size_t take = std::min(part, kLineBlock - line_.size());
            line_.append(data, take);
            data += take;
            size -= take;
            if (line_.size() >= kLineBlock) {
                end_line();
            } else if (nl && take == part) {
                ++data;
                --size;
                end_line();
            }
        }
        return !done_;
    }

    r_exec_chain finish() {
        if (!done_ && !line_.empty()) end_line();
        return std::move(lines_);
    }

private:
    void end_line() {
        if (!line_.empty() && line_.back() == kEndOfFileMark) {
            line_.pop_back();
            done_ = true;
        }
        if (!line_.empty()) {
            ++count_;
            if (debug_on(9))
                U_MSG("t", "uex6613", " Line %d (%d)=%s.\n", static_cast<int>(count_),
                      static_cast<int>(line_.size()), line_.c_str());
            if (sink_) {
                if (!(*sink_)(line_)) done_ = true;
            } else {
                lines_.push_back(line_);
            }
            if (count_ >= limit_) done_ = true;
        }
        line_.clear();
    }

public:
    size_t count() const { return count_; }

private:
    size_t limit_;
    const LineSink* sink_;  // lines go here instead of into lines_
    size_t count_ = 0;
    bool done_ = false;
    std::string line_;
    r_exec_chain lines_;
};

// Output lines of a simple run, read the way fgets reads them into a
// block: a piece ends at a newline or after one character less than the
// block. A piece of only a newline is skipped; one beginning with a zero
// byte counts as empty, and too many of those in a row end the reading;
// any other piece is a line up to its first zero byte, without newline.
class ExecLines {
public:
    bool add(const char* data, size_t size) {
        for (size_t i = 0; i < size && !done_; ++i) {
            piece_.push_back(data[i]);
            if (data[i] == '\n' || piece_.size() == kLineBlock - 1) take_piece();
        }
        return !done_;
    }

    r_exec_chain finish() {
        if (!done_ && !piece_.empty()) take_piece();
        return std::move(lines_);
    }

private:
    void take_piece() {
        std::string piece;
        piece.swap(piece_);
        if (piece == "\n") return;
        if (piece[0] == '\0') {
            if (++null_run_ > kExecMaxNullLines) {
                if (debug_on(3))
                    U_MSG("t", "uex2060", "stopped reading returned data because of 5 null lines in a row.\n");
                done_ = true;
            }
            return;
        }
        null_run_ = 0;
        if (lines_.size() >= kExecMaxLines) {
            U_MSG("h", "uex2070", "Stopped reading returned data after %d rows\n",
                  static_cast<int>(lines_.size()));
            done_ = true;
            return;
        }
        piece.resize(std::strlen(piece.c_str()));
        if (!piece.empty() && piece.back() == '\n') piece.pop_back();
        lines_.push_back(std::move(piece));
    }

    bool done_ = false;
    int null_run_ = 0;
    std::string piece_;
    r_exec_chain lines_;
};

// Output of a shell query as one line: lines with trailing white space
// removed, joined with single blanks, bounded in lines and characters.
class ShellLine {
public:
    static constexpr size_t max_lines = 500;
    static constexpr size_t max_chars = 4094;
    static constexpr int max_empty_run = 2;
    // Output beyond this is not looked at, however it goes on.
    static constexpr size_t max_bytes_read = 16 << 20;

    // False once no more output is wanted.
    bool add(const char* data, size_t size) {
        bytes_ += size;
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                if (!end_line()) return false;
                continue;
            }
            if (line_.size() < max_chars) line_.push_back(c);
            // A visible character that fills the room left means the
            // result is complete.
            if (!is_space(c) && line_.size() >= room()) return false;
        }
        return bytes_ < max_bytes_read;
    }

    std::string finish() {
        if (!line_.empty()) end_line();
        if (result_.size() > max_chars) result_.resize(max_chars);
        return std::move(result_);
    }

private:
    static bool is_space(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    }

    bool end_line() {
        while (!line_.empty() && is_space(line_.back())) line_.pop_back();
        if (line_.empty()) {
            ++empty_run_;
        } else {
            empty_run_ = 0;
            if (!result_.empty()) result_.push_back(' ');
            result_.append(line_);
        }
        line_.clear();
        ++lines_;
        return lines_ < max_lines && result_.size() < max_chars && empty_run_ <= max_empty_run;
    }

    size_t room() const { return max_chars - result_.size() - (result_.empty() ? 0 : 1); }

    std::string line_;
    std::string result_;
    size_t lines_ = 0;
    size_t bytes_ = 0;
    int empty_run_ = 0;
};

// How the parameters of a timed run reach the child.
enum class ParmMode { command_line, stdin_pipe, file };

// Everything a timed run prepares before the fork: the program and its
// words, the child's channels (the child's ends here, the parent's ends in
// io) and the temporary files.
struct ChildPlan {
    Launch launch;
    ChildIo io;
    UniqueFd child_in, child_out, child_err;
    TempFile parm_file, out_file;
    ParmMode mode = ParmMode::command_line;
};

// Prepares the channels and the parameters; 0, or the step that failed.
int pass_parameters(const std::string& command, const std::string& parms, const execopt& o,
                    bool via_shell, ChildPlan& plan) {
    const bool no_wait = o.flags & exec_no_wait;
    // Standard output, then standard error.
    if (o.flags & exec_stdout_file) {
        TempFile out(u_createTempFileName("out", 't'));
        plan.child_out.reset(::open(out.path().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!plan.child_out) {
            U_MSG("e", "uex5010", "Create file for piping stdout failed.\n");
            return 1;
        }
        plan.out_file = std::move(out);
    } else if (no_wait) {
        plan.child_out.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    } else if (!exec::make_pipe(plan.io.out, plan.child_out)) {
        U_MSG("e", "uex5020", "Create pipe for stdout failed.\n");
        return 2;
    }
    if (!(o.flags & exec_merge_stderr)) {
        if (no_wait) {
            plan.child_err.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        } else if (!exec::make_pipe(plan.io.err, plan.child_err)) {
            U_MSG("e", "uex5030", "Create pipe for stderr failed.\n");
            return 3;
        }
    }

    // The shell's command already holds the parameters.
    std::string line = command;
    if (via_shell || parms.empty()) {
        plan.mode = ParmMode::command_line;
    } else if ((o.flags & exec_parms_cmdline) && command.size() + 1 + parms.size() <= kMaxCommandLine) {
        plan.mode = ParmMode::command_line;
    } else if (o.flags & exec_parms_stdin) {
        plan.mode = ParmMode::stdin_pipe;
    } else if (o.flags & exec_parms_file) {
        plan.mode = ParmMode::file;
    }

    switch (plan.mode) {
    case ParmMode::command_line:
        if (!via_shell && !parms.empty()) line += " " + parms;
        break;
    case ParmMode::stdin_pipe:
        if (o.flags & exec_tell_child) line += " --";
        plan.io.in_data.assign(parms.c_str(), parms.size() + 1);  // with its terminating zero byte
        break;
    case ParmMode::file: {
        TempFile file(u_createTempFileName("parms", 't'));
        if (!write_file(file.path(), parms)) {
            U_MSG("w", "uex5040", "Can't open file %s for write\n", file.path().c_str());
            return 2;
        }
        if (o.flags & exec_tell_child) line += " @" + file.path();
        plan.parm_file = std::move(file);
        break;
    }
    }
    if (plan.mode == ParmMode::stdin_pipe || (o.flags2 & exec2_stdin_pipe)) {
        if (!exec::make_pipe(plan.child_in, plan.io.in)) {
            U_MSG("w", "uex6900", "Unable to write to un-named pipe\n");
            plan.io.in_data.clear();
        }
    }

    if (!via_shell) plan.launch.argv = exec::split_words(line, kMaxWords);
    if (debug_on(5))
        for (size_t i = 0; i < plan.launch.argv.size(); ++i)
            U_MSG("t", "uex4071", "Parm %d %.200s\n", static_cast<int>(i), plan.launch.argv[i].c_str());
    plan.launch.in = plan.child_in.get();
    plan.launch.out = plan.child_out.get();
    plan.launch.err = (o.flags & exec_merge_stderr) ? plan.child_out.get() : plan.child_err.get();
    return 0;
}

// Reports a start that failed after the fork.
void report_start_failure(const Started& s) {
    if (s.error == StartError::dup)
        U_MSG("e", "uex4060", "dup2 error %d, errno=%d %s", s.fd, s.err_no, text_of(s.err_no));
    else if (s.error == StartError::exec)
        U_MSG("e", "uex4080", "exec() error, errno=%d %s\n", s.err_no, text_of(s.err_no));
}

// Gives a child nobody waits for what fits into its input pipe now.
void feed_without_waiting(ChildIo& io) {
    if (!io.in || io.in_data.empty()) return;
    const int flags = ::fcntl(io.in.get(), F_GETFL);
    if (flags >= 0) ::fcntl(io.in.get(), F_SETFL, flags | O_NONBLOCK);
    const ssize_t n = ::write(io.in.get(), io.in_data.data(), io.in_data.size());
    if (n != static_cast<ssize_t>(io.in_data.size()))
        U_MSG("w", "uex6900", "Unable to write to un-named pipe\n");
    io.in.reset();
}

// Starts the planned child and, unless it is not waited for, hands its
// output lines to lines until it ends or its time is up.
void run_plan(ChildPlan& plan, const std::string& command, const std::string& parameters, int limit,
              execopt& o, TimedLines& lines) {
    ChildSignalScope child_signal;
    const bool no_wait = o.flags & exec_no_wait;
    const Started s = no_wait ? exec::start_detached(plan.launch) : exec::start_child(plan.launch);
    plan.child_in.reset();
    plan.child_out.reset();
    plan.child_err.reset();
    if (s.error == StartError::fork) {
        U_MSG("s", "uex4050", "Fork failure. errno=%d %s\n", s.err_no, text_of(s.err_no));
        o.status = exec_not_created;
        return;
    }
    if (s.pid < 0) {
        report_start_failure(s);
        return;
    }
    if (debug_on(5)) U_MSG("t", "uex4090", "Child pid= %d.\n", static_cast<int>(s.pid));

    if (no_wait) {
        // The child reads these after this run is over.
        feed_without_waiting(plan.io);
        plan.parm_file.keep();
        plan.out_file.keep();
        return;
    }

    if (plan.io.out) plan.io.out_sink = [&lines](const char* d, size_t n) { return lines.add(d, n); };
    exec::Outcome outcome;
    if (run_to_end(s.pid, plan.io, command, limit, &outcome)) o.status = exec_timed_out;
    if (outcome.feed_errno != 0)
        U_MSG("w", "uex6900", "Unable to write to un-named pipe\n");
    else if (outcome.fed_all && debug_on(8))
        U_MSG("t", "uex4130", "Wrote parms to stdin pipe '%.100s'\n", parameters.c_str());
    if (!outcome.timed_out && debug_on(5)) {
        const auto used = std::chrono::duration_cast<std::chrono::seconds>(outcome.used).count();
        U_MSG("t", "uex8070", "finished in %d seconds\n", static_cast<int>(used));
    }

    if (!plan.out_file.empty()) {
        if (trace_all) U_MSG("t", "uex6801", "Reading results from file %s\n", plan.out_file.path().c_str());
        FilePtr f(std::fopen(plan.out_file.path().c_str(), "rb"));
        if (f)
            read_file_into(f.get(), [&lines](const char* d, size_t n) { return lines.add(d, n); });
        else
            U_MSG("e", "uex6810", "Can't open file %s\n", plan.out_file.path().c_str());
    }
}

size_t line_limit_of(const execopt& o) {
    return o.line_limit > 0 ? static_cast<size_t>(o.line_limit) : kDefaultLineLimit;
}

int time_limit_of(const execopt& o, int time_limit) {
    return o.time_limit > 0 ? o.time_limit : time_limit > 0 ? time_limit : kDefaultTimeLimit;
}

} // namespace

r_exec_chain u_exec_timed(const std::string& command, const std::string& parameters, int time_limit,
                          execopt& o) {
    if (!(o.flags & exec_options_set)) o.flags |= exec_default_flags;
    o.status = exec_good;
    const int limit = time_limit_of(o, time_limit);
    exec::reap_stragglers();

    ChildPlan plan;
    const bool via_shell = parameters.find_first_of(";|<>&") != std::string::npos;
    if (via_shell) {
        plan.launch = shell_launch("( " + command + " " + parameters + " )");
    } else {
        const std::vector<std::string> words = exec::split_words(command, 1);
        const std::string name = words.empty() ? std::string() : words[0];
        plan.launch.program = exec::find_program(name);
        if (plan.launch.program.empty()) {
            U_MSG("s", "uex4100", "Command not found: %s.\n", name.c_str());
            o.status = exec_not_created;
            return {};
        }
    }
    if (debug_on(5))
        U_MSG("t", "uex4010", "Time limit=%d, cmd=%.20s. parms=%.100s\n", limit, command.c_str(),
              parameters.c_str());
    if (pass_parameters(command, parameters, o, via_shell, plan) != 0) {
        o.status = exec_not_created;
        return {};
    }

    TimedLines lines(line_limit_of(o));
    run_plan(plan, command, parameters, limit, o, lines);
    r_exec_chain result = lines.finish();
    if (trace_all)
        U_MSG("t", "uex6830", "Read %d lines for Command %.50s\n", static_cast<int>(result.size()),
              command.c_str());
    return result;
}

size_t u_exec_timed_words(const std::vector<std::string>& words, int time_limit, execopt& o,
                          const LineSink& sink) {
    o.status = exec_good;
    const int limit = time_limit_of(o, time_limit);
    exec::reap_stragglers();
    const std::string name = words.empty() ? std::string() : words[0];
    ChildPlan plan;
    plan.launch.program = exec::find_program(name);
    if (plan.launch.program.empty()) {
        U_MSG("s", "uex4100", "Command not found: %s.\n", name.c_str());
        o.status = exec_not_created;
        return 0;
    }
    if (debug_on(5)) U_MSG("t", "uex4010", "Time limit=%d, cmd=%.20s. parms=%.100s\n", limit, name.c_str(), "");
    // The words are the arguments as they stand: nothing is passed another way.
    execopt channels = o;
    channels.flags = static_cast<uint8_t>(o.flags & (exec_merge_stderr | exec_stdout_file | exec_no_wait));
    if (pass_parameters(name, std::string(), channels, true, plan) != 0) {
        o.status = exec_not_created;
        return 0;
    }
    plan.launch.argv = words;
    TimedLines lines(line_limit_of(o), &sink);
    run_plan(plan, name, std::string(), limit, o, lines);
    lines.finish();
    if (trace_all)
        U_MSG("t", "uex6830", "Read %d lines for Command %.50s\n", static_cast<int>(lines.count()), name.c_str());
    return lines.count();
}

r_exec_chain u_exec(const std::string& command, const std::string& parameters) {
    exec::reap_stragglers();
    const std::string code = db_type_code();
    const bool file_mode = code == "zep" || code == "zeb";

    std::string parms = parameters;
    TempFile parm_file;
    if (parms.size() > kMaxInlineParms) {
        parm_file = TempFile(u_createTempFileName("rexecp", 't'));
        if (!write_file(parm_file.path(), parms)) {
            const int err = errno;
            U_MSG("e", "uex2038", "fopen error (%d %s), file=%s\n", err, text_of(err),
                  parm_file.path().c_str());
            return {};
        }
        parms = "-filein " + parm_file.path();
    }
    const std::string line = command + " " + parms;

    ExecLines lines;
    const exec::Sink sink = [&lines](const char* d, size_t n) { return lines.add(d, n); };
    ChildSignalScope child_signal;
    if (!file_mode) {
        ChildIo io;
        UniqueFd child_out;
        Launch l = shell_launch(line);
        Started s;
        if (exec::make_pipe(io.out, child_out)) {
            l.out = child_out.get();
            s = exec::start_child(l);
            child_out.reset();
        } else {
            s.err_no = errno;
        }
        if (s.pid < 0) {
            U_MSG("e", "uex2050", "popen error (%d %s), cmd=%.40s...\n", s.err_no, text_of(s.err_no),
                  line.c_str());
            return {};
        }
        io.out_sink = sink;
        run_to_end(s.pid, io, command, kDefaultTimeLimit);
    } else {
        TempFile out(u_createTempFileName("rexec", 't'));
        const std::string shell_line = "( " + line + " ) 1>" + out.path() + " 2>&1";
        const Started s = exec::start_child(shell_launch(shell_line));
        if (s.pid < 0) {
            if (s.err_no != ECHILD)
                U_MSG("e", "uex2040", "Command error (%d %s), cmd=(%s)\n", s.err_no, text_of(s.err_no),
                      shell_line.c_str());
        } else {
            ChildIo io;
            run_to_end(s.pid, io, command, kDefaultTimeLimit);
        }
        FilePtr f(std::fopen(out.path().c_str(), "rb"));
        if (!f) {
            const int err = errno;
            U_MSG("e", "uex2045", "fopen error (%d %s), file=%s\n", err, text_of(err), out.path().c_str());
            U_MSG("w", "uex2080", "No output (errno:%d %s) returned from command:%.50s...\n", err,
                  text_of(err), command.c_str());
            return {};
        }
        read_file_into(f.get(), sink);
    }

    r_exec_chain result = lines.finish();
    if (debug_on(6))
        for (size_t i = 0; i < result.size(); ++i)
            // Lines are numbered from 1; next is 0 on the last.
            U_MSG("t", "uex3050", "u_exec returning Line(%d) ptr(%d) next(%d) value(%s)\n",
                  static_cast<int>(i + 1), static_cast<int>(i + 1),
                  i + 1 < result.size() ? static_cast<int>(i + 2) : 0, result[i].c_str());
    return result;
}

int u_AsynProcess(const std::string& command, const std::string& parameters) {
    return u_AsynProcess(exec::split_words(command + " " + parameters, kMaxWords));
}

int u_AsynProcess(const std::vector<std::string>& words) {
    exec::reap_stragglers();
    if (debug_on(5)) U_MSG("t", "uex9030", "Child process. cmd=%.20s\n", words.empty() ? "" : words[0].c_str());
    Launch l;
    l.argv = words;
    if (!l.argv.empty()) l.program = exec::find_program(l.argv[0]);
    if (l.program.empty()) {
        U_MSG("s", "uex9040", "execvp() error, errno=%d %s\n", ENOENT, text_of(ENOENT));
        return 0;
    }
    ChildSignalScope child_signal;
    const Started s = exec::start_detached(l);
    if (s.error == StartError::fork) {
        U_MSG("s", "uex9020", "Fork failure. errno=%d %s\n", s.err_no, text_of(s.err_no));
        return 4;
    }
    if (s.pid < 0) {
        U_MSG("s", "uex9040", "execvp() error, errno=%d %s\n", s.err_no, text_of(s.err_no));
        return 0;
    }
    if (debug_on(5)) U_MSG("t", "uex9050", "Child pid= %d.\n", static_cast<int>(s.pid));
    return 0;
}

std::string u_shell(const std::string& command) {
    exec::reap_stragglers();
    ChildSignalScope child_signal;
    ChildIo io;
    Started s;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd child_out;
        errno = 0;
        if (!exec::make_pipe(io.out, child_out)) {
            s = Started{-1, StartError::fork, errno, -1};
        } else {
            Launch l = shell_launch(command);
            l.out = child_out.get();
            s = exec::start_child(l);
        }
        // A start that failed without saying why is tried once more.
        if (s.pid >= 0 || s.err_no != 0 || attempt == 1) break;
        ::sleep(1);
    }
    if (s.pid < 0) {
        U_MSG("e", "uti2050", "popen error (%d %s), cmd=%.40s...\n", s.err_no, text_of(s.err_no),
              command.c_str());
        return {};
    }
    ShellLine joined;
    io.out_sink = [&joined](const char* d, size_t n) { return joined.add(d, n); };
    run_to_end(s.pid, io, command, kDefaultTimeLimit);
    return joined.finish();
}

void reset_child_processes() {
    exec::reset_search_path();
    exec::reset_spawn_state();
}

} // namespace qvx
