#include "runtime/exit_path.h"

#include <unistd.h>

#include <array>
#include <cstdlib>

#include "model/cursor_list.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/signals.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

std::array<void (*)(), static_cast<size_t>(CloseStep::count)> close_steps{};
bool quitting_now = false;

void run_step(CloseStep step) {
    if (auto* action = close_steps[static_cast<size_t>(step)]) action();
}

} // namespace

void set_close_step(CloseStep step, void (*action)()) { close_steps[static_cast<size_t>(step)] = action; }

void quitting(int code) {
    // A second call while the first is still cleaning up (a signal during
    // the exit path) only finishes the exit.
    if (quitting_now) {
        if (code == -1) return;
        std::exit(0);
    }
    quitting_now = true;
    const std::string now = form_time();
    set_signal(0);
    run_step(CloseStep::quit_channel);
    delete_cursors();
    PRINT('s', "ggn1505", "Time = %s, Collector ended\n", now.c_str());
    close_PRINT();
    if (code == -1) {
        quitting_now = false;
        return;
    }
    std::exit(0);
}

void my_atexit() {
    if (!go_home) PRINT('s', "col9999", "Exiting collector at %s\n", form_time().c_str());
}

void do_interrupt(int sig) {
    if (debug_on(2)) PRINT('t', "cir5003", "Signal handler entered for signal %d\n", sig);
    if (signal_returns_quietly(sig)) {
        PRINT('a', "cir5004", "Received interupt (%d). Returning\n", sig);
        return;
    }
    go_home = 1;
    PRINT('a', "cir5005", "Received interupt (%d). Quitting.\n", sig);
    sleep(interrupt_wait_seconds);
    run_step(CloseStep::interrupt_channel);
    run_step(CloseStep::interrupt_commit);
    sleep(interrupt_wait_seconds);
    quitting(0);
}

} // namespace qvx
