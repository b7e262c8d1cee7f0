// The collector's start-up order and its one exit path.
#pragma once

#include <csignal>

namespace qvx {

// Raised by a terminating signal; read by the scheduling loop and the exit
// handler.
extern volatile std::sig_atomic_t go_home;

// Remembered argv for restart and messages.
extern int saved_argc;
extern char** saved_argv;

// Orderly termination: restores signals, shuts the request channel,
// deletes the cursors, reports "Collector ended", closes the output and
// exits with status 0. Code -1 returns to the caller after the clean-up.
void quitting(int code);

// Process exit handler.
void my_atexit();

// Installs (1) or restores (0) the signal handlers, as "COLL_NOSIGNALS"
// allows.
void set_signal(int on);
void do_interrupt(int signal);

// The start-up order; never returns.
[[noreturn]] void collector_main(int argc, char** argv);

} // namespace qvx
