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
    c.rows.append(row);
    c.rows_changed = 1;
    c.history_pending = 1;
}

void free_first_row(curs& c) noexcept {
    // A reading row freed here no longer stands for the cursor's rows.
    if (c.reading_row && c.reading_row == c.rows.first()) c.reading_row = nullptr;
    if (c.rows.first() && c.rows.first() == c.chosen_row) c.chosen_row = nullptr;
    if (c.rows.drop_front()) c.rows_changed = 1;
}

void delete_by_time(curs& c) {
    const int32_t collector_interval = collector_at ? collector_at->interval : 0;
    const int32_t step = std::max(c.interval, collector_interval);
    for (row_data* r = c.rows.first(); r; r = r->next) r->age += step;
    while (c.rows.first() && c.rows.first()->age >= c.time_limit) free_first_row(c);
}

void delete_by_samples(curs& c) {
    const long oldest_kept = static_cast<long>(c.sample_no) - c.sample_limit;
    while (c.rows.first() && c.rows.first()->sample_no <= oldest_kept) free_first_row(c);
}

void delete_all(curs& c) {
    if (&c == percent_cursor) return;  // its one row holds the percent variables
    if (c.trace) PRINT('t', "pdr3000", "Deleting (%d) rows for cursor %s\n", c.rows.size(), c.cur_name.c_str());
    if (c.rows.first()) c.rows_changed = 1;
    c.reading_row = nullptr;
    c.rows.clear();
    c.chosen_row = nullptr;
}

} // namespace qvx
