#include "pipeline/row_sources.h"

#include <array>
#include <ctime>

#include "pipeline/age_to.h"
#include "pipeline/dummy_rows.h"
#include "pipeline/host_vars.h"
#include "pipeline/loads.h"
#include "pipeline/in_list.h"
#include "pipeline/row_store.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// The start of a run: its times (an iteration step belongs to the run it
// is part of), the sample number and the row numbering.
void begin_run(curs& cur) {
    const long now = static_cast<long>(std::time(nullptr));
    if (!cur.iterating) {
        cur.prev_start = cur.this_start;
        cur.this_start = now;
        if (cur.prev_start != 0) cur.current_interval = cur.this_start - cur.prev_start;
    }
    if (cur.trace) PRINT('t', "rpf0300", "Doing prep_l_fet for cursor %s\n", cur.cur_name.c_str());
    ++cur.sample_no;
    if (!cur.iterating) {
        cur.fetch_rows = 0;
        cur.row_no = 0;
    }
    set_sql_code(cur, 0);
    cur.now_secs = now;
}

constexpr std::array kAfterFetch{
    FetchStep{"loads", [](curs& c, int rows) { process_loads(c, rows); }},
    FetchStep{"in_list", build_in_lists_after_fetch},
    FetchStep{"dummy_rows", add_dummy_rows},
};

// The steps after a collection, then its end time; nothing while the
// collection is one step of an iteration.
void finish_run_times(curs& cur, int rows) {
    if (cur.iterating) return;
    run_after_fetch(cur, rows);
    cur.end_time = static_cast<long>(std::time(nullptr));
    cur.execution_time = cur.end_time - cur.this_start;
}

bool has_fetch_exit(const curs& c) { return c.fetch_exit.has_value(); }
bool without_sql(const curs& c) { return c.no_sql != 0; }
bool any_cursor(const curs&) { return true; }

FetchExitRunner fetch_exit_runner = nullptr;

// A fetch exit's rows, then what follows a collection.
int fetch_exit_rows(curs& cur, const std::string& time_text, int& rows, const RowSink& sink) {
    if (!fetch_exit_runner || fetch_exit_runner(cur, time_text, sink) != 0) return 1;
    finish_run_times(cur, cur.fetch_rows);
    rows += cur.fetch_rows;
    return 0;
}

// A cursor without SQL stores one row built from its variables.
int variable_row(curs& cur, const std::string& time_text, int& rows, const RowSink& sink) {
    if (sink(cur, nullptr, time_text) <= 0) return 1;
    ++cur.fetch_rows;
    ++cur.row_no;
    rows += 1;
    finish_run_times(cur, 1);
    return 0;
}

int fetched_rows(curs& cur, const std::string& time_text, int& rows, const RowSink& sink) {
    const RowSink counted = [&sink](curs& c, const SelectDescriptor* d, const std::string& t) {
        ++c.fetch_rows;
        // The previous sample goes to the age_to target before the first
        // new row is built.
        if (c.fetch_rows == 1) age_before_first_row(c);
        ++c.row_no;
        if (c.trace || debug_on(8)) trace_fetched_row(c, *d);
        return sink(c, d, t);
    };
    // A fetch that built no row lays an unbound cursor out for its dummy row.
    static const FetchEnd lay_out_dummy = [](curs& c, const SelectDescriptor& d) {
        if (c.fetch_rows == 0 && !c.bound && (c.dummy_last_row || c.conditional_dummy_last_row))
            setup_dummy(c, d, RowOrigin::sql);
    };
    std::string merged;
    const int rc = sql_fetch(cur, statement_for_fetch(cur, merged), time_text, counted, lay_out_dummy);
    if (rc != 0) return rc;
    if (!cur.iterating) age_after_fetch(cur, cur.fetch_rows);  // an iteration, once all its steps ran
    finish_run_times(cur, cur.fetch_rows);
    rows += cur.fetch_rows;
    return 0;
}

constexpr std::array kSources{
    RowSource{"fetch_exit", has_fetch_exit, fetch_exit_rows},
    RowSource{"no_sql", without_sql, variable_row},
    RowSource{"sql", any_cursor, fetched_rows},
};

} // namespace

std::span<const RowSource> row_sources() { return kSources; }

void set_fetch_exit_runner(FetchExitRunner runner) { fetch_exit_runner = runner; }

std::span<const FetchStep> after_fetch_steps() { return kAfterFetch; }

void run_after_fetch(curs& cur, int rows) {
    for (const FetchStep& step : kAfterFetch)
        if (step.run) step.run(cur, rows);
}

int prep_l_fetch(curs& cur, const std::string& time_text, int& rows, const RowSink& sink) {
    if (cur.once && cur.rows.size() > 0) return 0;
    begin_run(cur);
    for (const RowSource& source : kSources)
        if (source.serves(cur)) return source.run(cur, time_text, rows, sink);
    return 1;
}

int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows) {
    static const RowSink to_row_store = [](curs& c, const SelectDescriptor* d, const std::string& t) {
        return merge_text(c, d, t, c.fetch_exit ? RowOrigin::fetch_exit : RowOrigin::sql);
    };
    return prep_l_fetch(cursor, time_text, rows, to_row_store);
}

} // namespace qvx
