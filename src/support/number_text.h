// Numbers as row texts carry them: decimal text with '.' as the point,
// read and printed the same whatever locale the collector runs under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

struct NumberPrefix {
    double value = 0;  // 0 when there is no number (or it is out of a double's range)
    size_t used = 0;   // characters read, leading blanks included; 0 when no number
};

// Leading blanks, then a number: an optional sign, digits with at most one
// point (or a point and digits), an optional exponent; what follows is
// not read.
NumberPrefix read_number(std::string_view text);

// The value of read_number: 0 for text that holds no number.
inline double number_or_zero(std::string_view text) { return read_number(text).value; }

// The value without its fraction (towards zero), held at the limits of a
// 64-bit integer; 0 for NaN. Converts any double without undefined
// behaviour, which a plain cast does not.
int64_t integer_part(double value);

// The value as "%f" prints it (six decimals, rounded), cut after keep
// decimals without further rounding (keep 0 drops the point too; keep < 0
// or above 6 keeps all six). Writes at most cap - 1 characters and a zero
// byte; returns the length.
size_t fixed_chars(double value, int keep, char* buf, size_t cap);
std::string fixed_text(double value, int keep = 6);

} // namespace qvx
