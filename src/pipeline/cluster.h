// Clusters: a cursor's rows read out in the send layout, as one block of
// rows back to back. A cluster is opened for a read, walked with
// fetch_cur and released with close_cur; open clusters are registered so
// that a fetch or close of an unknown block is refused.
#pragma once

#include <cstdint>

#include "control/cursor.h"

namespace qvx {

struct cluster {
    int32_t rc = 0;       // 0 while a row is current, 100 at the end
    int32_t count = 0;    // rows in the block
    int32_t len = 0;      // send-layout row size
    int32_t started = 0;  // 0 until the first fetch
    char* cur = nullptr;  // current row
    char* end = nullptr;  // just past the last row

    char* data() { return reinterpret_cast<char*>(this + 1); }
};

// The cursor's rows for a read: none for a held cursor; the stored rows of
// a virtual cursor; a demand cursor run first when its rows are stale;
// otherwise the stored rows (only the current sample with a samples
// limit). A cursor with column functions answers with its one
// column-function row instead. Null when there is nothing to read.
cluster* open_cursor(curs& cursor);

// Runs a demand cursor and returns the cluster of its rows (its
// column-function row when it has column functions); null when it is held
// or its run or a function failed.
cluster* prep_demand(curs& cursor);

// 0 with cur on the next row; 100 at the end or for an unknown block.
int fetch_cur(cluster* cl);

// Releases the block; 0, or 1 for an unknown block (ignored).
int close_cur(cluster* cl);

} // namespace qvx
