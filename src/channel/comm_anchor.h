// Transport group: what the dispatcher (comm_dispatch.h) and the two
// transports below it, named pipes (comm_pipe.h) and System V shared
// memory (comm_shm.h), have in common. Neither transport includes the
// other's header; both build on this one.
//
// A request travels as one record (serialize_request), whichever
// transport carries it; each end keeps its state in a comm_anchor, and the
// cursors of one exchange are its curs_list blocks. The dispatcher words
// ("init", "get", ...) and their codes are the same for both transports.
#pragma once

#include <array>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvx {

// ---------------------------------------------------------------- record

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

// A 16-bit field of a request record (len at 0, name_len at 2).
int16_t request_get16(const unsigned char* p);

// Seconds to wait on the channel: the variable's decimal value; missing,
// empty or 0 gives the default; negative or above 600 gives 600.
int get_timeout_value(const char* variable, int def);

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
    std::vector<unsigned char> pending;   // collector: request bytes read, not yet taken
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

// Seconds a transport waits for the other end, set by the first init.
extern int wait_timeout;

// The one-second sleep of the dispatcher's re-entry wait and of the
// pipes' open retries (tests replace it).
extern std::function<void(unsigned)> comm_sleep;

// Forgets the time-out and puts the real sleep back (tests).
void reset_comm_timing();

// ------------------------------------------------------- either transport

// Reads the parameters of a request (the strings after the reply path)
// into the anchor's parms slots; slots beyond the 40th are dropped and the
// remaining slots are cleared. Used for every request taken and again when
// a demand is served.
void read_request_parms(comm_anchor& anchor, const std::vector<unsigned char>& request);
// The same walk, handing each parameter (text and length) to take.
void for_each_request_parm(const std::vector<unsigned char>& request,
                           const std::function<void(const char*, size_t)>& take);

// Agent end: builds one block per cursor name of the list (its request
// with the anchor's non-empty parameters), unless the list is the one of
// the previous get: then the stored blocks are sent again as they are.
void build_request_blocks(comm_anchor& anchor, const char* list);

// Next cursor name of an agent's list from pos on: blanks and commas
// separate, and a longer name is taken in pieces of 8. Empty at the end.
std::string get_curs_name(const std::string& list, size_t& pos);

// ------------------------------------------------------------------ words

// Result of a dispatcher call; which member is used depends on the word.
struct CommResult {
    comm_anchor* anchor = nullptr;           // "init", "initc"
    std::vector<curs_list>* blocks = nullptr;  // "get", "put"
    int code = 0;                            // "shut", "initsm", invalid word
};

// Code of a dispatcher word, matched without regard to case: "init" 1,
// "initc" 2, "get" 3, "put" 4, "term" 5, "shut" 6, "initsm" 7; 0 otherwise.
int comm_function_code(const std::string& function);

// True when COLL_USESHM selects the shared-memory transport (unset, or its
// first character is '1'); otherwise the named pipes carry the requests.
bool comm_uses_shm();

// How a wait for the next request, without taking it, ended.
enum class RequestWait { posted, timeout, signal, unavailable };

} // namespace qvx
