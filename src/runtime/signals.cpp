#include "runtime/signals.h"

#include <array>
#include <csignal>
#include <unistd.h>

#include "runtime/lifecycle.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace qvx {

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

bool returns_quietly(int sig) {
    return sig == SIGHUP || sig == SIGTTOU || sig == SIGCHLD || sig == SIGUSR1;
}

extern "C" void note_signal(int sig) {
    if (sig <= 0 || sig >= kMaxSignal) return;
    if (!returns_quietly(sig)) go_home = 1;
    noted[sig] = 1;
    any_noted = 1;
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

void do_interrupt(int sig) {
    if (debug_on(2)) PRINT('t', "cir5003", "Signal handler entered for signal %d\n", sig);
    if (returns_quietly(sig)) {
        PRINT('a', "cir5004", "Received interupt (%d). Returning\n", sig);
        return;
    }
    go_home = 1;
    PRINT('a', "cir5005", "Received interupt (%d). Quitting.\n", sig);
    sleep(interrupt_wait_seconds);
    // The agent request channel and the database connection are closed here
    // once they exist.
    sleep(interrupt_wait_seconds);
    quitting(0);
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
    interrupt_wait_seconds = 10;
}

} // namespace qvx
