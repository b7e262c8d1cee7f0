#include "runtime/run_requests.h"

namespace qvx {

long go_home_time = 0;
bool retrace_request = false;
bool restart_request = false;

void reset_run_requests() {
    go_home_time = 0;
    retrace_request = false;
    restart_request = false;
}

} // namespace qvx
