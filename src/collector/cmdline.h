// The two command-line passes, argument-file expansion and the debug-level
// setter.
//
// Pass 1 (parse_argv) knows the collector options, the trace letters and
// dictionary parameters; pass 2 (parseDDBCmdline) first expands argument
// files ("-filein NAME", "@NAME") and then reads the settings options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qvx {

// Abbreviation rule shared by both passes: at most keyword.size()
// characters of the option (without its "-") are lower-cased and compared
// with the start of the keyword; they match when all compared characters
// are equal and at least min_abbrev were compared. When the option is
// longer than the keyword and its first keyword.size() characters match,
// the rest is a value glued to the keyword and goes to *glued.
bool match_option(std::string_view option, std::string_view keyword, size_t min_abbrev,
                  std::string* glued = nullptr);

// Pass 1 over argv[1..argc-1].
void parse_argv(int argc, char** argv);

// Expands argument files in place. Returns 0, or the exit status (15 for
// more than 10 nested files, 95 for an unreadable file or a "-filein"
// without a name) after reporting the error.
int parseCmdline(std::vector<std::string>& args);

struct Pass2Result {
    bool version = false;                   // "version" seen
    std::vector<std::string> version_args;  // files named after it
    bool debug = false;                     // "debug" seen
};

// Pass 2 over already expanded arguments (args[0] is the program name).
// When "debug" was seen (and "version" was not) the debug levels are set
// from "azzzzzzzzz" before it returns; the version dump is left to the
// caller.
Pass2Result parseDDBCmdline(const std::vector<std::string>& args);

// Argument files, pass 2 and, unless "version" was seen, the environment
// pass. Returns 0, or the exit status of an argument-file error (15, 95)
// with nothing read after it; the version dump is left to the caller.
int read_command_line_settings(int argc, char** argv, Pass2Result& pass2);

// Pass 2 and the environment pass. Exits the process with 15 or 95 for
// argument-file errors and with 0 after the version dump.
void DDB_getenv(int argc, char** argv);

} // namespace qvx
