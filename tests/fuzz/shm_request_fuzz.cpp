// A request segment as the collector reads it: the input is the segment
// as an agent (or a broken one) left it, from offset 4 on; the attach
// count at offset 0 belongs to the channel's own bookkeeping and is never
// overwritten, so every input's objects are removed again. The write-time
// field of the input counts seconds before now, since a segment's times
// are absolute. The segment is posted as an agent posts it and the
// collector end takes it with one "get".
//
// Every input makes its own channel objects in the scratch directory: the
// id file is removed first, so that no earlier owner is looked for.
#include <sys/sem.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "channel/comm_dispatch.h"
#include "channel/comm_shm.h"
#include "fuzz_support.h"
#include "runtime/settings.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ::setenv("COLL_USESHM", "1", 1);
    ::setenv("COLL_WAIT_TIMEOUT", "1", 1);
    qvxfuzz::fresh_state();
    ::unlink(shm_id_file_path(env_vars.serverid).c_str());
    qvxcomm("initsm");
    comm_anchor* anchor = qvxcomm("initc").anchor;
    ShareCommObject* req = shm_request_object();
    FUZZ_CHECK(anchor && req && req->IsGood());

    unsigned char* seg = req->Base();
    const size_t writable = reqseg::kSize - reqseg::kTaken;
    std::memset(seg + reqseg::kTaken, 0, writable);
    std::memcpy(seg + reqseg::kTaken, data, std::min(size, writable));
    const int32_t age = shm_get32(seg, reqseg::kWriteTime);
    shm_put32(seg, reqseg::kWriteTime, static_cast<int32_t>(std::time(nullptr)) - age);
    FUZZ_CHECK(req->SemOp(kSemAvailable, -1, IPC_NOWAIT) == 0);
    FUZZ_CHECK(req->SemOp(kSemFilled, 1, 0) == 0);

    std::vector<curs_list>* blocks = qvxcomm("get", anchor).blocks;
    if (blocks) {
        FUZZ_CHECK(blocks->size() == 1);
        const curs_list& b = blocks->front();
        FUZZ_CHECK(!b.name.empty() && b.name.size() <= kMaxCursorName);
        FUZZ_CHECK(anchor->request_id.size() < reqseg::kIdWidth);
        FUZZ_CHECK(anchor->parm_count >= 0 && anchor->parm_count <= kParmSlots);
        for (int i = 0; i < anchor->parm_count; ++i)
            FUZZ_CHECK(anchor->parms[static_cast<size_t>(i)].size() < reqseg::kParmWidth);
    } else {
        FUZZ_CHECK(anchor->error_code == 20 || anchor->error_code == 21);
    }
    // Taken or refused, the segment is free again for the next agent.
    FUZZ_CHECK(req->GetVal(kSemAvailable) == 1 && req->GetVal(kSemFilled) == 0);
    qvxcomm("term", anchor);
    qvxfuzz::fresh_state();
    return 0;
}
