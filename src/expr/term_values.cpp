#include "expr/term_values.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>

#include "support/number_text.h"

namespace qvx {

const char* term_word(const Term& t) { return t.entry_type == kColumnTerm ? "column" : "variable"; }

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
