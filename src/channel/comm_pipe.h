// Transport group: the named-pipe transport, both ends. It sits below
// the dispatcher (comm_dispatch.h) beside the shared-memory transport
// (comm_shm.h) and knows nothing of it; the record, the anchor and its
// blocks come from comm_anchor.h.
//
// The agent end (anchor type 'P') writes one data_request per cursor into
// the collector's request pipe and reads the replies from its own reply
// pipe; the collector end (anchor type 'C') reads one request per get and
// writes a stream_header followed by the rows to each reply pipe of the
// request on put.
//
// Error codes left in comm_anchor::error_code: 0 good, 1 wait time-out or
// wait error, 3 open or write error, 4 create, read, length or anchor-type
// error, 8 missing anchor or no memory.
#pragma once

#include <array>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "channel/comm_anchor.h"

namespace qvx {

// ---------------------------------------------------------------- reply

// Reply header, collector to agent: int32 rows at 0, int32 len at 4.
struct stream_header {
    int32_t rows = 0;
    int32_t len = 0;
};
constexpr size_t kStreamHeaderSize = 8;

std::array<unsigned char, kStreamHeaderSize> serialize_header(const stream_header& h);
stream_header parse_header(const unsigned char* bytes);

// --------------------------------------------------------------- names

// [prefix "/"] "col_" [server "_"] [version "_"] "pipe".
std::string collector_pipe_name();
// prefix "/prb_" [server "_"] [version "_"] [host "_"].
std::string agent_pipe_prefix();
// A new agent reply-pipe name that no file has yet: the prefix, then
// ddhhmmss "_" counter(4) "_pipe" for the local time of the call.
std::string make_agent_pipe_name();

// The process-wide agent-pipe counter (advanced before each attempt:
// +1 below 9999, 9999 wraps to 0).
extern int pipe_count;

// Set when a write or a wait on a pipe failed (the SIGPIPE handler sets it too).
extern volatile std::sig_atomic_t pipe_error;

// ---------------------------------------------------------- collector end

comm_anchor* init_collector();
curs_list* get_probe_reqs(comm_anchor* anchor);

// Request records in the collector's pipe (comm_pipe_framing.cpp). Each
// agent writes its record whole; bytes that make no record are dropped up
// to the next whole, well-formed record.
constexpr size_t kPendingLimit = 64 * 1024;  // request bytes held at most
// Whether a complete record with plausible lengths and its closing zeros
// starts at `at`.
bool whole_request_at(const std::vector<unsigned char>& bytes, size_t at);
// Drops the first byte and every following one up to the next whole record.
void skip_to_next_request(std::vector<unsigned char>& bytes);
// Appends what the non-blocking fd holds now, up to cap bytes in all;
// whether anything came.
bool read_available(int fd, std::vector<unsigned char>& into, size_t cap);
// Writes every block's reply; null after a complete pass, else the blocks
// (open error 3 in the anchor).
std::vector<curs_list>* put_request(comm_anchor* anchor);

// --------------------------------------------------------------- agent end

comm_anchor* init_probe();
// Sends the requests of the list and reads the replies; the blocks, or
// null with error_code and error_text set.
std::vector<curs_list>* pipe_get_cursor_data(comm_anchor* anchor, const char* list);
// Opens the collector pipe (10 attempts) and writes the block's request.
int send_a_request(comm_anchor* anchor, curs_list& block);
// Writes a request on an open descriptor; error 3 when the write fails.
int write_request(comm_anchor* anchor, int fd, const std::vector<unsigned char>& bytes);
// Reads one reply (header, then rows) into the block; 0 or the error code.
int read_reply(comm_anchor* anchor, curs_list& block);

// Either end.
std::vector<curs_list>* get_request(comm_anchor* anchor, const char* list);
comm_anchor* term_comm(comm_anchor* anchor);

// Waits on one descriptor for wait_timeout seconds (results: see the
// source). Descriptors of 1024 or more give 4.
int wait_for_read(comm_anchor* anchor, int fd);
int wait_for_write(comm_anchor* anchor, int fd);

// Installs the channel's SIGPIPE handler (when not yet installed) or
// restores the disposition saved in the anchor.
void set_signal(comm_anchor* anchor, bool on);

// Forgets the time-out, the counter, the SIGPIPE note, the writer kept
// open and the sleeper (tests).
void reset_pipe_channel();

} // namespace qvx
