// Single values for the internal procedures: one column of a cursor's
// current row read into a caller variable (and kept in a named term that
// later conditions can compare against), and caller values made visible
// to expressions as named terms.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "expr/column_value.h"
#include "expr/select.h"
#include "expr/select_internal.h"
#include "expr/term_values.h"
#include "model/cursor_list.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// A term keeps its column while its cursor and position stand; the
// value itself is its own copy, so that the term does not follow a walk.
bool has_column(const Term& t, const curs& c) {
    return t.src_cursor == &c && t.src_generation == cursor_generation() && t.src_col < c.cols.size();
}

void drop_column(Term& t) {
    t.src_cursor = nullptr;
    t.src_col = 0;
    t.src_generation = 0;
}

// The column's text in the cursor's current row, up to its first zero.
std::string_view column_text(const curs& c, const columns& col) {
    const char* text = nullptr;
    int32_t len = 0;
    current_value(c, col, text, len);
    return {text, strnlen(text, static_cast<size_t>(std::max(len, 0)))};
}

// A cached term that may be used again (its column dropped when the
// cursor's version may have changed since the last tune-up), else null.
Term* cached_term(Term** cache, const curs& c) {
    if (!cache || !*cache) return nullptr;
    Term* t = *cache;
    if (verify_term(t) != 0) {
        PRINT('w', "SEL0815", "Pointer to invalid term block is passed\n");
        return nullptr;
    }
    if (t->src_cursor && (c.vers_time.empty() || !(c.vers_time < last_version_update_time))) drop_column(*t);
    return t;
}

// The name term of a variable, typed by the target type; null after a
// reported failure.
Term* variable_term(const char* variable, int type) {
    Term* t = name_term(variable);
    if (!t) {
        PRINT('e', "SEL0820", "Variable %s allocation failed\n", variable);
        return nullptr;
    }
    if (type < kTargetText || type > kTargetFloat) {
        PRINT('e', "SEL0825", "Invalid data type passed for variable %s.\n", variable);
        return nullptr;
    }
    t->data_type = type;
    return t;
}

// Reads the column into the term and the term's value into the target.
int read_into_term(Term& t, std::string_view column, curs& c, void* target) {
    if (!has_column(t, c)) {
        drop_column(t);
        const int index = column_position(c, column);
        if (index < 0) {
            PRINT('e', "SEL0830", "Column %s not found for cursor %s\n", std::string(column).c_str(),
                  c.cur_name.c_str());
            return 1;
        }
        watch_cursor_list();
        t.src_cursor = &c;
        t.src_col = static_cast<size_t>(index);
        t.src_generation = cursor_generation();
    }
    const columns& col = c.cols[t.src_col];
    const std::string_view text = column_text(c, col);
    try {
        t.set_owned(text);
    } catch (const std::bad_alloc&) {
        PRINT('s', "SEL0840", "Can not acquire memory: quitting\n");
        quitting(0);
        return 1;
    }
    t.len = col.length;
    t.source = TermSource::fixed;
    switch (t.data_type) {
        case kInteger:
            t.numeric_kind = kIntKind;
            t.ival = static_cast<int32_t>(std::strtol(t.value, nullptr, 10));
            *static_cast<int32_t*>(target) = t.ival;
            break;
        case kCharacter:
            t.numeric_kind = kNotNumeric;
            *static_cast<const char**>(target) = t.value;
            break;
        case kDecimal:
            t.numeric_kind = kDoubleKind;
            t.dval = std::strtod(t.value, nullptr);
            *static_cast<float*>(target) = static_cast<float>(t.dval);
            break;
        default:
            break;
    }
    return 0;
}

// Reads the column straight into the target (no term).
int read_plain(std::string_view column, const curs& c, void* target, int type) {
    const int index = column_position(c, column);
    if (index < 0) {
        PRINT('e', "SEL0850", "Column %s not found for cursor %s\n", std::string(column).c_str(),
              c.cur_name.c_str());
        return 1;
    }
    const std::string text(column_text(c, c.cols[static_cast<size_t>(index)]));
    switch (type) {
        case kTargetInt:
            *static_cast<int32_t*>(target) = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
            return 0;
        case kTargetFloat:
            *static_cast<float*>(target) = static_cast<float>(std::strtod(text.c_str(), nullptr));
            return 0;
        case kTargetText:
            PRINT('e', "SEL0860", "Char target type requires a declared term variable\n");
            return 1;
        default:
            PRINT('e', "SEL0870", "Invalid target type\n");
            return 1;
    }
}

} // namespace

int select_column(std::string_view column, std::string_view cursor_name, void* target, int type,
                  const char* variable, Term** cache) {
    if (!sql_initialised()) return 1;
    curs* c = find_cursor(cursor_name);
    if (!c) {
        PRINT('e', "SEL0810", "Cursor %s not found\n", std::string(cursor_name).c_str());
        return 1;
    }
    Term* t = cached_term(cache, *c);
    if (!t && variable && !(t = variable_term(variable, type))) return 1;
    if (!t) return read_plain(column, *c, target, type);
    if (read_into_term(*t, column, *c, target) != 0) return 1;
    if (cache) *cache = t;
    return 0;
}

int declare_C_var(std::string_view name, int type, const void* value) {
    if (!sql_initialised()) return 1;
    Term* t = name_term(name);
    if (!t) {
        PRINT('e', "TRM0100", "Variable %s declaration failed\n", std::string(name).c_str());
        return 1;
    }
    switch (type) {
        case kTargetText:
            t->use_inline();
            t->value = static_cast<const char*>(value);
            t->len = static_cast<int32_t>(std::strlen(t->value));
            t->numeric_kind = kNotNumeric;
            break;
        case kTargetInt:
            t->numeric_kind = kIntKind;
            t->ival = *static_cast<const int32_t*>(value);
            t->set_owned(std::to_string(t->ival));
            break;
        case kTargetFloat:
            t->numeric_kind = kDoubleKind;
            t->dval = *static_cast<const float*>(value);
            t->set_owned(std::to_string(t->dval));
            break;
        default:
            PRINT('s', "TRM0110", "Invalid data type for variable %s\n", std::string(name).c_str());
            return 1;
    }
    if (type != kTargetText) t->len = static_cast<int32_t>(t->own_buffer.size());
    t->data_type = type;
    t->source = TermSource::fixed;
    return 0;
}

} // namespace qvx
