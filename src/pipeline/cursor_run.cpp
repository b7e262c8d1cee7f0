#include "pipeline/cursor_run.h"

#include "runtime/clock.h"

namespace qvx {

int get_cursor_data(curs& cursor) {
    cursor.last_run = now_relative();
    cursor.last_result = 0;
    return 0;
}

} // namespace qvx
