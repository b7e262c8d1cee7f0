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
    // Number fields are right-aligned in wide columns: blanks eight at a time.
    constexpr uint64_t kBlanks = 0x2020202020202020ULL;
    for (uint64_t word; end - p >= 8 && (std::memcpy(&word, p, 8), word == kBlanks);) p += 8;
    while (p < end && *p == ' ') ++p;
    const bool plus = p < end && *p == '+';
    if (plus) ++p;
    // from_chars takes no '+', and a lone '-' before one is no number.
    if (plus && p < end && *p == '-') return {};
    // Up to 15 digits with or without a point and no exponent (the usual
    // column value) are read digit by digit: the digits make an exact
    // integer and one division by an exact power of ten rounds as the
    // full conversion does. Anything else goes through the full one.
    {
        static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                           1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const char* q = p;
        const bool negative = q < end && *q == '-';
        if (negative) ++q;
        uint64_t acc = 0;
        int digits = 0;
        int decimals = -1;  // digits after the point; -1 while none seen
        for (; q < end && digits < 16; ++q) {
            const unsigned d = static_cast<unsigned>(*q - '0');
            if (d < 10) {
                acc = acc * 10 + d;
                ++digits;
                if (decimals >= 0) ++decimals;
            } else if (*q == '.' && decimals < 0) {
                decimals = 0;
            } else {
                break;
            }
        }
        const bool ends = q == end || (*q != 'e' && *q != 'E' && static_cast<unsigned>(*q - '0') >= 10);
        if (digits > 0 && digits < 16 && ends) {
            const double whole = static_cast<double>(acc) / kTens[decimals > 0 ? decimals : 0];
            return {negative ? -whole : whole, static_cast<size_t>(q - begin)};
        }
    }
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

namespace {

// "%f" of a value below 10^9 through integers: the value in millionths,
// rounded, when no half-millionth lies within the product's rounding
// error (otherwise the full conversion decides). 0 when not taken.
size_t small_fixed6(double value, char* buf, size_t cap) {
    if (!(std::fabs(value) < 1e9) || cap < 20) return 0;
    const double scaled = std::fabs(value) * 1e6;
    const double rounded = std::nearbyint(scaled);
    const double ulp = std::nextafter(scaled, HUGE_VAL) - scaled;
    if (std::fabs(std::fabs(scaled - rounded) - 0.5) <= ulp) return 0;
    uint64_t millionths = static_cast<uint64_t>(rounded);
    char digits[24];
    size_t n = 0;
    for (int i = 0; i < 6; ++i, millionths /= 10) digits[n++] = static_cast<char>('0' + millionths % 10);
    digits[n++] = '.';
    do {
        digits[n++] = static_cast<char>('0' + millionths % 10);
        millionths /= 10;
    } while (millionths != 0);
    if (std::signbit(value)) digits[n++] = '-';
    for (size_t i = 0; i < n; ++i) buf[i] = digits[n - 1 - i];
    return n;
}

} // namespace

size_t fixed_chars(double value, int keep, char* buf, size_t cap) {
    if (cap == 0) return 0;
    size_t n = small_fixed6(value, buf, cap);
    if (n == 0) {
        auto [stop, ec] = std::to_chars(buf, buf + cap - 1, value, std::chars_format::fixed, 6);
        n = ec == std::errc() ? static_cast<size_t>(stop - buf) : 0;
    }
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
