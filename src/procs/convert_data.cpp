// Value conversion for fetch-exit results: text to text with padding,
// justification, trimming and quoting; binary integers to text; text to
// binary integers.
#include "procs/convert_data.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/messages.h"

namespace qvx {

namespace {

template <typename T>
T saturated(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (v >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

int64_t read_binary(const char* src, int src_len) {
    switch (src_len) {
    case 2: { int16_t v; std::memcpy(&v, src, 2); return v; }
    case 8: { int64_t v; std::memcpy(&v, src, 8); return v; }
    default: { int32_t v; std::memcpy(&v, src, 4); return v; }
    }
}

void finish(char* dst, int written, int flags) {
    if (!(flags & kConvNoTerminator)) dst[written] = '\0';
}

// Binary to character: decimal text of at least src_len digits,
// right-justified in the destination unless kConvNoRight.
int binary_to_char(int dst_len, char* dst, int src_len, const char* src, int flags) {
    char text[32];
    const int64_t v = read_binary(src, src_len);
    int n = std::snprintf(text, sizeof text, "%.*lld", std::clamp(src_len, 0, 20), static_cast<long long>(v));
    n = std::min(n, dst_len);
    if (flags & kConvNoRight) {
        std::memcpy(dst, text, static_cast<size_t>(n));
        if (flags & kConvPad) {
            std::memset(dst + n, ' ', static_cast<size_t>(dst_len - n));
            n = dst_len;
        }
        finish(dst, n, flags);
        return n;
    }
    std::memset(dst, ' ', static_cast<size_t>(dst_len - n));
    std::memcpy(dst + dst_len - n, text, static_cast<size_t>(n));
    finish(dst, dst_len, flags);
    return dst_len;
}

// The quote a value with a blank gets: none when it starts with a double
// quote, else a double quote, an apostrophe when it holds a double quote,
// a TAB when it holds both.
char quote_for(std::string_view v) {
    if (v.find(' ') == std::string_view::npos || v.front() == '"') return 0;
    const bool dq = v.find('"') != std::string_view::npos;
    const bool ap = v.find('\'') != std::string_view::npos;
    return dq && ap ? '\t' : dq ? '\'' : '"';
}

int char_to_char(int dst_len, char* dst, int src_len, const char* src, int flags) {
    size_t len = src_len < 0 ? std::strlen(src) : static_cast<size_t>(src_len);
    if (flags & kConvRight) std::memset(dst, ' ', static_cast<size_t>(dst_len));
    if (flags & kConvTrim)
        while (len > 0 && src[len - 1] == ' ') --len;
    std::string_view value(src, len);
    if (value.empty()) value = " ";
    const char quote = (flags & kConvQuote) ? quote_for(value) : 0;
    const size_t width = static_cast<size_t>(dst_len);
    value = value.substr(0, quote ? (width >= 2 ? width - 2 : 0) : width);
    const size_t n = std::min(value.size() + (quote ? 2 : 0), width);
    // The value starts here: at the left, or so that it ends at the right.
    char* at = (flags & kConvRight) ? dst + (width - n) : dst;
    if (quote && n > 0) {
        at[0] = quote;
        std::memcpy(at + 1, value.data(), value.size());
        if (n > 1) at[n - 1] = quote;
    } else {
        std::memcpy(at, value.data(), value.size());
    }
    size_t written = n;
    if ((flags & kConvRight) || (flags & kConvPad)) {
        if (!(flags & kConvRight)) std::memset(dst + n, ' ', width - n);
        written = width;
    }
    finish(dst, static_cast<int>(written), flags);
    return static_cast<int>(written);
}

int char_to_binary(int dst_len, char* dst, int src_len, const char* src) {
    const std::string text = src_len < 0 ? std::string(src) : std::string(src, static_cast<size_t>(src_len));
    const char* allowed = dst_len >= 8 ? "0123456789+-. eEdD" : "0123456789+-. ";
    for (const char ch : text) {
        if (std::strchr(allowed, ch) == nullptr || ch == '\0') {
            PRINT('w', "diu4030", "Binary to character conversion error. Value:%s(%c)\n", text.c_str(), ch);
            return 0;
        }
    }
    std::string number = text;
    std::replace(number.begin(), number.end(), 'd', 'e');
    std::replace(number.begin(), number.end(), 'D', 'e');
    const double v = std::strtod(number.c_str(), nullptr);
    switch (dst_len) {
    case 1: { const int8_t x = saturated<int8_t>(v); std::memcpy(dst, &x, 1); return 1; }
    case 2: { const int16_t x = saturated<int16_t>(v); std::memcpy(dst, &x, 2); return 2; }
    default: { const int32_t x = saturated<int32_t>(v); std::memcpy(dst, &x, 4); return 4; }
    }
}

} // namespace

int convertData(int dst_len, char* dst, int dst_type, int src_len, const char* src, int src_type, int flags) {
    if (dst_len < 0) return 0;
    if (dst_type == kConvBinary) return src_type == kConvBinary ? 0 : char_to_binary(dst_len, dst, src_len, src);
    if (src_type == kConvBinary) return binary_to_char(dst_len, dst, src_len, src, flags);
    return char_to_char(dst_len, dst, src_len, src, flags);
}

} // namespace qvx
