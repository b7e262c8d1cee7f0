// Row sources: where the rows of one collection come from. A run keeps
// its bookkeeping (sample number, start and end times, row numbers) here
// and hands the cursor to the first source that serves it: a fetch exit,
// a cursor without SQL (one row built from its variables) or the SQL
// fetch. Every source feeds the same row sink.
#pragma once

#include <span>
#include <string>

#include "db/fetch.h"
#include "model/cursor.h"

namespace qvx {

struct RowSource {
    const char* name;
    bool (*serves)(const curs& cursor);
    // 0 good, else 1 or a database code; rows grows by the rows stored.
    int (*run)(curs& cursor, const std::string& time_text, int& rows, const RowSink& sink);
};

// The runner of fetch exits, set at start-up by the layer that has them:
// one collection of the cursor, its rows going to sink; 0 good, 1 when no
// row was produced. While none is set a cursor naming a fetch exit
// collects nothing.
using FetchExitRunner = int (*)(curs& cursor, const std::string& time_text, const RowSink& sink);
void set_fetch_exit_runner(FetchExitRunner runner);

// The sources in the order they are asked.
std::span<const RowSource> row_sources();

// What follows a collection that is not an iteration step (and an
// iteration, once all its steps ran): loads into virtual cursors, the
// cursor's in-lists, dummy rows; in that order. rows is the number of
// rows the (last) fetch stored.
struct FetchStep {
    const char* name;
    void (*run)(curs& cursor, int rows);  // null while the step has no processing
};
std::span<const FetchStep> after_fetch_steps();
void run_after_fetch(curs& cursor, int rows);

// One collection of the cursor: the run bookkeeping, then its source
// feeding sink; adds the rows stored to rows. A once cursor that has rows
// is not collected again.
int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows, const RowSink& sink);

// The same with the rows going to the row store (merge_text).
int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows);

} // namespace qvx
