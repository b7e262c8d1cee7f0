// The iterated run of a cursor: one collection per row of its driving
// cursor, the driving row standing as that cursor's current row.
#include <ctime>

#include "control/cursor_lists_clause.h"
#include "pipeline/age_to.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/decode_eval.h"
#include "pipeline/row_sources.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

bool passes(curs& c, curs& driver, const row_data& row) {
    if (!c.iterate_where || !c.iterate_where->ready) return true;
    return decode_test_holds(c, driver, c.iterate_where->test, row);
}

// Every stored row joins the iteration's sample, numbered from 1.
void renumber(curs& c, int32_t sample) {
    int32_t n = 0;
    for (row_data* r = c.rows.first(); r; r = r->next) {
        r->sample_no = sample;
        r->row_no = ++n;
    }
    c.row_no = n;
}

// Collections for each passing driving row; the last one's result and
// the rows it stored.
int iterate_rows(curs& c, curs& driver, const std::string& time_text, int32_t sample, int& last_rows) {
    int rc = 0;
    for (row_data* r = driver.rows.first(); r; r = r->next) {
        if (!passes(c, driver, *r)) continue;
        driver.reading_row = r;
        c.sample_no = sample;
        c.row_no = 0;
        c.fetch_rows = 0;
        if (driver.trace) PRINT('t', "cit3145", "Iteration on row %d\n", r->row_no);
        int rows = 0;
        rc = prep_l_fetch(c, time_text, rows);
        last_rows = rows;
        if (rc != 0) {
            PRINT('e', "cit3150", "Iteration broken for cursor %s, cursor %s rc= %d\n", driver.cur_name.c_str(),
                  c.cur_name.c_str(), rc);
            break;
        }
        // The step emptied the driving cursor (a decode's delete): the
        // rows left to iterate are gone.
        if (driver.reading_row != r) break;
    }
    return rc;
}

} // namespace

int run_iteration(curs& c, curs& driver, const std::string& time_text) {
    const long now = static_cast<long>(std::time(nullptr));
    c.prev_start = c.this_start;
    c.this_start = now;
    if (c.prev_start != 0) c.current_interval = c.this_start - c.prev_start;
    if (driver.trace)
        PRINT('t', "cit3140", "Iterating from Cursor %s which has %d rows\n", driver.cur_name.c_str(),
              driver.rows.size());
    c.row_no = 0;
    row_data* const saved = driver.reading_row;
    const int32_t sample = c.sample_no;
    int last_rows = 0;
    c.iterating = true;
    const int rc = iterate_rows(c, driver, time_text, sample, last_rows);
    c.iterating = false;
    driver.reading_row = saved;
    c.sample_no = sample + 1;
    renumber(c, sample + 1);
    if (c.trace)
        PRINT('t', "cit3155", "Iteration produced %d rows in sample %d for %s\n", c.rows.size(), c.sample_no,
              c.cur_name.c_str());
    age_after_fetch(c, c.fetch_rows);
    run_after_fetch(c, last_rows);
    c.end_time = static_cast<long>(std::time(nullptr));
    c.execution_time = c.end_time - c.this_start;
    return rc;
}

} // namespace qvx
