// Reading and writing the values of terms, shared by the operation
// procedures.
#pragma once

#include <string_view>

#include "expr/term.h"

namespace qvx {

// The value text: a column's value ends at its width or its first zero
// byte, any other at its zero byte; empty for a null value.
std::string_view value_view(const Term& t);

// Length without trailing blanks; a text of blanks only keeps one.
size_t less_blanks_len(std::string_view text);

// "column" for a column term, else "variable" (messages).
const char* term_word(const Term& t);

// True for a non-zero integer or double.
bool is_true(const Term& t);

// The numeric value as a double (the integer for kind 2).
inline double number_of(const Term& t) { return t.numeric_kind == kIntKind ? t.ival : t.dval; }

// Writes text as the term's value: into the name field when it fits and
// the value is not a buffer of its own, else into its own buffer.
void write_value(Term& t, std::string_view text);

// The logical result 1 or 0 (data type and kind integer).
void set_logical(Term& t, bool value);

// A number of the kind (integer: "%li" text; double: "%lf" text). An
// integer outside the 32-bit range is kept as a double.
void set_number(Term& t, int kind, double value);

} // namespace qvx
