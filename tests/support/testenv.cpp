#include "support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qvxtest {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "qvxtest.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    fs::path p = fs::path(path_) / name;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    return p.string();
}

std::string TempDir::read(const std::string& name) const { return read_file(file(name)); }

bool TempDir::exists(const std::string& name) const { return fs::exists(fs::path(path_) / name); }

std::vector<std::string> TempDir::files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnv::~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ScopedEnv::remember(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
}

void ScopedEnv::set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

namespace {
// Starts exe in cwd with exactly env (PATH added when it has none) and the
// three standard descriptors given (opened close-on-exec, so that no other
// copy reaches the program); a child that cannot get there exits
// with 126, one that cannot execute with 127.
pid_t start(const std::string& exe, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& cwd, int in, int out, int err) {
    std::vector<std::string> env_text, argv_text{exe};
    if (!env.count("PATH")) env_text.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argv_text) argv.push_back(a.data());
    for (auto& e : env_text) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if ((!cwd.empty() && chdir(cwd.c_str()) != 0) || in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int exit_status(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1; }
} // namespace

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd,
                      int timeout_s) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = start(exe, args, env, cwd, devnull, out_pipe[1], err_pipe[1]);
    close(devnull);
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, 200) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char buf[4096];
                const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
                if (got > 0) (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
                else fds[i].fd = -1;
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    close(out_pipe[0]);
    close(err_pipe[0]);
    r.status = exit_status(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

Spawned spawn_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd) {
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open((cwd + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open((cwd + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Spawned p;
    p.pid = start(exe, args, env, cwd, in, out, err);
    for (int fd : {in, out, err}) close(fd);
    return p;
}

int wait_program(Spawned& p, int timeout_s) {
    const int status = wait_child(p.pid, timeout_s);
    p.pid = -1;
    return status;
}

int wait_child(int pid, int timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exit_status(wstatus);
}

int dead_pid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

bool wait_for_text(const std::string& path, const std::string& text, int timeout_s, size_t from) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string content = read_file(path);
        if (content.size() > from && content.find(text, from) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string sqlite(const std::string& db, const std::string& sql) {
    const RunResult r = run_program("/usr/bin/sqlite3", {"-cmd", ".timeout 5000", db, sql}, {}, "");
    EXPECT_EQ(r.status, 0) << sql << ": " << r.err;
    return r.out.substr(0, r.out.find_last_not_of('\n') + 1);
}

bool segment_exists(int id) {
    shmid_ds ds{};
    return shmctl(id, IPC_STAT, &ds) == 0;
}

bool semset_exists(int id) { return semctl(id, 0, GETVAL) >= 0 || errno == EACCES; }

std::string bin_path(const std::string& name) { return std::string(QVX_BIN_DIR) + "/" + name; }

} // namespace qvxtest
