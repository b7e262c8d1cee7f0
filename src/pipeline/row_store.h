// The row store: building a fetched row into the cursor's row text,
// keeping rows by sample and trimming them.
#pragma once

#include <string>

#include "control/cursor.h"
#include "db/fetch.h"

namespace qvx {

// Builds and stores one row from the descriptor's current row (null for a
// cursor without SQL). Returns the text length of the stored row, 0 when
// the row was rejected (the fetch then stops), -1 when memory ran out.
//
// The first row binds every column to its source (select-list item by
// name or position, percent variable, other cursor's column) and lays out
// the row text; the binding is kept while `bound` is set, so later rows
// are only copied.
int merge_text(curs& cursor, const SelectDescriptor* desc, const std::string& time_text,
               RowOrigin origin = RowOrigin::sql);

// Before a demand run: a column bound to a request parameter ("%parm")
// at a width other than the parameter's length is bound again, at that
// length, by the next row.
void take_parameter_widths(curs& cursor);

// Appends a row after rows.last() and counts it.
void append_row(curs& cursor, row_data* row) noexcept;

// Frees the oldest row.
void free_first_row(curs& cursor) noexcept;

// Ages every row by the larger of the cursor's and the collector's
// interval and frees rows from the head whose age reached time_limit.
void delete_by_time(curs& cursor);

// Frees rows from the head whose sample lies sample_limit or more samples
// behind the current one.
void delete_by_samples(curs& cursor);

// Frees every row.
void delete_all(curs& cursor);

} // namespace qvx
