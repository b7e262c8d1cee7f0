// Internal to the message output module: its process-wide state and the
// routines its source files share. Other modules use runtime/messages.h.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "runtime/messages.h"

namespace qvx::msgout {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

// The routine that writes a line; each keeps its own wrap counter.
enum class Writer { print, umsg };

// Where a finished line goes besides its main destination.
struct Route {
    bool flush = false;      // flush the output file (or standard output)
    bool to_stderr = false;  // copy to standard error (only there without a file)
};

struct State {
    std::unique_ptr<FILE, FileCloser> file;  // output file, null while none is open
    std::string path;                        // kept so that a wrap reopens the same name
    std::string stdout_prefix;               // written before lines sent to standard output
    long print_lines = 0;                    // lines PRINT wrote since the last wrap
    long umsg_lines = 0;                     // lines u_msg wrote since the last wrap
    std::optional<long> line_limit;          // COLL_WRAPLINES, read on first use
    std::optional<int> backups;              // COLL_NUMOUTBAK, read on first open
    int open_failures = 0;                   // failed opens so far
    int temp_counter = 0;                    // last counter used in a temporary name
    std::optional<std::string> temp_dir;     // directory of temporary names, fixed on first use
    bool milestones_to_stderr = true;        // level A lines are copied to standard error
    MessageTap tap = nullptr;                // takes every line instead of the destinations
};

State& state();

// Writes one finished line (prefix and text): to the output file after the
// wrap check, else to standard output or standard error. Returns the count
// of characters written.
int write_line(Writer who, const std::string& line, Route route);

// Current local time formatted with strftime.
std::string local_time(const char* format);

// A line as PRINT would build it, for notices the module writes itself.
std::string print_line(int level, const char* msgid, const std::string& text);

} // namespace qvx::msgout
