#include "pipeline/column_ref.h"

#include <algorithm>
#include <string>

#include "pipeline/column_versions.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kNameField = 50;    // column names are compared over this many bytes
constexpr size_t kCursorPart = 20;   // a cursor part this long is refused

// Equal over the name field: names are kept zero-padded in 50 bytes.
bool same_name(std::string_view a, std::string_view b) {
    return a.substr(0, std::min(a.size(), kNameField)) == b.substr(0, std::min(b.size(), kNameField));
}

columns* column_named(curs& c, std::string_view name) {
    for (columns& col : c.cols)
        if (same_name(col.name, name)) return &col;
    return nullptr;
}

} // namespace

int find_col(curs& c, std::string_view name, columns*& column_out, curs*& cursor_out) {
    const std::string text(name);
    if (columns* own = column_named(c, name)) {
        column_out = own;
        cursor_out = &c;
        return 0;
    }
    if (!name.empty() && name[0] == '%') {
        columns* pc = find_pcnt_col(name);
        if (!pc) {
            PRINT('e', "pde3950", "Column %s not found\n", text.c_str());
            return 1;
        }
        column_out = pc;
        cursor_out = percent_cursor;
        return 0;
    }
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        PRINT('e', "pde3955", "Column %s not found\n", text.c_str());
        return 1;
    }
    if (dot >= kCursorPart) {
        PRINT('e', "pde3960", "Cursor name too long in %s\n", text.c_str());
        return 1;
    }
    // A resolution made before the last version update stays valid while
    // neither cursor changed version; the column is looked up in every
    // version of the named cursor.
    const std::string cursor_name(name.substr(0, dot));
    curs* named = find_cursor(cursor_name);
    if (!named) {
        PRINT('e', "pde3965", "Cursor %s not found in text %s\n", cursor_name.c_str(), text.c_str());
        column_out = nullptr;
        cursor_out = nullptr;
        return 1;
    }
    const std::string column_name(name.substr(dot + 1));
    if (search_curs_vers(*named, column_name, column_out, cursor_out) != 0) {
        PRINT('e', "pde3970", "Column (%s) not found in text '%s'\n", column_name.c_str(), text.c_str());
        return 1;
    }
    return 0;
}

void set_col_ordinals(curs& c) {
    int16_t n = 0;
    for (columns& col : c.cols) col.ordinal = ++n;
}

} // namespace qvx
