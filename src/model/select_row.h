// The select-row descriptor: the select list of a prepared statement and
// the values of the current row, as the row store reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvx {

// Database external type codes of the select items.
enum DbTypeCode : int16_t {
    kDbChar = 1,
    kDbNumber = 2,
    kDbLong = 8,
    kDbRowid = 11,
    kDbDate = 12,
    kDbRaw = 23,
    kDbLongRaw = 24,
    kDbCharFixed = 96,
};

// Where the values of a row being built come from: a database fetch, or
// the parsed output of a fetch exit laid out as a select list. The row
// building is the same; some messages name the source.
enum class RowOrigin { sql, fetch_exit };

// At most this many select items per statement.
constexpr size_t kMaxSelectItems = 60;

struct SelectItem {
    std::string name;        // at most 30 characters
    int16_t type = 0;        // external type code as described
    int32_t size_chars = 0;  // size in characters
    int32_t size_bytes = 0;  // size in bytes
    int16_t nls_flag = 0;    // 1 non-Unicode, 2 Unicode, other: not character
    int16_t precision = 0;
    int16_t scale = 0;
    int32_t buf_len = 0;     // fetch buffer length (sizing table)
    int32_t fetch_len = -1;  // a set_len clause's fetch length; -1: the sizing table's
    int16_t orig_type = 0;   // type recorded for the row store
    bool text_is_utf8 = false;  // the backend delivers character data as UTF-8
};

// The select list of a prepared statement and the current row: item i's
// value is value_len[i] bytes at buffer[offset[i]] (numbers already right-
// justified to buf_len); indicator[i] < 0 means null.
struct SelectDescriptor {
    std::vector<SelectItem> items;
    std::vector<char> buffer;
    std::vector<int32_t> offset;
    std::vector<int32_t> value_len;
    std::vector<int16_t> indicator;

    const char* value(size_t i) const { return buffer.data() + offset[i]; }
};

} // namespace qvx
