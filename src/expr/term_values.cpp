#include "expr/term_values.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>

#include "support/number_text.h"

namespace qvx {

std::string_view value_view(const Term& t) {
    if (!t.value) return {};
    if (t.source == TermSource::column && !t.value_owned)
        return {t.value, strnlen(t.value, static_cast<size_t>(std::max(t.len, 0)))};
    return t.value;
}

size_t less_blanks_len(std::string_view text) {
    size_t n = text.size();
    while (n > 1 && text[n - 1] == ' ') --n;
    return n;
}

const char* term_word(const Term& t) { return t.entry_type == kColumnTerm ? "column" : "variable"; }

bool is_true(const Term& t) {
    return (t.numeric_kind == kIntKind && t.ival != 0) || (t.numeric_kind == kDoubleKind && t.dval != 0.0);
}

void write_value(Term& t, std::string_view text) {
    if (!t.value_owned && text.size() <= kTermNameLen) {
        std::memcpy(t.name, text.data(), text.size());
        t.name[text.size()] = '\0';
        t.value = t.name;
    } else {
        t.set_owned(text);
    }
    t.len = static_cast<int32_t>(text.size());
}

void set_logical(Term& t, bool value) {
    t.data_type = kInteger;
    t.numeric_kind = kIntKind;
    t.ival = value ? 1 : 0;
    if (t.value_owned) t.use_inline();
    t.name[0] = value ? '1' : '0';
    t.name[1] = '\0';
    t.value = t.name;
    t.len = 1;
}

void set_number(Term& t, int kind, double value) {
    char buf[400];  // the widest double in "%lf" form has 309 digits before the point
    size_t n = 0;
    if (kind == kIntKind && std::isfinite(value) && std::trunc(value) >= INT32_MIN && std::trunc(value) <= INT32_MAX) {
        t.ival = static_cast<int32_t>(std::trunc(value));
        n = static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, t.ival).ptr - buf);
    } else {
        kind = kDoubleKind;
        t.dval = value;
        n = fixed_chars(value, 6, buf, sizeof buf);
    }
    t.data_type = kind;
    t.numeric_kind = kind;
    write_value(t, {buf, n});
}

} // namespace qvx
