#include "runtime/lifecycle.h"

#include <cstdlib>

#include "channel/requests.h"
#include "control/cursor.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/signals.h"

namespace qvx {

volatile std::sig_atomic_t go_home = 0;
int saved_argc = 0;
char** saved_argv = nullptr;

namespace {
bool quitting_now = false;
}

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
    shut_upa_channel();
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

} // namespace qvx
