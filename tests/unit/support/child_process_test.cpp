#include "support/child_process.h"

#include "support/exec_spawn.h"

#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qvx;
using Clock = std::chrono::steady_clock;

namespace {

// Prints its arguments, and what reached it on standard input ("--" or no
// arguments) or in a parameter file ("@file").
constexpr const char* kShowScript = R"sh(#!/bin/sh
printf 'argc=%s\n' "$#"
for a in "$@"; do case "$a" in @*) echo "arg=@FILE";; *) printf 'arg=%s\n' "$a";; esac; done
case "$1" in
  --) printf 'stdin=%s\n' "$(tr -d '\000')";;
  @*) printf 'file=%s\n' "$(cat "${1#@}")";;
  '') printf 'stdin=%s\n' "$(tr -d '\000')";;
esac
)sh";

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.set("COLL_BINPATH", dir_.path());
        qvxtest::reset_collector_state();
        env_vars.localtmpdir = dir_.file("tmp");
        const std::string show = dir_.write("show", kShowScript);
        ::chmod(show.c_str(), 0755);
    }
    void TearDown() override { std::signal(SIGCHLD, SIG_DFL); }

    // Temporary files left behind by a run.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir_.file("tmp"), ec))
            names.push_back(e.path().filename().string());
        return names;
    }

    static bool no_children_left() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

    bool wait_for_file(const std::string& path) const {
        for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return std::filesystem::exists(path);
    }

    // A timed run with the given flags; its status and what it wrote to
    // the standard streams are left in status and out.
    r_exec_chain timed(const std::string& cmd, const std::string& parms, uint8_t flags, int32_t line_limit = 0,
                       int time_limit = 5) {
        execopt o;
        o.flags = flags;
        o.line_limit = line_limit;
        r_exec_chain lines;
        out = qvxtest::captured([&] { lines = u_exec_timed(cmd, parms, time_limit, o); });
        status = o.status;
        return lines;
    }

    qvxtest::ScopedEnv env_;
    qvxtest::TempDir dir_;
    int32_t status = -1;
    std::string out;
};

TEST_F(ChildProcessTest, ParametersReachTheChildAsTheFlagsSay) {
    const std::string long_parms(1100, 'z');
    std::string many_words;
    for (int i = 0; i < 600; ++i) many_words += "w ";
    struct Case {
        const char* what;
        uint8_t flags;
        std::string parms;
        r_exec_chain expected;
    };
    const Case cases[] = {
        {"defaults, short: command line", 0, "a b", {"argc=2", "arg=a", "arg=b"}},
        {"defaults, long: standard input after --", 0, long_parms, {"argc=1", "arg=--", "stdin=" + long_parms}},
        {"quoted words stay one", 0, "'a b' \"c d\" e", {"argc=3", "arg=a b", "arg=c d", "arg=e"}},
        {"no parameters", 0, "", {"argc=0", "stdin="}},
        {"file, told with @", 1 | 4 | 16, "x y", {"argc=1", "arg=@FILE", "file=x y"}},
        {"file, not told", 1 | 4, "x y", {"argc=0", "stdin="}},
        {"standard input, not told", 1 | 2, "p q", {"argc=0", "stdin=p q"}},
        {"command line by default mode", 1, "p q", {"argc=2", "arg=p", "arg=q"}},
        // The shell finds its commands on PATH alone.
        {"shell characters: sh -c", 0, "one; echo two", {"argc=1", "arg=one", "two"}},
        {"shell characters: pipe", 0, "x | tr a-z A-Z", {"ARGC=1", "ARG=X"}},
    };
    for (const Case& c : cases) {
        const std::string show = c.parms.find_first_of(";|") == std::string::npos ? "show" : dir_.file("show");
        EXPECT_EQ(timed(show, c.parms, c.flags), c.expected) << c.what;
        EXPECT_EQ(status, exec_good) << c.what;
        EXPECT_TRUE(leftovers().empty()) << c.what;
    }

    // At most 500 words reach the program, its own name among them.
    const r_exec_chain lines = timed("show", many_words, 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "argc=499");

    // Parameters on standard input larger than a pipe holds: no deadlock.
    const std::string big(300000, 'b');
    EXPECT_EQ(timed("wc -c", big, 1 | 2), r_exec_chain{"300001"});  // with the zero byte
    EXPECT_EQ(status, exec_good);
}

TEST_F(ChildProcessTest, CommandsNotFoundAreNotStarted) {
    for (const std::string& cmd : std::vector<std::string>{"no_such_command_qvx", "", "/bin/no/such", dir_.path()}) {
        const r_exec_chain lines = timed(cmd, "x", 0);
        EXPECT_TRUE(lines.empty()) << cmd;
        EXPECT_EQ(status, exec_not_created) << cmd;
        EXPECT_TRUE(qvxtest::has(out, "UEX4100S")) << out;
        EXPECT_TRUE(qvxtest::has(out, "Command not found: " + cmd + ".")) << out;
    }
}

TEST_F(ChildProcessTest, OutputLinesAndChannels) {
    const std::string both = "-c 'echo out; echo err >&2'";
    struct Case {
        const char* what;
        std::string cmd, parms;
        uint8_t flags;
        int32_t line_limit;
        r_exec_chain expected;
    };
    const Case cases[] = {
        {"empty lines skipped, last line unended", "printf", "'a\\n\\n\\nb\\nc'", 0, 0, {"a", "b", "c"}},
        {"line limit", "seq", "1 10", 0, 3, {"1", "2", "3"}},
        {"end-of-file mark ends the reading", "printf", "'a\\nb\\032\\nc\\n'", 0, 0, {"a", "b"}},
        {"lone end-of-file mark", "printf", "'a\\n\\032\\nc\\n'", 0, 0, {"a"}},
        {"standard error merged", "sh", both, 1 | 8 | 32, 0, {"out", "err"}},
        {"standard error apart is not returned", "sh", both, 1 | 8, 0, {"out"}},
        {"output through a file", "sh", both, 1 | 8 | 32 | 64, 0, {"out", "err"}},
        {"output file, line limit", "seq", "1 10", 1 | 8 | 64, 2, {"1", "2"}},
        {"much on standard error does not block",
         "sh", "-c 'head -c 300000 /dev/zero >&2; echo done'", 1 | 8, 0, {"done"}},
        {"endless output stops at the limit", "yes", "", 0, 4, {"y", "y", "y", "y"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timed(c.cmd, c.parms, c.flags, c.line_limit, 2), c.expected) << c.what;
        EXPECT_EQ(status, exec_good) << c.what;
        EXPECT_TRUE(leftovers().empty()) << c.what;
    }

    const r_exec_chain cut = timed("printf", "'%9000s\\nx'", 0);
    ASSERT_EQ(cut.size(), 3u);
    EXPECT_EQ(cut[0], std::string(8192, ' '));
    EXPECT_EQ(cut[1], std::string(808, ' '));
    EXPECT_EQ(cut[2], "x");
}

TEST_F(ChildProcessTest, TimeLimitEndsEvenStubbornChildren) {
    // The stubborn one would leave a mark after 2.5 seconds, a little after
    // SIGKILL is due (one second after SIGTERM).
    const std::string mark = dir_.file("mark");
    struct Case {
        const char* what;
        std::string parms;
        const char* first_line;
        double most_seconds;
    };
    const Case cases[] = {
        {"ends on SIGTERM", "-c 'echo early; exec sleep 5'", "early", 1.8},
        {"ignores SIGTERM", "-c 'trap \"\" TERM; echo stubborn; sleep 2.5; touch " + mark + "'",
         "stubborn", 2.5},
    };
    for (const Case& c : cases) {
        const auto start = Clock::now();
        const r_exec_chain lines = timed("sh", c.parms, 1 | 8, 0, 1);
        const std::chrono::duration<double> took = Clock::now() - start;
        EXPECT_EQ(lines, r_exec_chain{c.first_line}) << c.what;
        EXPECT_EQ(status, exec_timed_out) << c.what;
        EXPECT_TRUE(qvxtest::has(out, "UEX8080E")) << out;
        EXPECT_TRUE(qvxtest::has(out, "Child process sh did not finish in 1 seconds.")) << out;
        EXPECT_LT(took.count(), c.most_seconds) << c.what;
        EXPECT_TRUE(no_children_left()) << c.what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_FALSE(std::filesystem::exists(mark));
}

TEST_F(ChildProcessTest, ExitStatusIsWaitedForWhileSigchldIsIgnored) {
    std::signal(SIGCHLD, SIG_IGN);
    // The output comes after the child would have been reaped by the kernel.
    EXPECT_EQ(timed("sh", "-c 'sleep 0.3; echo late'", 1 | 8), r_exec_chain{"late"});
    EXPECT_EQ(status, exec_good);
    EXPECT_EQ(u_exec("sleep 0.3; echo", "late"), r_exec_chain{"late"});
    EXPECT_EQ(u_shell("sleep 0.3; echo late"), "late");

    // The exit status itself is had, as a run sees it.
    {
        exec::ChildSignalScope child_signal;
        exec::Launch l;
        l.program = "/bin/sh";
        l.argv = {"sh", "-c", "sleep 0.2; exit 3"};
        const exec::Started s = exec::start_child(l);
        ASSERT_GT(s.pid, 0);
        exec::ChildIo io;
        const exec::Outcome o = exec::watch_child(s.pid, io, std::chrono::milliseconds(2000));
        EXPECT_TRUE(o.ended);
        EXPECT_TRUE(WIFEXITED(o.wait_status) && WEXITSTATUS(o.wait_status) == 3) << o.wait_status;
    }
    struct sigaction now{};
    ::sigaction(SIGCHLD, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
}

TEST_F(ChildProcessTest, ProgramThatCannotBeExecutedIsReported) {
    const std::string junk = dir_.write("junk", "echo no interpreter line\n");
    ::chmod(junk.c_str(), 0755);
    const r_exec_chain lines = timed("junk", "a", 0);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(qvxtest::has(out, "UEX4080E")) << out;
    EXPECT_TRUE(qvxtest::has(out, "exec() error, errno=8 Exec format error")) << out;
    EXPECT_TRUE(no_children_left());
}

TEST_F(ChildProcessTest, ChildrenStartWithCleanSignalsAndDescriptors) {
    const int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec
    ASSERT_GE(leaked, 3);
    std::signal(SIGINT, SIG_IGN);
    sigset_t usr1, saved;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &usr1, &saved);

    const r_exec_chain sigs = timed("grep", "-e SigBlk -e SigIgn /proc/self/status", 0);
    const r_exec_chain fds = timed("ls", "/proc/self/fd", 0);  // 3: the directory ls reads
    const r_exec_chain fds_shell = u_exec("ls", "/proc/self/fd");

    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    std::signal(SIGINT, SIG_DFL);
    ::close(leaked);
    // Signals 32 and 33 belong to the C library: a process cannot change
    // them, so whatever the test runner passed down is not counted.
    ASSERT_EQ(sigs.size(), 2u);
    EXPECT_EQ(sigs[0], "SigBlk:\t0000000000000000");
    ASSERT_EQ(sigs[1].rfind("SigIgn:\t", 0), 0u);
    const unsigned long long ignored = std::stoull(sigs[1].substr(8), nullptr, 16);
    EXPECT_EQ(ignored & ~0x180000000ULL, 0u) << sigs[1];
    EXPECT_EQ(fds, (r_exec_chain{"0", "1", "2", "3"}));
    EXPECT_EQ(fds_shell, (r_exec_chain{"0", "1", "2", "3"}));
}

TEST_F(ChildProcessTest, UnwaitedChildrenLeaveNoZombies) {
    const std::string touched = dir_.file("touched");
    EXPECT_TRUE(timed("touch", touched, 1 | 8 | 128).empty());
    EXPECT_EQ(status, exec_good);
    EXPECT_TRUE(no_children_left());
    EXPECT_TRUE(wait_for_file(touched));

    // Parameters on standard input reach a child nobody waits for.
    const std::string fed = dir_.file("fed");
    EXPECT_TRUE(timed("sh -c 'cat > " + fed + "'", "hello", 1 | 2 | 128).empty());
    EXPECT_TRUE(no_children_left());
    ASSERT_TRUE(wait_for_file(fed));
    for (int i = 0; i < 100 && qvxtest::read_file(fed).size() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(qvxtest::read_file(fed), std::string("hello", 6));

    const std::string started = dir_.file("started");
    EXPECT_EQ(u_AsynProcess("touch", started), 0);
    EXPECT_TRUE(no_children_left());
    EXPECT_TRUE(wait_for_file(started));

    const std::string out = qvxtest::captured([&] { EXPECT_EQ(u_AsynProcess("no_such_command_qvx", "a"), 0); });
    EXPECT_TRUE(qvxtest::has(out, "UEX9040S")) << out;
    EXPECT_TRUE(qvxtest::has(out, "execvp() error, errno=2 ")) << out;
}

TEST_F(ChildProcessTest, SimpleRunInPipeAndFileMode) {
    const std::string long_parms(1100, 'p');
    const std::string show_args = "f() { echo \"$1\"; cat \"$2\"; echo; }; f";
    r_exec_chain ten_thousand;
    for (int i = 1; i <= 10000; ++i) ten_thousand.push_back(std::to_string(i));
    struct Case {
        const char* what;
        std::string cmd, parms;
        r_exec_chain pipe_mode, file_mode;
    };
    const Case cases[] = {
        {"lines of only a newline skipped", "printf", "'a\\n\\n\\nb\\n'", {"a", "b"}, {"a", "b"}},
        {"five zero-led lines pass", "printf", "'a\\n\\000\\n\\000x\\n\\000\\n\\000\\n\\000\\nb\\n'",
         {"a", "b"}, {"a", "b"}},
        {"six zero-led lines end the reading", "printf",
         "'a\\n\\000\\n\\000\\n\\000\\n\\000\\n\\000\\n\\000\\nb\\n'", {"a"}, {"a"}},
        {"a line ends at its first zero byte", "printf", "'ab\\000cd\\n'", {"ab"}, {"ab"}},
        {"10000 lines at most", "seq", "1 10050", ten_thousand, ten_thousand},
        {"long parameters through -filein", show_args, long_parms,
         {"-filein", long_parms}, {"-filein", long_parms}},
        {"standard error only in file mode", "echo", "e >&2", {}, {"e"}},
    };
    for (const char* db_type : {"inf", "zep", "ora"}) {
        env_vars.db_type = db_type;
        const bool file_mode = std::string(db_type) != "inf";
        for (const Case& c : cases) {
            r_exec_chain lines;
            qvxtest::captured([&] { lines = u_exec(c.cmd, c.parms); });  // standard error in pipe mode
            EXPECT_EQ(lines, file_mode ? c.file_mode : c.pipe_mode) << c.what << " " << db_type;
            EXPECT_TRUE(leftovers().empty()) << c.what << " " << db_type;
        }
    }

    // fgets-sized pieces: one character less than the block.
    env_vars.db_type = "inf";
    const r_exec_chain cut = u_exec("printf", "'%9000s\\n'");
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].size(), 8191u);
    EXPECT_EQ(cut[1].size(), 809u);
}

TEST_F(ChildProcessTest, ShellQueryJoinsLines) {
    const std::pair<const char*, std::string> cases[] = {
        {"printf 'one\\ntwo\\n'", "one two"},
        {"printf 'x  \\n\\t\\n  y\\t\\n'", "x   y"},
        {"printf 'a\\n\\n\\nb'", "a b"},    // two empty lines in a row go on
        {"printf 'a\\n\\n\\n\\nb'", "a"},   // a third ends the reading
        {"echo partial; exit 3", "partial"},
        {"exit 3", ""},
        // Carriage returns are trailing white space; leading blanks stay.
        {"printf 'alpha  \\nbeta\\t\\r\\n\\n   \\n  gamma delta'", "alpha beta   gamma delta"},
        // 4094 characters at most, also of output that never ends.
        {"yes | tr -d '\\n'", std::string(4094, 'y')},
        {"head -c 20000000 /dev/zero | tr '\\0' 'x'", std::string(4094, 'x')},
    };
    for (const auto& [command, expected] : cases) EXPECT_EQ(u_shell(command), expected) << command;
    // 500 lines at most.
    const std::string lines = u_shell("seq 1 1000");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ' '), 499);
    EXPECT_EQ(lines.substr(lines.size() - 4), " 500");
    EXPECT_EQ(u_shell("yes").size(), 999u);
}

TEST_F(ChildProcessTest, WriteLocksAreSeenByOtherProcesses) {
    const std::string path = dir_.write("locked", "data");
    FILE* f = std::fopen(path.c_str(), "r+");
    ASSERT_NE(f, nullptr);

    // A second process holds the lock until told to go.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    // In a child: F_SETLK or F_GETLK of a whole-file write lock; the lock
    // after the call.
    const auto whole_file_lock = [&](int command) {
        const int fd = ::open(path.c_str(), O_RDWR);
        struct flock l{};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        return ::fcntl(fd, command, &l) == 0 && l.l_type == F_WRLCK;
    };
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        char c = whole_file_lock(F_SETLK) ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
        n = ::read(go[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    std::string out = qvxtest::captured([&] { EXPECT_EQ(issue_write_lock(f, "locked", 0), 1); });
    EXPECT_TRUE(qvxtest::has(out, "CGN3985E")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Write_lock error 11 on locked. Resource temporarily unavailable"))
        << out;

    ASSERT_EQ(::write(go[1], "x", 1), 1);  // the holder ends; the waiting lock gets through
    EXPECT_EQ(issue_write_lock(f, "locked", 1), 0);
    ::waitpid(holder, nullptr, 0);

    // Now another process sees the lock, and after the unlock it does not.
    auto seen_by_other = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(whole_file_lock(F_GETLK) ? 1 : 0);
        int st = 0;
        ::waitpid(pid, &st, 0);
        return WIFEXITED(st) && WEXITSTATUS(st) == 1;
    };
    EXPECT_TRUE(seen_by_other());
    EXPECT_EQ(issue_unlock(f, "locked", 0), 0);
    EXPECT_FALSE(seen_by_other());
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
    std::fclose(f);

    FILE* read_only = std::fopen(path.c_str(), "r");
    out = qvxtest::captured([&] {
        EXPECT_EQ(issue_write_lock(read_only, "ro", 1), 1);
        EXPECT_EQ(issue_unlock(nullptr, "none", 0), 1);
    });
    std::fclose(read_only);
    EXPECT_TRUE(qvxtest::has(out, "Write_lock error 9 on ro. Bad file descriptor")) << out;
    EXPECT_TRUE(qvxtest::has(out, "CGN3990E")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Unlock error 9 on none. Bad file descriptor!!")) << out;
}

TEST(ExecWordsTest, CommandLinesSplitIntoWords) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}},
        {" \t ", {}},
        {"cmd  a\tb ", {"cmd", "a", "b"}},
        {"cmd 'a b' \"c 'd\"", {"cmd", "a b", "c 'd"}},
        {"x'y z'w", {"xy zw"}},          // quotes inside a word
        {"cmd 'open to the end", {"cmd", "open to the end"}},
        {"''", {""}},
    };
    for (const auto& [line, words] : cases) EXPECT_EQ(exec::split_words(line, 500), words) << line;
    EXPECT_EQ(exec::split_words("a b c d", 2), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ChildProcessTest, ProgramsAreFoundOnTheBinPathFirst) {
    // A "seq" of our own shadows the system's; a file that cannot be run
    // is passed over.
    const std::string own = dir_.write("seq", "#!/bin/sh\necho own seq\n");
    ::chmod(own.c_str(), 0755);
    const std::string other = dir_.write("other/seq", "#!/bin/sh\necho other seq\n");
    ::chmod(other.c_str(), 0644);
    EXPECT_EQ(timed("seq", "3", 0), r_exec_chain{"own seq"});

    // The search path is taken once; a changed one counts after a reset.
    env_.set("COLL_BINPATH", dir_.file("other"));
    EXPECT_EQ(timed("seq", "3", 0), r_exec_chain{"own seq"});
    reset_child_processes();
    EXPECT_EQ(timed("seq", "2", 0), (r_exec_chain{"1", "2"}));
    EXPECT_EQ(exec::find_program(other), "");
    EXPECT_EQ(exec::find_program(own), own);
}

TEST_F(ChildProcessTest, ChildrenThatStopReadingOrLeaveHelpersBehind) {
    // A child that reads none of a large input: the write fails, the
    // collector is not ended by SIGPIPE.
    EXPECT_TRUE(timed("true", std::string(300000, 'q'), 1 | 2).empty());
    EXPECT_EQ(status, exec_good);
    EXPECT_TRUE(qvxtest::has(out, "UEX6900W")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Unable to write to un-named pipe")) << out;

    // A helper left running in the background keeps the pipe open: the
    // run ends with its child all the same.
    const auto start = Clock::now();
    EXPECT_EQ(timed("sh", "-c 'echo a; sleep 2 & echo b'", 1 | 8, 0, 1), (r_exec_chain{"a", "b"}));
    EXPECT_EQ(status, exec_good);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
}

TEST_F(ChildProcessTest, TracesAndKeptFilesFollowTheDebugLevels) {
    my_trace_all[5] = 1;
    timed("show", "x y", 1 | 4 | 16);
    for (const char* text : {"UEX4010T", "Time limit=5, cmd=show. parms=x y", "Parm 1 @", "Child pid= ",
                             "finished in 0 seconds"})
        EXPECT_TRUE(qvxtest::has(out, text)) << text << "\n" << out;
    EXPECT_TRUE(leftovers().empty());

    // Debug level 9 keeps the temporary files for a look afterwards.
    my_trace_all[9] = 1;
    timed("show", "x y", 1 | 4 | 16 | 64);
    std::vector<std::string> kept = leftovers();
    ASSERT_EQ(kept.size(), 2u);
    std::sort(kept.begin(), kept.end());
    EXPECT_TRUE(kept[0].ends_with("_out") && kept[1].ends_with("_parms")) << kept[0] << " " << kept[1];
}

} // namespace
