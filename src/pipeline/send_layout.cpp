// Conversion of row text into the send layout.
#include "pipeline/send_layout.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/messages.h"
#include "runtime/trace.h"
#include "support/date_normalize.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr size_t kMaxNumberText = 2048;  // characters considered by a conversion
constexpr int32_t kTimestampWidth = 16;

int32_t align(int32_t offset, int32_t to) { return (offset + to - 1) / to * to; }

int32_t text_width(const columns& col) { return col.set_length ? col.set_length : col.length; }

// A column's bytes in a stored row; a row stored under an older, shorter
// layout gives fewer bytes.
struct Value {
    const char* p;
    size_t n;
};

Value column_value(const columns& col, const row_data& row) {
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    if (at >= row.size) return {"", 0};
    return {row.text() + at, std::min(static_cast<size_t>(std::max(col.length, 0)), row.size - at)};
}

// Leading blanks skipped, then a decimal integer up to the first non-digit.
int32_t to_integer(Value v) {
    const size_t n = std::min(v.n, kMaxNumberText);
    size_t i = 0;
    while (i < n && v.p[i] == ' ') ++i;
    bool negative = false;
    if (i < n && (v.p[i] == '-' || v.p[i] == '+')) negative = v.p[i++] == '-';
    int64_t x = 0;
    for (; i < n && v.p[i] >= '0' && v.p[i] <= '9'; ++i) x = std::min<int64_t>(x * 10 + (v.p[i] - '0'), INT64_C(1) << 32);
    if (negative) x = -x;
    return static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
}

// Leading blanks skipped, then a decimal floating-point number.
double to_double(Value v) {
    char text[kMaxNumberText + 1];
    const size_t n = std::min(v.n, kMaxNumberText);
    std::memcpy(text, v.p, n);
    text[n] = '\0';
    size_t i = 0;
    while (i < n && text[i] == ' ') ++i;
    return i < n ? std::strtod(text + i, nullptr) : 0.0;
}

void put_text(const columns& col, char* field, Value v) {
    const size_t width = static_cast<size_t>(text_width(col));
    const bool right_aligned = col.orig_type == kNumberType && v.n > 0 && v.p[0] == ' ';
    if (col.set_length == 0) {
        std::memcpy(field, v.p, std::min(v.n, width));
    } else if (width >= static_cast<size_t>(col.length)) {
        std::memset(field, ' ', width);
        const size_t at = right_aligned ? width - std::min(width, static_cast<size_t>(col.length)) : 0;
        std::memcpy(field + at, v.p, std::min(v.n, width - at));
    } else if (right_aligned) {
        const size_t skip = static_cast<size_t>(col.length) - width;
        if (skip < v.n) std::memcpy(field, v.p + skip, std::min(width, v.n - skip));
    } else {
        std::memcpy(field, v.p, std::min(v.n, width));
    }
}

void put_timestamp(const curs& c, const columns& col, char* field, Value v) {
    char stamp[kTimestampWidth];
    std::memset(stamp, '0', sizeof stamp);
    // The normaliser reads a zero-terminated text when given no length.
    us_normalizeDateTime(v.n ? v.p : "", static_cast<int>(v.n), stamp);
    std::memcpy(field, stamp, static_cast<size_t>(std::min(text_width(col), kTimestampWidth)));
    if ((c.trace && c.show_row) || trace_all)
        PRINT('t', "dmk3735", "TS! Timestamp = %.*s , converted to = %.*s\n", static_cast<int>(v.n), v.p,
              kTimestampWidth, stamp);
}

void trace_column(const columns& col, Value v) {
    const char* what = "UnConverted text";
    int32_t width = text_width(col);
    switch (col.send_type) {
        case SendType::integer: what = "Converted to integer"; width = 4; break;
        case SendType::floating: what = "Converted to float"; width = 8; break;
        case SendType::none: what = "Will not be sent"; width = 0; break;
        case SendType::timestamp: what = "Converted TIMESTAMP"; break;
        default: break;
    }
    if (col.length >= static_cast<int32_t>(kMaxNumberText))
        PRINT('t', "dmk3730", "#%d = %s(%d,%d) %s : %s\n", col.ordinal, col.name.c_str(), col.row_offset, width,
              what, "?????????");
    else
        PRINT('t', "dmk3730", "#%d = %s(%d,%d) %s : %.*s\n", col.ordinal, col.name.c_str(), col.row_offset,
              width, what, static_cast<int>(v.n), v.p);
}

} // namespace

SendType send_type_of(ColumnType decl_type) {
    switch (decl_type) {
        case ColumnType::integer: return SendType::integer;
        case ColumnType::floating: return SendType::floating;
        case ColumnType::timestamp: return SendType::timestamp;
        case ColumnType::no_send: return SendType::none;
        default: return SendType::text;
    }
}

int32_t get_row_size(curs& c) {
    int32_t offset = 0;
    for (columns& col : c.cols) {
        switch (col.send_type) {
            case SendType::integer:
                col.row_offset = offset = align(offset, 4);
                offset += 4;
                break;
            case SendType::floating:
                col.row_offset = offset = align(offset, 8);
                offset += 8;
                break;
            case SendType::none:
                col.row_offset = 0;
                break;
            default:
                col.row_offset = offset;
                offset += std::max(text_width(col), 0);
                break;
        }
    }
    c.row_size = offset;
    return offset;
}

void make_row(curs& c, char* dest, const row_data& row) {
    if (c.row_size == 0) get_row_size(c);
    if (c.row_size > 0) std::memset(dest, 0, static_cast<size_t>(c.row_size));
    const bool show = c.show_row != 0;
    if (show) PRINT('t', "dmk3725", "Formatted row data for %s\n", c.cur_name.c_str());
    for (const columns& col : c.cols) {
        const Value v = column_value(col, row);
        char* field = dest + col.row_offset;
        switch (col.send_type) {
            case SendType::integer: {
                const int32_t x = to_integer(v);
                std::memcpy(field, &x, sizeof x);
                break;
            }
            case SendType::floating: {
                const double x = to_double(v);
                std::memcpy(field, &x, sizeof x);
                break;
            }
            case SendType::timestamp: put_timestamp(c, col, field, v); break;
            case SendType::none: break;
            default: put_text(col, field, v); break;
        }
        if (show) trace_column(col, v);
    }
    if (show) c.show_row = 0;
}

} // namespace qvx
