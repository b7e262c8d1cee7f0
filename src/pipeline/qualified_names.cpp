// Qualified column names (cursor.column in a cursor's column list): the
// column reads the source cursor's column from the row chosen for it
// (the source's current row, or its base row).
#include <string>

#include "model/cursor_list.h"
#include "pipeline/column_ref.h"
#include "pipeline/column_versions.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kCursorName = 8;

// Binds one column; false after an error (reported).
bool bind_qualified(curs& c, columns& col) {
    const char* name = col.name.c_str();
    const size_t dot = col.name.find('.');
    if (dot == std::string::npos) {
        PRINT('e', "pmg3160", "Qualified name (%s) is invalid\n", name);
        return false;
    }
    const std::string cursor_part = col.name.substr(0, dot);
    const std::string column_part = col.name.substr(dot + 1);
    curs* source = cursor_part.size() <= kCursorName ? find_cursor(cursor_part) : nullptr;
    if (!source) {
        PRINT('e', "pmg3165", "Source cursor (%s) not found for %s\n", cursor_part.c_str(), name);
        return false;
    }
    if (source == &c) {
        PRINT('e', "pmg3170", "Cant reference to the same cursor for %s\n", name);
        return false;
    }
    if (!c.age_to.empty() && source->cur_name == c.age_to) {
        PRINT('e', "pmg3175", "Column reference (%s) to own aged data not allowed\n", name);
        return false;
    }
    columns* found = nullptr;
    curs* version = nullptr;
    if (search_curs_vers_insert(*source, column_part, found, version) != 0) {
        PRINT('e', "pmg3180", "Source column (%s) not found for %s\n", column_part.c_str(), name);
        return false;
    }
    col.source = ColumnRef{version, column_position(*version, *found)};
    return true;
}

} // namespace

int set_qualifieds() {
    bool good = true;
    int resolved = 0;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        for (columns& col : c.cols) {
            if (!col.qualified || (!col.name.empty() && col.name[0] == '%')) continue;
            col.source = ColumnRef{};
            if (bind_qualified(c, col))
                ++resolved;
            else
                good = false;
        }
    }
    if (!good) {
        PRINT('e', "pmg3185", "Qualified name resolution failed\n");
        return 1;
    }
    PRINT('i', "pmg3190", "Qualified name resolution successful, %d resolved\n", resolved);
    return 0;
}

} // namespace qvx
