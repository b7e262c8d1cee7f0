// Storing a select's result into the caller's variable: the first value
// of the select list, as text, 32-bit integer or float.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "expr/select.h"
#include "expr/select_internal.h"
#include "expr/term_values.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

std::string_view skip_space(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && std::strchr(" \t\n\v\f\r", s[i])) ++i;
    s.remove_prefix(i);
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
    return s;
}

// A double truncated toward zero into 32 bits; beyond them the nearest
// end of the range, and no number at all 0.
int32_t int32_of(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(std::trunc(d));
}

// The member as a 32-bit integer (a double truncated toward zero).
int store_int(const Term& m, int32_t& out) {
    switch (m.data_type) {
        case kInteger:
            out = m.numeric_kind == kDoubleKind ? int32_of(m.dval) : m.ival;
            return 0;
        case kDecimal:
            out = m.numeric_kind == kIntKind ? m.ival : int32_of(m.dval);
            return 0;
        case kCharacter: {
            const std::string_view text = value_view(m);
            double d = 0;
            if (text_to_int(text, out)) return 0;
            if (text_to_double(text, d)) {
                out = int32_of(d);
                return 0;
            }
            PRINT('e', "SEL0630", "Value of %s can not be converted into number\n", std::string(text).c_str());
            return 1;
        }
        default:
            PRINT('e', "SEL0640", "Invalid data type\n");
            return 1;
    }
}

int store_float(const Term& m, float& out) {
    switch (m.data_type) {
        case kInteger:
        case kDecimal:
            out = static_cast<float>(number_of(m));
            return 0;
        case kCharacter: {
            const std::string_view text = value_view(m);
            double d = 0;
            if (!text_to_double(text, d)) {
                PRINT('e', "SEL0650", "Value of %s can not be converted into number\n",
                      std::string(text).c_str());
                return 1;
            }
            out = static_cast<float>(d);
            return 0;
        }
        default:
            PRINT('e', "SEL0660", "Invalid data type\n");
            return 1;
    }
}

int store_member(const Term& m, void* target, int type) {
    switch (type) {
        case kTargetText:
            if (!m.value) {
                PRINT('e', "SEL0620", "Invalid SELECT result structure\n");
                return 1;
            }
            *static_cast<const char**>(target) = m.value;
            return 0;
        case kTargetInt:
            return store_int(m, *static_cast<int32_t*>(target));
        case kTargetFloat:
            return store_float(m, *static_cast<float*>(target));
        case kTargetIgnore4:
        case kTargetIgnore5:
            return 0;
        default:
            PRINT('e', "SEL0670", "Invalid target type\n");
            return 1;
    }
}

} // namespace

bool text_to_int(std::string_view text, int32_t& out) {
    const std::string_view s = skip_space(text);
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

bool text_to_double(std::string_view text, double& out) {
    const std::string_view s = skip_space(text);
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

int dispose_result(TermPtr& result, void* target, int type) {
    const Term* first = result ? result->vector_next : nullptr;
    if (!first) {
        PRINT('e', "SEL0600", "Invalid SELECT result structure\n");
        result.reset();
        return 1;
    }
    if (type >= kTargetText && type <= kTargetFloat && first->vector_next)
        PRINT('w', "SEL0610", "Can not store a row into variable: taking just the first column of the row\n");
    const int rc = store_member(*first, target, type);
    result.reset();
    return rc;
}

} // namespace qvx
