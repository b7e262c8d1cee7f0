#include "support/testenv.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
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
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

namespace {
void drain(int fd, std::string& into) {
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) into.append(buf, static_cast<size_t>(n));
}
// The argument and environment vectors of a program to run (PATH added
// when the environment has none).
struct ExecText {
    std::vector<std::string> argv_text, env_text;
    std::vector<char*> argv, envp;
    ExecText(const std::string& exe, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env) {
        if (!env.count("PATH")) env_text.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
        for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
        for (auto& e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);
        argv_text.push_back(exe);
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        for (auto& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
    }
};
} // namespace

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd,
                      int timeout_s) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");

    ExecText text(exe, args, env);
    char** argv = text.argv.data();
    char** envp = text.envp.data();

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[1]);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        execve(exe.c_str(), argv, envp);
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                         {err_open ? err_pipe[0] : -1, POLLIN, 0}};
        int n = poll(fds, 2, 200);
        if (n > 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    std::string& into = i == 0 ? r.out : r.err;
                    char buf[4096];
                    ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
                    if (got > 0)
                        into.append(buf, static_cast<size_t>(got));
                    else
                        (i == 0 ? out_open : err_open) = false;
                }
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    drain(out_pipe[0], r.out);
    drain(err_pipe[0], r.err);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (WIFEXITED(wstatus)) {
        r.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        r.signal = WTERMSIG(wstatus);
    }
    return r;
}

Spawned spawn_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd) {
    ExecText text(exe, args, env);
    char** argv = text.argv.data();
    char** envp = text.envp.data();
    const std::string out = cwd + "/stdout.txt", err = cwd + "/stderr.txt";

    Spawned p;
    p.pid = fork();
    if (p.pid < 0) throw std::runtime_error("fork failed");
    if (p.pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || n < 0) _exit(126);
        dup2(n, 0);
        dup2(o, 1);
        dup2(e, 2);
        execve(exe.c_str(), argv, envp);
        _exit(127);
    }
    return p;
}

int wait_program(Spawned& p, int timeout_s) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int wstatus = 0;
    for (;;) {
        pid_t r = waitpid(p.pid, &wstatus, WNOHANG);
        if (r == p.pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(p.pid, SIGKILL);
            waitpid(p.pid, &wstatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    p.pid = -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

bool wait_for_text(const std::string& path, const std::string& text, int timeout_s) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (std::chrono::steady_clock::now() < deadline) {
        if (read_file(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string bin_path(const std::string& name) { return std::string(QVX_BIN_DIR) + "/" + name; }

} // namespace qvxtest
