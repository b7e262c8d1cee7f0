// Daily operating ranges of COLLECT.CTL cursors.
#include "control/cursor.h"

namespace qvx {

void set_operate(std::vector<OpRange>& list, long start, long end) {
    if (end < start) end += 86400;
    list.push_back(OpRange{static_cast<int32_t>(start), static_cast<int32_t>(end)});
}

} // namespace qvx
