#include "pipeline/in_list.h"

#include <algorithm>
#include <string>

#include "model/cursor_list.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr std::string_view kEmptyList = "( 'ZIP' )";

int16_t column_index(const curs& c, std::string_view name) {
    for (size_t i = 0; i < c.cols.size(); ++i)
        if (c.cols[i].name == name) return static_cast<int16_t>(i);
    return -1;
}

// One value of a non-Number column: quoted, without its trailing blanks
// and zero bytes; trailing zero bytes become blanks in the stored row, so
// the row reads as the list does. True when the row was written.
bool append_quoted(std::string& text, char* value, size_t len) {
    size_t n = len;
    bool written = false;
    while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == '\0')) {
        if (value[n - 1] == '\0') {
            value[n - 1] = ' ';
            written = true;
        }
        --n;
    }
    text += '\'';
    text.append(value, n);
    text += '\'';
    return written;
}

void build_one(curs& c, InList& list) {
    list.text.assign(kEmptyList);
    if (list.column < 0 || static_cast<size_t>(list.column) >= c.cols.size() || c.rows.empty()) return;
    const columns& col = c.cols[static_cast<size_t>(list.column)];
    const size_t len = static_cast<size_t>(std::max(col.length, 0));
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    const bool number = col.orig_type == kNumberType;

    std::string text;
    text.reserve(static_cast<size_t>(c.rows.size()) * (len + 5) + 4);
    text += "( ";
    bool first = true;
    bool written = false;
    for (row_data* r = c.rows.first(); r; r = r->next) {
        if (c.sample_limit > 0 && r->sample_no != c.sample_no) continue;
        if (at + len > r->size) continue;  // stored under another layout
        if (!first) text += " , ";
        first = false;
        char* value = r->text() + at;
        if (number)
            text.append(value, len);
        else
            written = append_quoted(text, value, len) || written;
    }
    if (written) c.rows.touch();  // what was worked out from the rows is stale
    if (first) return;  // no row of the current sample
    text += " )";
    list.text = std::move(text);
}

} // namespace

int edit_in_lists() {
    bool failed = false;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (!c.in_list) continue;
        for (InList& list : c.in_list->lists) {
            list.column = column_index(c, list.col_name);
            if (list.column < 0) {
                PRINT('e', "ein3265", "Referenced column(%s) not found for in_list %s, Cursor %s\n",
                      list.col_name.c_str(), list.name.c_str(), c.cur_name.c_str());
                failed = true;
            }
        }
    }
    if (failed) {
        PRINT('e', "ein3275", "In_list editing failed\n");
        return 1;
    }
    PRINT('i', "ein3270", "In_list editing successful\n");
    return 0;
}

void build_in_list(curs& c) {
    if (!c.in_list) return;
    for (InList& list : c.in_list->lists) {
        build_one(c, list);
        if (c.trace)
            PRINT('t', "cin3280", "In_list(%s(%d)) for %s = %.100s\n", list.name.c_str(),
                  static_cast<int>(list.text.size()), c.cur_name.c_str(), list.text.c_str());
    }
}

void build_in_lists_after_fetch(curs& c, int) { build_in_list(c); }

const InList* find_in_list(std::string_view name) {
    const std::string shown(name);
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 >= name.size()) {
        PRINT('e', "cin3285", "In_list reference in decode is invalid : %s\n", shown.c_str());
        return nullptr;
    }
    const curs* c = find_cursor(name.substr(0, dot));
    if (!c) {
        PRINT('e', "cin3290", "In_list reference in decode is to non-existent cursor : %s\n", shown.c_str());
        return nullptr;
    }
    const std::string_view list_name = name.substr(dot + 1);
    if (c->in_list)
        for (const InList& list : c->in_list->lists)
            if (list.name == list_name) return &list;
    PRINT('e', "cin3295", "In_list reference in decode is to non-existent in_list : %s\n", shown.c_str());
    return nullptr;
}

} // namespace qvx
