// Transport group: the System V shared-memory transport, the default
// form of the channel between the collector and the monitoring agent. It
// sits below the dispatcher (comm_dispatch.h) beside the named-pipe
// transport (comm_pipe.h) and knows nothing of it; the record, the anchor
// and its blocks come from comm_anchor.h.
//
// Two segments, each guarded by a set of two semaphores (0 'available',
// 1 'filled'): the request segment carries one request at a time from the
// agent to the collector, the data segment carries the reply back in
// chunks of 99000 bytes. Whichever process comes first creates the
// objects and publishes their ids in the IPC id file; the other attaches.
// Every segment counts its attached processes; the last one to detach
// removes the segment and its semaphore set.
//
// Waits are timed semaphore operations: a request or a chunk is taken the
// moment it is posted. Results of the channel operations: 0 good, -1
// failure, -10 time-out; the anchor gets error 21 or 20 for them.
//
// Calling order through qvxcomm (or qvxcomm2 directly):
//   collector: "initsm", "initc" -> anchor; per pass "get" (one block, its
//              parms in anchor->parms), fill rows/len/data, "put";
//              at the end "term", then "shut".
//   agent:     "init" -> anchor; fill anchor->parms; "get" with a list of
//              cursor names -> blocks carrying rows/len/data; "term";
//              "shut" (detaches, so the last one out removes the objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "channel/comm_anchor.h"

namespace qvx {

// ------------------------------------------------------------ layouts

// Request segment, offsets in bytes, integers 32-bit host order.
namespace reqseg {
constexpr size_t kAttach = 0;        // attached processes
constexpr size_t kTaken = 4;         // cleared by the reader after taking a request
constexpr size_t kWritten = 8;       // cleared by the writer when writing a request
constexpr size_t kName = 12;         // 15 bytes: up to 14 characters, zero-padded
constexpr size_t kNameWidth = 15;
constexpr size_t kId = 27;           // 50 bytes: up to 49 characters
constexpr size_t kIdWidth = 50;
constexpr size_t kParms = 77;        // 40 slots of 20 bytes: up to 19 characters each
constexpr size_t kParmWidth = 20;
constexpr size_t kParmCount = 40;
constexpr size_t kData = 877;        // 30000 bytes: up to 29999 characters
constexpr size_t kDataWidth = 30000;
constexpr size_t kTimeout = 30880;   // request time-out in seconds (45 at creation)
constexpr size_t kWriteTime = 30884; // when the last request was written
constexpr size_t kCheckTime = 30888; // when the last reply chunk was written; -1 none pending
constexpr size_t kSize = 30892;      // the segment is created this large
constexpr int kDefaultTimeout = 45;
} // namespace reqseg

// Data segment.
namespace dataseg {
constexpr size_t kAttach = 0;
constexpr size_t kReadIndex = 4;     // always 0
constexpr size_t kWriteIndex = 8;    // always 0
constexpr size_t kReaderDone = 12;   // 1 when the previous reply has been read completely
constexpr size_t kId = 16;           // 50 bytes: id of the request the reply answers
constexpr size_t kIdWidth = 50;
constexpr size_t kRows = 68;
constexpr size_t kLen = 72;
constexpr size_t kChunk = 76;        // one chunk of reply data
constexpr size_t kChunkSize = 99000;
constexpr size_t kSize = 100000;
} // namespace dataseg

// A reply with no bytes carries this marker as its data.
inline constexpr char kEmptyReply[] = "NONE";

// Semaphores of each set.
constexpr int kSemAvailable = 0;
constexpr int kSemFilled = 1;

// Results of the channel operations.
constexpr int kShmGood = 0;
constexpr int kShmFailed = -1;
constexpr int kShmTimeout = -10;

// 32-bit fields of a segment (memcpy: no alignment or aliasing assumed).
int32_t shm_get32(const unsigned char* base, size_t offset);
void shm_put32(unsigned char* base, size_t offset, int32_t value);

// ------------------------------------------------------------ objects

// The abstract channel object. Results: 0 good, -1 failure, -10 time-out.
class QVXCommObject {
public:
    virtual ~QVXCommObject() = default;
    virtual bool IsGood() const = 0;
    // Posts a request; request_id receives the id formed for it. data may
    // be null (no data text).
    virtual int SendRequest(const std::string& name, const std::vector<std::string>& params,
                            std::string& request_id, const std::string* data, int timeout) = 0;
    virtual int GetRequest(std::string& name, std::string& request_id, std::vector<std::string>& params,
                           std::string& data, int timeout) = 0;
    virtual int SendData(const std::string& request_id, int32_t rows, int32_t len,
                         const std::vector<unsigned char>& data, int timeout) = 0;
    // Reads one whole reply, whatever request it answers (got_id tells);
    // data holds rows * len bytes (none for a reply without rows).
    virtual int GetData(const std::string& request_id, std::string& got_id, int32_t& rows, int32_t& len,
                        std::vector<unsigned char>& data, int timeout) = 0;
    virtual int ResetSemaphore(int share_type) = 0;
};

// One shared-memory segment: its id and attach address.
class QVXShareMemory {
public:
    QVXShareMemory() = default;
    QVXShareMemory(const QVXShareMemory&) = delete;
    QVXShareMemory& operator=(const QVXShareMemory&) = delete;
    virtual ~QVXShareMemory();

    int ShmId() const { return shm_id_; }
    unsigned char* Base() const { return addr_; }
    bool Attached() const { return attached_; }

protected:
    bool CreateSegment(size_t size);                  // new private segment, attached
    bool AttachSegment(int shm_id, size_t min_size);  // an existing one of at least min_size
    // Detaches; false (reported) when shmdt fails.
    bool DetachSegment();
    bool RemoveSegment();                             // IPC_RMID; an already gone one is no error

    int shm_id_ = -1;
    unsigned char* addr_ = nullptr;
    bool attached_ = false;
};

// How a timed semaphore operation ended.
enum class SemWait { done, timeout, interrupted, gone, failed };

// One set of two semaphores.
class QVXSemaphore {
public:
    QVXSemaphore() = default;
    QVXSemaphore(const QVXSemaphore&) = delete;
    QVXSemaphore& operator=(const QVXSemaphore&) = delete;
    virtual ~QVXSemaphore() = default;

    int SemId() const { return sem_id_; }
    // True once an operation found the set removed (EIDRM, EINVAL).
    bool SemGone() const { return gone_; }

    // One semop; -1 on failure ("ush0027" unless EAGAIN).
    int SemOp(int sem, int op, int flags);
    // A semop bounded by seconds (IPC_NOWAIT when 0 or less); an EINTR is
    // retried with the time left unless stop_on_signal and a signal is
    // pending.
    SemWait TimedOp(int sem, int op, double seconds, bool stop_on_signal = false);
    // SETALL {1, 0}.
    int SetAll();
    // Current value of one semaphore, -1 on failure.
    int GetVal(int sem);

protected:
    // Reports a failed operation; gone when the set was removed.
    SemWait Failed(int err);
    bool CreateSet();
    bool UseSet(int sem_id);   // an existing set of two semaphores
    bool RemoveSet();

    int sem_id_ = -1;
    bool gone_ = false;
};

// A request: name, id, data text, parameters. The id is the name followed
// by "-" twelve digits of the time and "-" four digits of a process-wide
// counter.
struct QVXRequest {
    QVXRequest(std::string name, std::vector<std::string> params, std::string data = {});
    std::string name;
    std::string request_id;
    std::string data;
    std::vector<std::string> params;
};

// Share types.
constexpr int kShareRequest = 0;
constexpr int kShareData = 1;

// A segment with its semaphore set: the request object (type 0) or the
// data object (type 1).
class ShareCommObject : public QVXCommObject, public QVXShareMemory, public QVXSemaphore {
public:
    // Creates a new segment (size bytes) and semaphore set.
    ShareCommObject(int share_type, size_t size);
    // Attaches an existing segment and uses an existing set.
    ShareCommObject(int share_type, int shm_id, int sem_id);
    // Detaches; the last process out removes the segment and the set.
    ~ShareCommObject() override;

    int ShareType() const { return share_type_; }
    // The data object reads and writes the request segment's times.
    void SetRequestSegment(unsigned char* request_base) { request_base_ = request_base; }

    bool IsGood() const override { return good_ && !gone_; }
    // True while the kernel still has the segment (not marked for removal)
    // and the semaphore set.
    bool IsAlive() const;
    bool IsBlockAvailableForWrite();
    bool IsBlockFilledForRead();

    int SendRequest(const std::string& name, const std::vector<std::string>& params, std::string& request_id,
                    const std::string* data, int timeout) override;
    int GetRequest(std::string& name, std::string& request_id, std::vector<std::string>& params,
                   std::string& data, int timeout) override;
    int SendData(const std::string& request_id, int32_t rows, int32_t len, const std::vector<unsigned char>& data,
                 int timeout) override;
    int GetData(const std::string& request_id, std::string& got_id, int32_t& rows, int32_t& len,
                std::vector<unsigned char>& data, int timeout) override;
    int ResetSemaphore(int share_type) override;
    // Clears a reply that has stayed unread for more than 30 seconds: 1
    // when it did, else 0.
    int Check();

    // Skips the detach-count bookkeeping (a forked child's copy).
    void Abandon() { abandoned_ = true; }

private:
    void InitFields();
    void CleanReply();
    void WaitReaderDone();

    int share_type_;
    bool good_ = false;
    bool counted_ = false;  // this process is in the segment's attach count
    bool abandoned_ = false;
    int owner_pid_ = 0;   // process that attached; a forked copy does not count
    unsigned char* request_base_ = nullptr;
    // Leading bytes of the chunk area that may be other than zero; only
    // this process writes replies, so the rest is known to be clear.
    size_t chunk_dirty_ = dataseg::kChunkSize;
};

// -------------------------------------------------------- establishing

// Path of the IPC id file: the temporary-file name rule without the time
// part, followed by server id "_" version "_" host. The lock file is the
// same path followed by "-lk".
std::string shm_id_file_path(const std::string& server_id);
std::string shm_lock_file_path(const std::string& server_id);

// The six numbers of the id file.
struct IpcIds {
    int owner = -1;
    int writer = 0;
    int request_shm = -1;
    int request_sem = -1;
    int data_shm = -1;
    int data_sem = -1;
};
// Reads the id file; false when it is missing, empty or not six numbers.
bool read_id_file(const std::string& path, IpcIds& ids);

// True when the process runs ("ps -p pid" lists it).
bool process_running(int pid);

// Creates or attaches the channel objects under the lock file: 0 or -1.
int InitShare(const std::string& server_id);
// The part of InitShare run under the lock.
int CreateShare(const std::string& id_path);
// Destroys both channel objects (detaching; the last one out removes).
void shut_comm();
// True while both channel objects are in place and usable.
bool shm_established();

// The process-wide channel objects (null when not established).
ShareCommObject* shm_request_object();
ShareCommObject* shm_data_object();

// ----------------------------------------------------------- the words

// The words of qvxcomm, served over shared memory; the dispatcher hands
// every call here while COLL_USESHM selects this transport.
CommResult qvxcomm2(const std::string& function, comm_anchor* anchor = nullptr, const char* list = nullptr);

// Maps a channel result to the anchor's error: -10 gives 20, -1 gives 21.
int SetError(int result, comm_anchor* anchor);

// Collector end: the next request as one block (null: none, or an error).
curs_list* shm_get_probe_reqs(comm_anchor* anchor);
// Collector end: sends every block's reply; null (errors in the anchor).
std::vector<curs_list>* shm_put_request(comm_anchor* anchor);
// Agent end: sends the requests of the list and reads their replies.
std::vector<curs_list>* shm_get_cursor_data(comm_anchor* anchor, const char* list);

// Agent end: when the last successful send was; both semaphore sets are
// reset before a send that comes more than 180 seconds after it.
extern std::time_t last_succeed_sent_req_tm;

// Waits (in slices of at most a second, stopping on a signal) until a
// request is being posted on the request segment.
RequestWait shm_wait_for_request(double seconds);

// Forgets the channel objects (destroying them) and the module state (tests).
void reset_shm_channel();
// In a forked child: forgets the inherited objects without touching the
// attach counts.
void forget_shm_channel_after_fork();

} // namespace qvx
