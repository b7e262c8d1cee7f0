#include "support/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace qvx {

NumberPrefix read_number(std::string_view text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    const char* p = begin;
    while (p < end && *p == ' ') ++p;
    const bool plus = p < end && *p == '+';
    if (plus) ++p;
    // from_chars takes no '+', and a lone '-' before one is no number.
    if (plus && p < end && *p == '-') return {};
    double v = 0;
    const auto [stop, ec] = std::from_chars(p, end, v, std::chars_format::general);
    if (stop == p) return {};
    return {ec == std::errc() ? v : 0.0, static_cast<size_t>(stop - begin)};
}

int64_t integer_part(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exact as a double; every double below it converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) return INT64_MAX;
    if (value <= -kLimit) return INT64_MIN;
    return static_cast<int64_t>(value);
}

size_t fixed_chars(double value, int keep, char* buf, size_t cap) {
    if (cap == 0) return 0;
    auto [stop, ec] = std::to_chars(buf, buf + cap - 1, value, std::chars_format::fixed, 6);
    size_t n = ec == std::errc() ? static_cast<size_t>(stop - buf) : 0;
    if (keep >= 0 && keep < 6) {
        if (const char* dot = static_cast<const char*>(std::memchr(buf, '.', n)))
            n = static_cast<size_t>(dot - buf) + (keep > 0 ? 1 + static_cast<size_t>(keep) : 0);
    }
    buf[n] = '\0';
    return n;
}

std::string fixed_text(double value, int keep) {
    char buf[400];  // the widest double in fixed notation has 309 digits before the point
    const size_t n = fixed_chars(value, keep, buf, sizeof buf);
    return std::string(buf, n);
}

} // namespace qvx
