// The IPC id file as the channel reads it when it is established. Only
// the reading is driven: what follows it (asking whether the owner runs,
// removing a dead owner's objects) acts on whatever ids the file names,
// which must not be left to a fuzzer on a shared machine.
#include <string>

#include "channel/comm_shm.h"
#include "fuzz_support.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    const std::string path = qvxfuzz::write_scratch("ipc-ids", qvxfuzz::as_text(data, size));
    IpcIds ids;
    ids.owner = 12345;
    const IpcIds untouched = ids;
    if (read_id_file(path, ids)) {
        FUZZ_CHECK(ids.request_shm >= 0 && ids.request_sem >= 0 && ids.data_shm >= 0 && ids.data_sem >= 0);
    } else {
        // A refused file leaves the ids as they were.
        FUZZ_CHECK(ids.owner == untouched.owner && ids.request_shm == untouched.request_shm &&
                   ids.data_sem == untouched.data_sem);
    }
    qvxfuzz::fresh_state();
    return 0;
}
