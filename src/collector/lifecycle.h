// The collector's start-up order. The exit path every layer uses is
// quitting (runtime/exit_path.h).
#pragma once

namespace qvx {

// Remembered argv for restart and messages.
extern int saved_argc;
extern char** saved_argv;

// The start-up order; never returns.
[[noreturn]] void collector_main(int argc, char** argv);

} // namespace qvx
