// Water marks, applied to a row after its values are copied and before
// anything is computed from them.
#include "pipeline/water_mark.h"

#include <algorithm>
#include <cstring>

namespace qvx {

void apply_water_marks(curs& c, row_data& row) {
    for (columns& col : c.cols) {
        const bool high = col.col_funct == ColumnFunction::high_water;
        if ((!high && col.col_funct != ColumnFunction::low_water) || col.value_null) continue;
        const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
        const size_t len = static_cast<size_t>(std::max(col.length, 0));
        if (at + len > row.size) continue;
        char* value = row.text() + at;
        // A mark of another width was kept under an earlier row layout.
        if (!col.water_mark || col.water_mark->size() != len) {
            col.water_mark.emplace(value, len);
            continue;
        }
        const int cmp = std::memcmp(col.water_mark->data(), value, len);
        if (high ? cmp >= 0 : cmp <= 0)
            std::memcpy(value, col.water_mark->data(), len);
        else
            col.water_mark->assign(value, len);
    }
}

} // namespace qvx
