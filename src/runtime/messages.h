// Message output: one output file per collector, written through PRINT
// (collector core) and u_msg (utility layer).
//
// A line is the upper-cased message id, the level letter and a blank, the
// local time as six digits in parentheses and a blank, then the text.
// The file is named from the settings (directory, host, database type,
// server id, suffix), rotated into numbered backups on every open
// ("COLL_NUMOUTBAK") and wrapped after "COLL_WRAPLINES" lines.
#pragma once

#include <cstdio>
#include <string>

#if defined(__GNUC__)
#define QVX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QVX_PRINTF(fmt, args)
#endif

namespace qvx {

// level: a character code ('a', 'e', 's', 't', 'i', 'w', 'h', '-', '@', 0, ...).
// Returns the count written, 1 when suppressed, 0 for the prefix-setting call.
int PRINT(int level, const char* msgid, const char* format, ...) QVX_PRINTF(3, 4);

// type: level character followed by option letters (h/H t/T f/F l/L p/P u -).
int u_msg(const char* program, const char* sourcefile, int line, const char* type,
          const char* msgid, const char* format, ...) QVX_PRINTF(6, 7);

#define U_MSG(type, msgid, ...) ::qvx::u_msg(nullptr, __FILE__, __LINE__, type, msgid, __VA_ARGS__)

// Opens the output file at start-up and writes the banner.
void init_PRINT();

// Opens (or reopens, rotating backups) the output file; suffix null means
// "col.out". Returns the handle or null.
FILE* u_openPRINTfile(const char* suffix);

// True while an output file is open; its path (empty before the first open).
bool print_file_open();
const std::string& print_file_path();

// Makes an already open stream the output file: never wrapped, rotated or
// reopened. Tools that use the collector's modules without being the
// collector keep its output file away this way; with milestones false,
// level A lines are no longer copied to standard error (errors still are).
void use_message_sink(FILE* sink, bool milestones = true);

// A tap sees every line PRINT and u_msg would write, after the debug
// gates: the level letter as written in the line ('I' for milestones),
// the message id as given (null or empty for none) and the text. While a
// tap is set the lines go nowhere else, neither to the output file nor to
// the standard streams. Null removes it.
using MessageTap = void (*)(char letter, const char* msgid, const std::string& text);
void set_message_tap(MessageTap tap);

// Flushes and closes the output file (the exit path).
void close_PRINT();

// Name of a file beside the output file: the output directory and "/",
// then host name, database type without its first character and server
// id, each followed by "_" when non-empty; finally the suffix.
std::string output_file_name(const std::string& suffix);

// Name of a temporary file for other parts of the collector: the local
// temporary directory (created on the first call, "." when that fails) and
// "/", then host name, database type without its first character and
// server id, each followed by "_" when non-empty; unless mode is 'n' or
// 'N', the time as hhmmss, a call counter (1..101) and "_", the process id
// and "_"; finally the suffix.
std::string u_createTempFileName(const std::string& suffix, char mode);

// Forgets the file, counters, prefix and cached limits (tests).
void reset_messages();

} // namespace qvx
