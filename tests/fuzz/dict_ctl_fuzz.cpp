// DICT.CTL as start-up reads it, with the dictionary parameters start-up
// seeds from the settings and one given on the command line.
#include <string>

#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "fuzz_support.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    add_dict_parm("rdbms", "FUZZSRV");
    add_dict_parm("logonid", "monitor");
    add_dict_parm("site", "north");
    qvxfuzz::write_scratch("qvxdict.ctl", qvxfuzz::as_text(data, size));
    const int rc = parse_dict();
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (rc == 0) {
        // What the cursors' host variables rely on.
        for (const auto& e : dict_anchor) {
            FUZZ_CHECK(!e->name.empty() && e->name.size() <= 31);
            FUZZ_CHECK(find_dict_element(e->name) == e.get());
            if (e->data_type == 0) {
                FUZZ_CHECK(e->length >= 1 && e->length <= 2048);
            } else {
                // A numeric value is right-aligned in its field, never cut.
                FUZZ_CHECK(e->length == 16);
                if (e->initial) FUZZ_CHECK(e->initial->size() == 16);
            }
        }
    }
    qvxfuzz::fresh_state();
    return 0;
}
