// Probe group: qvxprobe, the agent end of the request channel for people
// and tests. It reaches the channel through the dispatcher
// (comm_dispatch.h) and reads status rows with status_decode.h; it has no
// part in the collector's request service (serve_*).
//
// It sends one request (a cursor name, "C-STATUS", "D-STATUS", "RETRACE"
// or "SHUTDOWN" with optional parameters), prints the reply and exits with
// 0, or with the channel's error code when the exchange failed.
//
// Cursor rows are printed as a table when the cursor's definition in
// COLLECT.CTL is at hand (names, send types and widths of the columns),
// otherwise as escaped text; status rows are decoded field by field.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "control/cursor.h"

namespace qvx {

// Exit statuses of the probe besides the channel's error codes (1, 3, 4,
// 8, 12, 20, 21).
constexpr int kProbeUsageError = 64;
constexpr int kProbeNoInput = 66;

// ------------------------------------------------------------ command line

enum class ProbeChannel { environment, pipes, shm };

struct ProbeOptions {
    std::string name;                  // what to ask for
    std::vector<std::string> parms;    // request parameters, in slot order
    ProbeChannel channel = ProbeChannel::environment;
    std::string control_dir;           // where COLLECT.CTL is; empty: none
    std::string dbtype;                // database type, as the collector's -dbtype
    std::string serverid;              // server id, as the collector's -serverid
    int timeout = 0;                   // seconds; 0 leaves WAIT_TIMEOUT alone
    bool raw = false;                  // hex dump of every row
    bool help = false;
};

struct ProbeArgs {
    std::optional<ProbeOptions> options;  // empty after a usage error
    std::string error;                    // one line, without the program name
};

ProbeArgs parse_probe_args(const std::vector<std::string>& args);
std::string probe_usage();

// Whether the name asks for status images rather than a cursor's rows.
bool is_cursor_status(const std::string& name);
bool is_distrib_status(const std::string& name);

// ---------------------------------------------------------------- rows

// One cell of a printed row: where its bytes are in the row and how they
// are read. A cell may stand for several columns whose widths cannot be
// told apart; it is then shown as text under the joined names.
struct ProbeColumn {
    std::string name;
    SendType send_type = SendType::text;
    int32_t offset = 0;
    int32_t width = 0;
    bool merged = false;
};

struct RowLayout {
    std::vector<ProbeColumn> cols;
    int32_t size = 0;                  // bytes per row
};

// Width of a column in the reply rows as far as the definitions tell it
// ("^n", set_len, a percent variable, the referenced column); 0 when only
// the database could tell. Integers and floats are 4 and 8, unsent
// columns 0.
int32_t known_send_width(const curs& cursor, const columns& col);

// The layout of the cursor's reply rows for rows of len bytes. Text
// columns of unknown width are solved from len: one such column takes
// what the others leave; several, and everything from the first to the
// last of them, become one merged cell. Nothing (with the reason in
// note) when no layout gives rows of len bytes.
std::optional<RowLayout> layout_for(const curs& cursor, int32_t len, std::string& note);

// Printable ASCII as it is, a backslash doubled, a run of zero bytes as
// "\0" (one) or "\0{n}" (more), any other byte as "\xNN".
std::string escape_bytes(const unsigned char* p, size_t n);

// The rows as an aligned table with a header line: integers "%d", floats
// "%f", text and time stamps without trailing blanks and zero bytes.
std::string format_table(const RowLayout& layout, const unsigned char* data, int32_t rows);
// One escaped line per row.
std::string format_plain(const unsigned char* data, int32_t rows, int32_t len);
// A hex dump per row: offset, 16 bytes, their printable characters.
std::string format_hex(const unsigned char* data, int32_t rows, int32_t len);

// First line of the output: "NAME: N rows of L bytes", or "NAME: 0 rows".
std::string reply_heading(const std::string& name, int32_t rows, int32_t len);

// The whole printed reply. cursor, when given, is the definition used to
// lay out the rows; notes for standard error are appended to err. Rows of
// no bytes give the heading alone.
std::string format_reply(const std::string& name, int32_t rows, int32_t len, const unsigned char* data,
                         const curs* cursor, bool raw, std::string& err);

// ------------------------------------------------------------------ run

// Reads the cursor definitions from the control directory of the options
// (COLLECT.CTL, named as the collector names it). 0, or kProbeNoInput
// with the reason in err.
int load_cursor_definitions(const ProbeOptions& options, std::string& err);

// Empty when a collector serves the identity of the settings; otherwise
// why none does, naming the identity: the collector's pipe is missing or
// nobody reads it, or the shared-memory id file is missing or names no
// running process.
std::string missing_collector();

// Exit status when no collector serves the identity (the channel's "open
// error").
constexpr int kProbeNoCollector = 3;

// Applies the channel choice, the time-out and the settings, sends the
// request and prints the reply. Returns the exit status.
int run_probe(const ProbeOptions& options, std::ostream& out, std::ostream& err);

// The program: command line, then run_probe on the standard streams.
int probe_main(int argc, char** argv);

} // namespace qvx
