// Virtual cursors: one-row cursors whose columns show dictionary elements
// rather than the rows of a query. They are never fetched; a request for
// one answers with its single row as it stands. The cursor named
// "SERVSTAT" also carries the server status (its "SQLRC" column).
#pragma once

namespace qvx {

// Builds the row of every virtual cursor at start-up and makes each a
// demand cursor with interval 0; 0, or 1 when a column names no
// dictionary element or memory ran out.
int init_virtuals();

} // namespace qvx
