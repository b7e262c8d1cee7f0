// Resolving the terms of an expression before an operation uses them,
// and reading a column term's current value: the text of its column in
// the cursor's current row (a walk's row, else the newest), a request
// parameter for a "%parm" variable.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "expr/column_value.h"
#include "expr/interpreter.h"
#include "expr/term_table.h"
#include "expr/term_values.h"
#include "model/cursor_list.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"
#include "support/number_text.h"

namespace qvx {

namespace {

constexpr int16_t kNumberColumn = 2;

void bind_column(Term& t, curs& c, int index) {
    t.src_cursor = &c;
    t.src_col = static_cast<size_t>(index);
    watch_cursor_list();
    t.src_generation = cursor_generation();
    t.source = TermSource::column;
    t.data_type = c.cols[t.src_col].orig_type == kNumberColumn ? kDecimal : kCharacter;
    refresh_column_term(t);
}

void store_cursor_name(Term& t, const curs& c) {
    const size_t n = std::min(c.cur_name.size(), kMaxCursorLen);
    std::memcpy(t.cursor_name, c.cur_name.data(), n);
    t.cursor_name[n] = '\0';
}

int define_column(Term& t) {
    curs* c = find_cursor(t.cursor_name);
    if (!c) {
        PRINT('e', "Int0500", "Cursor %s not found for column %s\n", t.cursor_name, t.name);
        return 1;
    }
    const int index = column_position(*c, t.name);
    if (index < 0) {
        PRINT('h', "Int0510", "Column %s not found for cursor %s\n", t.name, t.cursor_name);
        return 1;
    }
    bind_column(t, *c, index);
    return 0;
}

int this_curs_column(Term& t, curs& c) {
    const int index = column_position(c, t.text());
    if (index < 0) return 1;
    bind_column(t, c, index);
    return 0;
}

int define_percent_var(Term& t) {
    const columns* pc = find_pcnt_col(t.text());
    if (!pc) {
        PRINT('e', "Int0520", "Variable %s not found\n", t.name);
        return 1;
    }
    bind_column(t, *percent_cursor, static_cast<int>(pc - percent_cursor->cols.data()));
    return 0;
}

int resolve_column(Term& t) {
    if (t.is_resolved() && refresh_column_term(t)) return 0;
    t.source = TermSource::none;
    curs* c = current_cursor();
    // A name written without its cursor reads the column of that name in
    // the cursor now current.
    if (t.cursor_name[0] && !(t.follows_cursor && c)) return define_column(t);
    if (!c || this_curs_column(t, *c) != 0) return 1;
    store_cursor_name(t, *c);
    return 0;
}

int resolve_name(Term& t) {
    if (t.source == TermSource::fixed) return 0;
    if (t.source == TermSource::column && refresh_column_term(t)) return 0;
    t.source = TermSource::none;
    if (t.name[0] == '%') return define_percent_var(t);
    curs* c = current_cursor();
    if (c && this_curs_column(t, *c) == 0) {
        t.entry_type = kColumnTerm;
        t.follows_cursor = true;
        store_cursor_name(t, *c);
        return 0;
    }
    if (expr_debug())
        PRINT('t', "Int0420", "%s in cursor %s assumed a working variable name\n", t.name,
              c ? c->cur_name.c_str() : "");
    if (t.data_type == kUndefined) t.data_type = kCharacter;
    t.len = static_cast<int32_t>(t.text().size());
    t.source = TermSource::fixed;
    return 0;
}

// A decimal integer, leading white space allowed, nothing after it.
bool whole_integer(std::string_view s, int32_t& out) {
    size_t i = 0;
    while (i < s.size() && std::strchr(" \t\n\v\f\r", s[i])) ++i;
    if (i == s.size()) return i == 0;  // only an empty text reads as 0
    if (s[i] == '+' && i + 1 < s.size() && s[i + 1] != '-') ++i;
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool whole_double(std::string_view s, double& out) {
    size_t i = 0;
    while (i < s.size() && std::strchr(" \t\n\v\f\r", s[i])) ++i;
    if (i < s.size() && s[i] == '+' && i + 1 < s.size() && s[i + 1] != '-') ++i;
    if (i == s.size()) return false;
    const auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

} // namespace

int edit_arg_term(Term& t) {
    switch (t.entry_type) {
        case kStringConst:
        case kVectorTerm:
            if (!t.is_resolved()) {
                t.len = static_cast<int32_t>(t.text().size());
                t.source = TermSource::fixed;
            }
            return 0;
        case kNumberConst:
            if (t.is_resolved()) return 0;
            t.numeric_kind = t.data_type;
            if (t.data_type == kDecimal) {
                if (!whole_double(t.text(), t.dval)) t.dval = number_or_zero(t.text());
            } else if (!whole_integer(t.text(), t.ival)) {
                const int64_t whole = integer_part(number_or_zero(t.text()));
                t.ival = static_cast<int32_t>(std::clamp<int64_t>(whole, INT32_MIN, INT32_MAX));
            }
            t.len = static_cast<int32_t>(t.text().size());
            t.source = TermSource::fixed;
            return 0;
        case kColumnTerm: return resolve_column(t);
        case kNameTerm: return resolve_name(t);
        default:
            PRINT('e', "Int0430", "Invalid term type\n");
            return 1;
    }
}

void term_str2num(Term& t) {
    const std::string_view text = value_view(t);
    if (whole_integer(text, t.ival)) {
        t.numeric_kind = kIntKind;
    } else if (whole_double(text, t.dval)) {
        t.numeric_kind = kDoubleKind;
    } else {
        t.numeric_kind = kNotNumeric;
        t.ival = 0;
        t.dval = 0;
    }
}

} // namespace qvx
