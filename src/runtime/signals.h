// Signal handling. The handlers themselves only note the signal (and raise
// go_home for a terminating one); the collector acts on it at its next
// safe point through service_signals, which runs do_interrupt.
#pragma once

#include <csignal>

namespace qvx {

// Raised by a terminating signal (and by a stop request); read by the
// scheduling loop and the exit handler.
extern volatile std::sig_atomic_t go_home;

// Installs (1) or restores (0) the signal handlers, as "COLL_NOSIGNALS"
// allows.
void set_signal(int on);

// True for the signals that are reported and then ignored (hang-up,
// background output, child ended, SIGUSR1).
bool signal_returns_quietly(int signal);

// Runs do_interrupt for every signal noted since the last call. Returns
// when none is left (a terminating signal does not return: it ends the
// collector through quitting).
void service_signals();

// Sleeps for the given seconds, or less when a signal is noted meanwhile
// (also one noted just before the call). Returns true when woken by a
// signal.
bool interruptible_sleep(double seconds);

// How an interruptible wait ended.
enum class WaitEnd { timeout, signal, ready };

// Sleeps like interruptible_sleep but also wakes when fd (when >= 0)
// becomes readable.
WaitEnd interruptible_wait(double seconds, int fd);

// True when a signal has been noted and not yet serviced.
bool signal_pending();

// True while the handlers are installed.
bool signals_installed();

// Seconds do_interrupt waits before and after closing the channels
// (10 each; tests shorten them).
extern unsigned interrupt_wait_seconds;

// Restores the dispositions and forgets noted signals (tests).
void reset_signals();

} // namespace qvx
