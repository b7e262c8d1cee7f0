// The collector's one exit path, and the close-down steps that modules
// above this layer lend it (the request channel, the database).
#pragma once

namespace qvx {

// Close-down steps, in the order they run.
enum class CloseStep {
    interrupt_channel,  // a terminating signal: end the request channel
    interrupt_commit,   // a terminating signal: the final commit
    quit_channel,       // quitting: shut the request channel
    count
};

// Lends (or with null takes back) the step; a step left unset is skipped.
void set_close_step(CloseStep step, void (*action)());

// Orderly termination: restores signals, shuts the request channel,
// deletes the cursors, reports "Collector ended", closes the output and
// exits with status 0. Code -1 returns to the caller after the clean-up.
void quitting(int code);

// Process exit handler.
void my_atexit();

// A noted signal at the collector's safe point: a quiet one is reported
// and returns; a terminating one ends the request channel, commits for
// the last time and quits.
void do_interrupt(int signal);

} // namespace qvx
