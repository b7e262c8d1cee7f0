// Reading and writing the values of terms, shared by the operation
// procedures.
#pragma once

#include <cstring>
#include <string_view>

#include "expr/term.h"

namespace qvx {

// The value text: a column's value ends at its width or its first zero
// byte, any other at its zero byte; empty for a null value.
inline std::string_view value_view(const Term& t) {
    if (!t.value) return {};
    if (t.source == TermSource::column && !t.value_owned)
        return {t.value, strnlen(t.value, static_cast<size_t>(t.len > 0 ? t.len : 0))};
    return t.value;
}

// Length without trailing blanks; a text of blanks only keeps one.
inline size_t less_blanks_len(std::string_view text) {
    size_t n = text.size();
    while (n > 1 && text[n - 1] == ' ') --n;
    return n;
}

// "column" for a column term, else "variable" (messages).
const char* term_word(const Term& t);

// True for a non-zero integer or double.
inline bool is_true(const Term& t) {
    return (t.numeric_kind == kIntKind && t.ival != 0) || (t.numeric_kind == kDoubleKind && t.dval != 0.0);
}

// The numeric value as a double (the integer for kind 2).
inline double number_of(const Term& t) { return t.numeric_kind == kIntKind ? t.ival : t.dval; }

// Writes text as the term's value: into the name field when it fits and
// the value is not a buffer of its own, else into its own buffer.
void write_value(Term& t, std::string_view text);

// The logical result 1 or 0 (data type and kind integer).
inline void set_logical(Term& t, bool value) {
    t.data_type = kInteger;
    t.numeric_kind = kIntKind;
    t.ival = value ? 1 : 0;
    if (t.value_owned) t.use_inline();
    t.name[0] = value ? '1' : '0';
    t.name[1] = '\0';
    t.value = t.name;
    t.len = 1;
}

// A number of the kind (integer: "%li" text; double: "%lf" text). An
// integer outside the 32-bit range is kept as a double.
void set_number(Term& t, int kind, double value);

} // namespace qvx
