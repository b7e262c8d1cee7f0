#include "runtime/trace.h"

#include <cctype>

namespace qvx {

int16_t trace_all = 0;
int16_t trace_something = 0;
int16_t my_trace_all[10] = {};

void reset_trace_switches() {
    trace_all = 0;
    trace_something = 0;
    for (auto& level : my_trace_all) level = 0;
}

void set_debug_levels(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    if (!text.empty() && text[0] == 'd') {
        trace_all = 1;
        trace_something = 1;
    }
    std::string_view levels = text.empty() ? text : text.substr(1);
    for (size_t i = 0; i < 10; ++i) {
        int16_t level = 0;
        if (i < levels.size()) {
            const unsigned char c = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(levels[i])));
            if (c > 'c') level = static_cast<int16_t>(c - 'c');
        }
        my_trace_all[i] = level;
    }
}

} // namespace qvx
