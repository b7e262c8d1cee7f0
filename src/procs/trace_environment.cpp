// The fetch exits' trace environment.
#include "procs/trace_environment.h"

#include <cstdlib>
#include <string>

#include "runtime/environment.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

bool prepared = false;

// The variable's value; the default is put into the environment when the
// variable is not set.
std::string value_or_put(const char* name, const char* def) {
    if (auto v = u_getenv(name, -2, nullptr)) return *v;
    u_putenv(name, def);
    return def;
}

} // namespace

void prepare_trace_environment(bool traced) {
    if (prepared) return;
    prepared = true;
    value_or_put("LMX_TRC1", "ERROR");
    const std::string prefix = value_or_put("LMX_VARPREFIX", "%");
    const std::string log = output_file_name(prefix + "(systask)_" + prefix + "(sysutcstart)-.LOG");
    const std::string inv = output_file_name(prefix + "(systask).INV");
    if (traced) {
        PRINT('t', "fxr4050", "Fetch Exit trc1 log filename:\"%s\"\n", log.c_str());
        PRINT('t', "fxr4051", "Fetch Exit trc1 inv filename:\"%s\"\n", inv.c_str());
    }
    const char* wanted = std::getenv("QVX_COLL_EXE_TRC1");
    const std::string value = wanted ? "\"" + log + "\" INVENTORY=\"" + inv +
                                           "\" COUNT=03 PRESERVE=0 LIMIT=1 MAXFILES=3"
                                     : std::string("/dev/null");
    u_putenv("LMX_TRC1_LOG", value.c_str());
    if (traced) PRINT('t', "fxr4052", "Fetch Exit setting lmx_trc1_log:\"%s\"\n", value.c_str());
    // The collector's own environment is what every exit it starts
    // inherits: the variables are exported with that.
}

void reset_trace_environment() { prepared = false; }

} // namespace qvx
