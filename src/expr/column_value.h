// The current value of a resolved column term: the text of its column in
// the cursor's current row (a walk's row, else the newest), a request
// parameter for a "%parm" variable. Read for every argument of every
// evaluation, so it is inline.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "expr/term.h"
#include "expr/term_table.h"
#include "pipeline/percent_cursor.h"
#include "support/number_text.h"

namespace qvx {

// The position of the column of that name in the cursor, the names
// compared over the 50 bytes of their field; -1 for none.
inline int column_position(const curs& c, std::string_view name) {
    constexpr size_t kNameCompare = 50;
    name = name.substr(0, std::min(name.size(), kNameCompare));
    for (size_t i = 0; i < c.cols.size(); ++i) {
        std::string_view col = c.cols[i].name;
        if (col.substr(0, std::min(col.size(), kNameCompare)) == name) return static_cast<int>(i);
    }
    return -1;
}

// The column's value in the cursor's current row; empty while the cursor
// has no row (or the row has an older, shorter layout).
// The number a Number field holds: a right-aligned integer is read on the
// spot, anything else by read_number (with the same value).
inline double field_number(const char* text, size_t len) {
    size_t i = 0;
    while (i < len && text[i] == ' ') ++i;
    const bool negative = i < len && text[i] == '-';
    const size_t first = negative ? ++i : i;
    uint64_t whole = 0;
    for (; i < len && i - first < 15 && static_cast<unsigned>(text[i] - '0') < 10; ++i)
        whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
    if (i > first && (i == len || text[i] == '\0'))
        return negative ? -static_cast<double>(whole) : static_cast<double>(whole);
    return number_or_zero({text, len});
}

inline void current_value(const curs& c, const columns& col, const char*& text, int32_t& len) {
    if (&c == percent_cursor && col.binding.value_ptr) {
        text = col.binding.value_ptr;
        len = col.length;
        return;
    }
    const row_data* row = c.current_row();
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    if (!row || at + static_cast<size_t>(std::max(col.length, 0)) > row->size) {
        text = "";
        len = 0;
        return;
    }
    text = row->text() + at;
    len = col.length;
}

// Refreshes a column term's value from its column; false when the resolution no
// longer holds (the cursors were made again).
inline bool refresh_column_term(Term& t) {
    if (t.src_generation != cursor_generation() || !t.src_cursor || t.src_col >= t.src_cursor->cols.size())
        return false;
    // A name written without its cursor reads the current cursor's column.
    if (t.follows_cursor && current_cursor() && t.src_cursor != current_cursor()) return false;
    const columns& col = t.src_cursor->cols[t.src_col];
    const char* text = nullptr;
    int32_t len = 0;
    current_value(*t.src_cursor, col, text, len);
    if (t.value_owned) {
        t.own_buffer.assign(text, strnlen(text, static_cast<size_t>(len)));
        t.value = t.own_buffer.c_str();
    } else {
        t.value = text;
    }
    t.len = len;
    if (t.data_type == kDecimal) {
        t.numeric_kind = kDoubleKind;
        t.dval = field_number(text, static_cast<size_t>(len));  // the number ends at the field's zero
    } else {
        t.numeric_kind = kNotNumeric;  // a text column is converted again for each value
    }
    return true;
}

} // namespace qvx
