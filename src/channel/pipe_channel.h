// The request channel between the collector and the monitoring agent over
// named pipes, both ends, and the dispatcher qvxcomm in front of it.
//
// The agent end (anchor type 'P') writes one data_request per cursor into
// the collector's request pipe and reads the replies from its own reply
// pipe; the collector end (anchor type 'C') reads one request per get and
// writes a stream_header followed by the rows to each reply pipe of the
// request on put.
//
// Error codes left in comm_anchor::error_code: 0 good, 1 wait time-out or
// wait error, 3 open or write error, 4 create, read, length or anchor-type
// error, 8 missing anchor or no memory, 12 invalid function code.
#pragma once

#include <array>
#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvx {

// ---------------------------------------------------------------- records

// Longest data_request the collector accepts, and the longest cursor name.
constexpr int kMaxRequestLen = 300;
constexpr int kMaxCursorName = 8;
constexpr int kParmSlots = 40;

// Request, agent to collector (host byte order):
//   0  int16 len        total length, this field included
//   2  int16 name_len   1..8
//   4  name             name_len bytes, not terminated
//      reply pipe path  zero-terminated
//      parameters       each zero-terminated
//      two zero bytes
struct data_request {
    std::string name;
    std::string reply_pipe;
    std::vector<std::string> parms;
};

// The wire bytes of a request; the non-empty parameters only, in order.
std::vector<unsigned char> serialize_request(const std::string& name, const std::string& reply_pipe,
                                             const std::vector<std::string>& parms);

// Reply header, collector to agent: int32 rows at 0, int32 len at 4.
struct stream_header {
    int32_t rows = 0;
    int32_t len = 0;
};
constexpr size_t kStreamHeaderSize = 8;

std::array<unsigned char, kStreamHeaderSize> serialize_header(const stream_header& h);
stream_header parse_header(const unsigned char* bytes);

// Seconds to wait on the pipes: the variable's decimal value; missing,
// empty or 0 gives the default; negative or above 600 gives 600.
int get_timeout_value(const char* variable, int def);

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

// ---------------------------------------------------------------- anchor

// A file descriptor that is closed when it goes away. 0 means "none", as
// the channel has always kept it.
class PipeFd {
public:
    PipeFd() = default;
    explicit PipeFd(int fd) : fd_(fd) {}
    PipeFd(const PipeFd&) = delete;
    PipeFd& operator=(const PipeFd&) = delete;
    PipeFd(PipeFd&& o) noexcept : fd_(o.release()) {}
    PipeFd& operator=(PipeFd&& o) noexcept { reset(o.release()); return *this; }
    ~PipeFd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ > 0; }
    int release() { int f = fd_; fd_ = 0; return f; }
    void reset(int fd = 0);
private:
    int fd_ = 0;
};

// One requested cursor of the current exchange.
struct curs_list {
    std::vector<unsigned char> pipe_buf;  // the request as sent or as read
    std::vector<std::string> p_list;      // collector: reply pipes to answer
    std::string name;                     // at most 8 characters
    int32_t rows = 0;
    int32_t len = 0;
    std::vector<unsigned char> data;      // rows * len bytes
};

struct comm_anchor {
    char anchor_type = 0;                 // 'P' agent end, 'C' collector end
    bool sigpipe_saved = false;
    struct sigaction old_sigpipe {};
    std::string curs_names;               // agent: list of the previous get
    PipeFd probe_fd;                      // agent reply pipe
    PipeFd coll_fd;                       // collector request pipe
    std::string probe_pipe;
    std::string coll_pipe;
    std::string request_id;               // shared-memory channel only
    std::vector<curs_list> c_list;
    int error_code = 0;
    std::string error_text;
    std::array<std::string, kParmSlots> parms;
    int parm_count = 0;                   // collector: parameters of the request read

    ~comm_anchor();
};

// Process-wide channel state.
extern int wait_timeout;                  // seconds, set by the first init
extern volatile std::sig_atomic_t pipe_error;
extern int qvxcomm_locked;                // code of the call in progress

// ---------------------------------------------------------- collector end

// Reads the parameters of a request (the strings after the reply path)
// into the anchor's parms slots; slots beyond the 40th are dropped and the
// remaining slots are cleared. Used for every request taken and again when
// a demand is served.
void read_request_parms(comm_anchor& anchor, const std::vector<unsigned char>& request);

comm_anchor* init_collector();
curs_list* get_probe_reqs(comm_anchor* anchor);
// Writes every block's reply; null after a complete pass, else the blocks
// (open error 3 in the anchor).
std::vector<curs_list>* put_request(comm_anchor* anchor);

// --------------------------------------------------------------- agent end

comm_anchor* init_probe();
// Sends the requests of the list and reads the replies; the blocks, or
// null with error_code and error_text set.
std::vector<curs_list>* get_cursor_data(comm_anchor* anchor, const char* list);
// Builds one block per cursor name of the list (its request with the
// anchor's non-empty parameters), unless the list is the one of the
// previous get: then the stored blocks are sent again as they are.
void build_request_blocks(comm_anchor& anchor, const char* list);
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

// ------------------------------------------------------------- dispatcher

// Result of a dispatcher call; which member is used depends on the word.
struct CommResult {
    comm_anchor* anchor = nullptr;           // "init", "initc"
    std::vector<curs_list>* blocks = nullptr;  // "get", "put"
    int code = 0;                            // "shut", "initsm", invalid word
};

// Code of a dispatcher word, matched without regard to case: "init" 1,
// "initc" 2, "get" 3, "put" 4, "term" 5, "shut" 6, "initsm" 7; 0 otherwise.
int comm_function_code(const std::string& function);

// The one entry point: "init", "initc", "get", "put", "term", "shut",
// "initsm", in any case. "term" deletes the anchor.
CommResult qvxcomm(const std::string& function, comm_anchor* anchor = nullptr,
                   const char* list = nullptr);

// True when COLL_USESHM selects the shared-memory channel (unset, or its
// first character is '1'); qvxcomm then hands every call to qvxcomm2
// (channel/shm_channel.h).
bool comm_uses_shm();

// Next cursor name of an agent's list from pos on: blanks and commas
// separate, and a longer name is taken in pieces of 8. Empty at the end.
std::string get_curs_name(const std::string& list, size_t& pos);

// The one-second sleep of the dispatcher's re-entry wait and of the
// agent's open retries (tests replace it).
extern std::function<void(unsigned)> comm_sleep;

// Forgets the time-out, the counter, the lock and the sleeper (tests).
void reset_pipe_channel();

} // namespace qvx
