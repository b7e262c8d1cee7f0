#include "runtime/signals.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "runtime/exit_path.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace qvx {

volatile std::sig_atomic_t go_home = 0;
unsigned interrupt_wait_seconds = 10;

namespace {

constexpr int kMaxSignal = 65;
volatile std::sig_atomic_t noted[kMaxSignal] = {};
volatile std::sig_atomic_t any_noted = 0;

struct Saved {
    int signal;
    struct sigaction previous;
};
std::array<Saved, 8> saved{};
size_t saved_count = 0;
bool installed = false;

// Self-pipe: the handler writes a byte so that a sleep in poll() ends at
// once, even when the signal arrived just before the sleep began.
int wake_pipe[2] = {-1, -1};

void open_wake_pipe() {
    if (wake_pipe[0] >= 0) return;
    if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
}

void drain_wake_pipe() {
    char buf[64];
    while (wake_pipe[0] >= 0 && read(wake_pipe[0], buf, sizeof buf) > 0) {
    }
}

} // namespace

bool signal_returns_quietly(int sig) {
    return sig == SIGHUP || sig == SIGTTOU || sig == SIGCHLD || sig == SIGUSR1;
}

namespace {

extern "C" void note_signal(int sig) {
    if (sig <= 0 || sig >= kMaxSignal) return;
    if (!signal_returns_quietly(sig)) go_home = 1;
    noted[sig] = 1;
    any_noted = 1;
    if (wake_pipe[1] >= 0) {
        const int saved_errno = errno;
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wake_pipe[1], &byte, 1);
        errno = saved_errno;
    }
}

void install(int sig, void (*handler)(int)) {
    struct sigaction act{};
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;  // no SA_RESTART: a noted signal interrupts sleeps and reads
    Saved s{sig, {}};
    if (sigaction(sig, &act, &s.previous) == 0 && saved_count < saved.size()) saved[saved_count++] = s;
}

} // namespace

void set_signal(int on) {
    if (on) {
        if (installed) return;
        const int level = env_vars.nosignals;
        if (level >= 4) return;
        installed = true;
        saved_count = 0;
        open_wake_pipe();
        if (level == 3) {
            install(SIGINT, note_signal);
            install(SIGTERM, note_signal);
            return;
        }
        for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2}) install(sig, note_signal);
        install(SIGHUP, SIG_IGN);
        install(SIGTTOU, SIG_IGN);
        return;
    }
    if (!installed) return;
    for (size_t i = saved_count; i-- > 0;) sigaction(saved[i].signal, &saved[i].previous, nullptr);
    saved_count = 0;
    installed = false;
}

bool signals_installed() { return installed; }

bool interruptible_sleep(double seconds) { return interruptible_wait(seconds, -1) == WaitEnd::signal; }

bool signal_pending() { return any_noted != 0; }

WaitEnd interruptible_wait(double seconds, int fd) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (any_noted) {
            drain_wake_pipe();
            return WaitEnd::signal;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) return WaitEnd::timeout;
        pollfd fds[2];
        nfds_t n = 0;
        if (wake_pipe[0] >= 0) fds[n++] = {wake_pipe[0], POLLIN, 0};
        const nfds_t data_at = n;
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
        const int ms = static_cast<int>(std::min<long long>(left.count(), 60'000));
        if (n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            continue;
        }
        if (poll(fds, n, ms) > 0 && fd >= 0 && (fds[data_at].revents & (POLLIN | POLLHUP)) != 0 && !any_noted)
            return WaitEnd::ready;
    }
}

void service_signals() {
    while (any_noted) {
        any_noted = 0;
        for (int sig = 1; sig < kMaxSignal; ++sig) {
            if (noted[sig]) {
                noted[sig] = 0;
                do_interrupt(sig);
            }
        }
    }
}

void reset_signals() {
    set_signal(0);
    for (auto& n : noted) n = 0;
    any_noted = 0;
    drain_wake_pipe();
    interrupt_wait_seconds = 10;
    go_home = 0;
}

} // namespace qvx
