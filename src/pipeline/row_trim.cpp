// The row chain of a cursor: appending and trimming by age, by sample
// and altogether.
#include <algorithm>
#include <new>

#include "control/distributor.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/row_store.h"
#include "runtime/messages.h"

namespace qvx {

void append_row(curs& c, row_data* row) noexcept {
    row->next = nullptr;
    if (c.first_row && c.last_row)
        c.last_row->next = row;
    else
        c.first_row.reset(row);
    c.last_row = row;
    ++c.row_count;
    c.rows_changed = 1;
    c.history_pending = 1;
}

void free_first_row(curs& c) noexcept {
    row_data* first = c.first_row.release();
    if (!first) return;
    c.first_row.reset(first->next);
    row_data::destroy(first);
    c.rows_changed = 1;
    if (!c.first_row) {
        c.last_row = nullptr;
        c.row_count = 0;
    } else if (c.row_count > 0) {
        --c.row_count;
    }
}

void delete_by_time(curs& c) {
    const int32_t collector_interval = collector_at ? collector_at->interval : 0;
    const int32_t step = std::max(c.interval, collector_interval);
    for (row_data* r = c.first_row; r; r = r->next) r->age += step;
    while (c.first_row && c.first_row->age >= c.time_limit) free_first_row(c);
}

void delete_by_samples(curs& c) {
    const long oldest_kept = static_cast<long>(c.sample_no) - c.sample_limit;
    while (c.first_row && c.first_row->sample_no <= oldest_kept) free_first_row(c);
}

void delete_all(curs& c) {
    if (&c == percent_cursor) return;  // its one row holds the percent variables
    if (c.trace) PRINT('t', "pdr3000", "Deleting (%d) rows for cursor %s\n", c.row_count, c.cur_name.c_str());
    if (c.first_row) c.rows_changed = 1;
    c.first_row.reset();
    c.last_row = nullptr;
    c.row_count = 0;
}

} // namespace qvx
