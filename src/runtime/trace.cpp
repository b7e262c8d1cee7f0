#include "runtime/trace.h"

namespace qvx {

int16_t trace_all = 0;
int16_t trace_something = 0;
int16_t my_trace_all[10] = {};

void reset_trace_switches() {
    trace_all = 0;
    trace_something = 0;
    for (auto& level : my_trace_all) level = 0;
}

} // namespace qvx
