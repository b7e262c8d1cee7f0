// A walk over one cursor's stored rows, oldest first, as the SQL-like
// select and the internal procedures make it: while the walk is open the
// cursor's columns read the row it stands on (for every reader, so the
// cursor is not read otherwise until the walk is closed). Beside it the
// result chain of an internal procedure: its output lines in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

struct SelectWalk {
    enum class At { closed, before_first, row };
    At at = At::closed;
    row_data* row = nullptr;      // the row stood on
    row_data* saved = nullptr;    // the cursor's reading row before the walk
    bool moves = false;           // more than one row: the columns follow the walk
};

// 0 opened (before the first row); 100 no rows (SEL0010).
int open_select_cursor(curs& c, SelectWalk& walk);
// 0 on the next row, 100 past the newest, -1 not open (SEL0030).
int fetch_next_row(curs& c, SelectWalk& walk);
// Ends the walk and clears the cursor's binding (bound again on its next
// run); the columns read the newest row again. 0 closed; 1 not open
// (SEL0015) or no newest row (SEL0020).
int close_select_cursor(curs& c, SelectWalk& walk);

// An internal procedure's output lines.
using ResultChain = std::vector<std::string>;
void chain_internal_res(std::string_view text, ResultChain& chain);

// The argument that ends a select list's ROW.
std::string_view get_row_function_arg_part();

} // namespace qvx
