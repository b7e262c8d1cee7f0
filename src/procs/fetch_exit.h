// Fetch exits: cursors whose rows come from an external command instead
// of the database. The cursor's fetch_exit clause names one of the exits
// below, its script clause holds the command line. At each collection the
// command line is completed (database-type codes in the program name,
// "[name]" host variables from other cursors), the command runs as a child
// process, every line of its standard output becomes a row by the exit's
// parsing style, and the rows are built and stored like fetched rows.
// Output lines in message form ("ABC1234W text") go to the message output.
#pragma once

#include <string>
#include <vector>

#include "db/fetch.h"
#include "model/cursor.h"

namespace qvx {

// The exits a fetch_exit clause may name: name, parse kind (1 and 4
// fixed-width fields, 2 words, 3 TAB-separated fields, 5 the whole line
// in every column, 9 internal) and run option.
const std::vector<FetchExitSpec>& fetch_exit_table();

// Start-up: makes the exits known to the COLLECT.CTL reader and this
// runner the row source of cursors that name one.
void install_fetch_exits();

// One collection through the cursor's fetch exit, the rows going to sink
// (merge_text of the row store when none is given). 0 good (rows stored,
// or a dummy row stands in), 1 when no row was produced.
int run_cursor_fetch_exit(curs& cursor, const std::string& date, const RowSink& sink);
int run_cursor_fetch_exit(curs& cursor, const std::string& date);

// Forgets the result sets and the prepared trace environment (tests).
void reset_fetch_exits();

} // namespace qvx
