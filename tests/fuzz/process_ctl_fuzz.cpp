// PROCESS.CTL as start-up reads it: the distributor parser, then the
// collector's identity taken from the "collector" block.
#include <set>
#include <string>

#include "control/distributor.h"
#include "control/identity.h"
#include "fuzz_support.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    qvxfuzz::write_scratch("qvxproc.ctl", qvxfuzz::as_text(data, size));
    const int rc = parse_distributor();
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (rc == 0) {
        // What the scheduling loop relies on for every distributor kept.
        std::set<std::string> names;
        for (const auto& d : distrib_anchor) {
            FUZZ_CHECK(!d->distrib_name.empty() && d->distrib_name.size() <= 24);
            FUZZ_CHECK(names.insert(d->distrib_name).second);
            FUZZ_CHECK(d->interval > 0 && d->interval <= 9999);
            FUZZ_CHECK(d->logonid.size() <= 33 && d->password.size() <= 100 && d->serverid.size() <= 33);
            FUZZ_CHECK(d->class_sw[0] == 1);
            for (const auto& ranges : d->ranges)
                for (const OpRange& r : ranges) FUZZ_CHECK(r.end >= r.start && r.end - r.start <= 86400);
        }
        FUZZ_CHECK(!collector_at || collector_at->distrib_name == "collector");
        FUZZ_CHECK(sleep_time >= 0 && sleep_time <= 9999);
        set_collector_identity();
    }
    qvxfuzz::fresh_state();
    return 0;
}
