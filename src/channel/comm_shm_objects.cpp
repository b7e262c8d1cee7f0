// The channel objects: one shared-memory segment, one set of two
// semaphores, and the ShareCommObject that joins them; the request id.
#include "channel/comm_shm.h"
#include "channel/channel_mode.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "runtime/messages.h"
#include "runtime/signals.h"

namespace qvx {

namespace {

// New objects only, read and write for all (IPC_CREAT | IPC_EXCL | 0666,
// 1974) unless COLL_IPC_MODE says otherwise.
constexpr int kOpenForAll = 0666;
static_assert((IPC_CREAT | IPC_EXCL | kOpenForAll) == 1974);
int create_flags() { return IPC_CREAT | IPC_EXCL | channel_mode(kOpenForAll); }

union semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

int request_counter = 0;

std::atomic_ref<int32_t> attach_count(unsigned char* base) {
    // The segment is page-aligned; the count sits at offset 0.
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(base));
}

} // namespace

int32_t shm_get32(const unsigned char* base, size_t offset) {
    int32_t v;
    std::memcpy(&v, base + offset, 4);
    return v;
}

void shm_put32(unsigned char* base, size_t offset, int32_t value) { std::memcpy(base + offset, &value, 4); }

// -------------------------------------------------------------- segment

QVXShareMemory::~QVXShareMemory() {
    if (attached_) DetachSegment();
}

bool QVXShareMemory::CreateSegment(size_t size) {
    shm_id_ = ::shmget(IPC_PRIVATE, size, create_flags());
    if (shm_id_ < 0) {
        PRINT('e', "ush0016", "Failed to construct QVXShareMemory(): %s\n", std::strerror(errno));
        return false;
    }
    void* at = ::shmat(shm_id_, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) {
        PRINT('e', "ush0021", "Failed to attach share memory: %s\n", std::strerror(errno));
        ::shmctl(shm_id_, IPC_RMID, nullptr);
        shm_id_ = -1;
        return false;
    }
    addr_ = static_cast<unsigned char*>(at);
    attached_ = true;
    std::memset(addr_, 0, size);
    return true;
}

bool QVXShareMemory::AttachSegment(int shm_id, size_t min_size) {
    shmid_ds ds{};
    if (shm_id < 0 || ::shmctl(shm_id, IPC_STAT, &ds) != 0) {
        PRINT('e', "ush0017", "Failed to construct QVXShareMemory(): %s\n",
              std::strerror(shm_id < 0 ? EINVAL : errno));
        return false;
    }
    // Not one of ours (an id file pointing elsewhere), or on its way out.
    if (ds.shm_segsz < min_size || (ds.shm_perm.mode & SHM_DEST)) {
        PRINT('e', "ush0017", "Failed to construct QVXShareMemory(): %s\n", std::strerror(EINVAL));
        return false;
    }
    void* at = ::shmat(shm_id, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) {
        PRINT('e', "ush0021", "Failed to attach share memory: %s\n", std::strerror(errno));
        return false;
    }
    shm_id_ = shm_id;
    addr_ = static_cast<unsigned char*>(at);
    attached_ = true;
    return true;
}

bool QVXShareMemory::DetachSegment() {
    if (!attached_) return true;
    attached_ = false;
    const int r = ::shmdt(addr_);
    addr_ = nullptr;
    if (r != 0) {
        PRINT('e', "ush0018", "Failed to detach share memory: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

bool QVXShareMemory::RemoveSegment() {
    if (shm_id_ < 0) return true;
    const int r = ::shmctl(shm_id_, IPC_RMID, nullptr);
    if (r != 0 && errno != EINVAL && errno != EIDRM) {
        PRINT('e', "ush0019", "Failed to remove share memory: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// ------------------------------------------------------------ semaphores

bool QVXSemaphore::CreateSet() {
    sem_id_ = ::semget(IPC_PRIVATE, 2, create_flags());
    if (sem_id_ < 0) {
        PRINT('e', "ush0024", "Failed to create semaphore: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

bool QVXSemaphore::UseSet(int sem_id) {
    semid_ds ds{};
    semun arg{};
    arg.buf = &ds;
    if (sem_id < 0 || ::semctl(sem_id, 0, IPC_STAT, arg) != 0 || ds.sem_nsems != 2) {
        PRINT('e', "ush0025", "Failed to get semaphore: %s\n", std::strerror(sem_id < 0 || errno == 0 ? EINVAL : errno));
        return false;
    }
    sem_id_ = sem_id;
    return true;
}

bool QVXSemaphore::RemoveSet() {
    if (sem_id_ < 0) return true;
    const int r = ::semctl(sem_id_, 0, IPC_RMID);
    if (r != 0 && errno != EINVAL && errno != EIDRM) {
        PRINT('e', "ush0020", "Failed to remove share memory: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

int QVXSemaphore::SemOp(int sem, int op, int flags) {
    sembuf b{static_cast<unsigned short>(sem), static_cast<short>(op), static_cast<short>(flags)};
    if (::semop(sem_id_, &b, 1) == 0) return 0;
    const int err = errno;
    if (err == EIDRM || err == EINVAL) gone_ = true;
    if (err != EAGAIN) PRINT('e', "ush0027", "semop() failed: %s\n", std::strerror(err));
    errno = err;
    return -1;
}

SemWait QVXSemaphore::TimedOp(int sem, int op, double seconds, bool stop_on_signal) {
    // Most operations can go at once (a free segment, a posted chunk): one
    // try without waiting spares them the clock.
    sembuf b{static_cast<unsigned short>(sem), static_cast<short>(op), IPC_NOWAIT};
    if (::semop(sem_id_, &b, 1) == 0) return SemWait::done;
    if (errno != EAGAIN && errno != EINTR) return Failed(errno);
    if (seconds <= 0) return SemWait::timeout;
    if (errno == EINTR && stop_on_signal && signal_pending()) return SemWait::interrupted;

    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(
                                             std::chrono::duration<double>(seconds));
    b.sem_flg = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - clock::now());
        int r;
        if (left.count() <= 0) {
            b.sem_flg = IPC_NOWAIT;
            r = ::semop(sem_id_, &b, 1);
        } else {
            timespec ts{static_cast<time_t>(left.count() / 1'000'000'000),
                        static_cast<long>(left.count() % 1'000'000'000)};
            r = ::semtimedop(sem_id_, &b, 1, &ts);
        }
        if (r == 0) return SemWait::done;
        const int err = errno;
        if (err == EAGAIN) return SemWait::timeout;
        if (err == EINTR) {
            if (stop_on_signal && signal_pending()) return SemWait::interrupted;
            continue;  // the time left is taken again
        }
        return Failed(err);
    }
}

SemWait QVXSemaphore::Failed(int err) {
    PRINT('e', "ush0027", "semop() failed: %s\n", std::strerror(err));
    if (err == EIDRM || err == EINVAL) {
        gone_ = true;
        return SemWait::gone;
    }
    return SemWait::failed;
}

int QVXSemaphore::SetAll() {
    unsigned short values[2] = {1, 0};
    semun arg{};
    arg.array = values;
    if (::semctl(sem_id_, 0, SETALL, arg) == 0) return 0;
    if (errno == EIDRM || errno == EINVAL) gone_ = true;
    PRINT('e', "ush0026", "semctl() failed: %s\n", std::strerror(errno));
    return -1;
}

int QVXSemaphore::GetVal(int sem) {
    const int v = ::semctl(sem_id_, sem, GETVAL);
    if (v < 0) {
        if (errno == EIDRM || errno == EINVAL) gone_ = true;
        PRINT('e', "ush0026", "semctl() failed: %s\n", std::strerror(errno));
    }
    return v;
}

// --------------------------------------------------------------- request

namespace {

// "-" and the decimal value with at least width digits (printf's "%.Nd").
void append_field(std::string& out, long long value, int width) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value);
    const int n = static_cast<int>(end - digits);
    out += '-';
    if (value < 0) out += '-';
    if (n < width) out.append(static_cast<size_t>(width - n), '0');
    out.append(digits, end);
}

} // namespace

QVXRequest::QVXRequest(std::string n, std::vector<std::string> p, std::string d)
    : name(std::move(n)), data(std::move(d)), params(std::move(p)) {
    // Formed by hand: this is on the way of every request.
    request_id.reserve(name.size() + 20);
    request_id = name;
    append_field(request_id, static_cast<long long>(std::time(nullptr)), 12);
    append_field(request_id, ++request_counter, 4);
}

// ---------------------------------------------------------- comm object

ShareCommObject::ShareCommObject(int share_type, size_t size) : share_type_(share_type), owner_pid_(::getpid()) {
    if (!CreateSet()) return;
    if (SetAll() != 0) {
        PRINT('e', share_type == kShareRequest ? "ush0022" : "ush0023", "Failed to initialize semaphore\n");
        RemoveSet();
        return;
    }
    if (!CreateSegment(size)) {
        RemoveSet();
        return;
    }
    attach_count(addr_).store(1);
    counted_ = true;
    if (share_type_ == kShareRequest) request_base_ = addr_;
    InitFields();
    good_ = true;
}

ShareCommObject::ShareCommObject(int share_type, int shm_id, int sem_id)
    : share_type_(share_type), owner_pid_(::getpid()) {
    const size_t need = share_type == kShareRequest ? reqseg::kSize : dataseg::kSize;
    if (!UseSet(sem_id)) return;
    if (!AttachSegment(shm_id, need)) return;
    attach_count(addr_).fetch_add(1);
    counted_ = true;
    if (share_type_ == kShareRequest) request_base_ = addr_;
    good_ = true;
}

ShareCommObject::~ShareCommObject() {
    if (!attached_) return;
    if (abandoned_ || !counted_ || ::getpid() != owner_pid_) {
        DetachSegment();  // a copy inherited over fork is not in the count
        return;
    }
    // The kernel knows who is still attached even when a peer was killed
    // before it could lower the count.
    shmid_ds ds{};
    const bool others = ::shmctl(shm_id_, IPC_STAT, &ds) == 0 && ds.shm_nattch > 1;
    const int32_t left = attach_count(addr_).fetch_sub(1) - 1;
    DetachSegment();
    if (left < 1 || !others) {
        RemoveSegment();
        RemoveSet();
    }
}

void ShareCommObject::InitFields() {
    if (share_type_ == kShareRequest) {
        const int32_t now = static_cast<int32_t>(std::time(nullptr));
        shm_put32(addr_, reqseg::kTimeout, reqseg::kDefaultTimeout);
        shm_put32(addr_, reqseg::kWriteTime, now);
        shm_put32(addr_, reqseg::kCheckTime, now);
    } else {
        shm_put32(addr_, dataseg::kReaderDone, 1);
    }
}

bool ShareCommObject::IsAlive() const {
    if (!good_ || gone_ || !attached_) return false;
    shmid_ds ds{};
    if (::shmctl(shm_id_, IPC_STAT, &ds) != 0 || (ds.shm_perm.mode & SHM_DEST)) return false;
    semid_ds sds{};
    semun arg{};
    arg.buf = &sds;
    return ::semctl(sem_id_, 0, IPC_STAT, arg) == 0;
}

bool ShareCommObject::IsBlockAvailableForWrite() { return SemOp(kSemAvailable, 0, IPC_NOWAIT) != 0; }

bool ShareCommObject::IsBlockFilledForRead() { return SemOp(kSemFilled, 0, IPC_NOWAIT) != 0; }

int ShareCommObject::ResetSemaphore(int) { return SetAll() == 0 ? kShmGood : kShmFailed; }

} // namespace qvx
