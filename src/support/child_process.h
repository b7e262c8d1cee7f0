// Running external commands: fetch exits, scripts, process checks and the
// shell queries of start-up.
//
//   u_exec          output lines of "command parameters" run by the shell
//   u_exec_timed    a run under a time limit with full control of how the
//                   parameters reach the command and where its output goes
//   u_AsynProcess   start and forget
//   u_shell         output of a shell command as one line of text
//
// Every child starts with default signal dispositions, an empty signal
// mask and no descriptors but its standard input, output and error (the
// standard input is /dev/null unless the child is fed through a pipe). No
// wait is unbounded: a child still running at its time limit is sent
// SIGTERM, and SIGKILL a second later when it ignores that. No child is
// left behind as a zombie: waited-for children are reaped even while
// SIGCHLD is ignored (see support/exec_spawn.h), and the children nobody
// waits for are started through an intermediate process so that they
// belong to init.
//
// Temporary files (parameters, output) are named by u_createTempFileName
// and removed after the run, unless debug level 9 is on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace qvx {

// The output lines of a command, in order, each without its newline. An
// empty chain stands for "no result" (nothing read, no child, no wait).
using r_exec_chain = std::vector<std::string>;

// Bits of execopt::flags.
enum ExecFlag : uint8_t {
    exec_options_set = 1,      // the caller has chosen the bits; no defaults
    exec_parms_stdin = 2,      // parameters on the child's standard input
    exec_parms_file = 4,       // parameters in a temporary file
    exec_parms_cmdline = 8,    // parameters on the command line when short enough
    exec_tell_child = 16,      // " --" (standard input) or " @file" added to the command
    exec_merge_stderr = 32,    // standard error where standard output goes
    exec_stdout_file = 64,     // standard output to a temporary file, not a pipe
    exec_no_wait = 128,        // start the child and return
};
// Without exec_options_set a timed run uses these.
inline constexpr uint8_t exec_default_flags = exec_parms_stdin | exec_parms_cmdline | exec_tell_child;

// Bits of execopt::flags2.
enum ExecFlag2 : uint8_t {
    exec2_stdin_pipe = 4,      // the child's standard input is a pipe even without parameters on it
};

// execopt::status after a timed run.
enum ExecStatus : int32_t {
    exec_good = 0,
    exec_timed_out = 1,        // the child was still running at its time limit
    exec_not_created = 2,      // the child could not be started
};

// Options of a timed run, set by the caller.
struct execopt {
    uint8_t flags = 0;
    uint8_t flags2 = 0;
    int32_t status = exec_good;
    int32_t line_limit = 0;    // most output lines taken; 0 or less: 30000
    int32_t time_limit = 0;    // seconds; 0 or less: the time_limit argument, else 600
};

// Runs "command parameters" through the shell and returns its output
// lines (at most 10000; lines of only a newline skipped; more than five
// lines in a row that begin with a zero byte end the reading). Parameters
// longer than 1024 characters are passed as "-filein <file>". For the
// database types "zep" and "zeb" the output goes through a temporary file
// with standard error merged; otherwise standard output is read from a
// pipe. The run is bounded by 600 seconds.
r_exec_chain u_exec(const std::string& command, const std::string& parameters);

// Runs the command under the options (see ExecFlag). Parameters holding
// any of ";|<>&" make the child "sh -c '( command parameters )'";
// otherwise the command's first word is looked up on "COLL_BINPATH" and
// "PATH". Output lines are taken up to the line limit, empty lines
// skipped; a line ending in the character 26 is the last. Returns the
// lines, also those read before a time-out; options.status tells how the
// run went.
r_exec_chain u_exec_timed(const std::string& command, const std::string& parameters,
                          int time_limit, execopt& options);

// One output line as it is read; false when no more lines are wanted (the
// child's output is closed then, so a writer that goes on ends on a broken
// pipe instead of filling memory).
using LineSink = std::function<bool(const std::string& line)>;

// The timed run for a program and its arguments given as words (the first
// looked up on "COLL_BINPATH" and "PATH"): neither a shell nor a word
// splitter takes part, so no character of an argument means anything to
// anyone but the program. The output lines follow the timed run's rules
// (empty lines skipped, the line limit, the end-of-file mark) and go to
// sink as they are read; none is kept. Of the option bits only 32, 64 and
// 128 apply. Returns the number of lines handed to sink.
size_t u_exec_timed_words(const std::vector<std::string>& words, int time_limit, execopt& options,
                          const LineSink& sink);

// Starts "command parameters" (split into words, no shell) and returns at
// once: 0, or 4 when no process could be created. The second form takes
// the words as they stand.
int u_AsynProcess(const std::string& command, const std::string& parameters);
int u_AsynProcess(const std::vector<std::string>& words);

// The shell command's output as one line: at most 500 lines and 4094
// characters, each line's trailing white space removed, lines joined with
// single blanks, empty lines skipped, more than two empty lines in a row
// end the reading. Empty when the command cannot be run (uti2050).
std::string u_shell(const std::string& command);

// Whole-file advisory write lock on the stream's file (waiting for it when
// wait is 1), and its release. 0 good, 1 failed (cgn3985, cgn3990); name
// is the file's name for the message.
int issue_write_lock(FILE* stream, const std::string& name, int wait);
int issue_unlock(FILE* stream, const std::string& name, int wait);

// Forgets the cached search path and left-over children (tests).
void reset_child_processes();

} // namespace qvx
