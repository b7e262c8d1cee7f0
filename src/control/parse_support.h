// Small pieces shared by the control-file parsers: number words, HHMM
// times, the dash lines of the parse banners and the message tables of the
// window keywords.
#pragma once

#include <climits>
#include <string>
#include <string_view>

#include "runtime/messages.h"

// Text of the messages for a keyword given twice in one block.
#define DUP_TEXT(keyword) "Duplicate " keyword " specifi" "cation\n"

namespace qvx {

inline bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Value of a run of digits (callers check all_digits); stops growing at
// INT_MAX so that no length of word can overflow it.
inline long digits_value(std::string_view s) {
    long v = 0;
    for (char c : s) {
        v = v * 10 + (c - '0');
        if (v > INT_MAX) return INT_MAX;
    }
    return v;
}

// Seconds after midnight of an HHMM word (up to 2400), -1 when it is no
// time of day.
inline long hhmm_seconds(std::string_view s) {
    if (s.size() != 4 || !all_digits(s)) return -1;
    const long hh = digits_value(s.substr(0, 2));
    const long mm = digits_value(s.substr(2, 2));
    if (mm > 59 || hh * 3600 + mm * 60 > 86400) return -1;
    return hh * 3600 + mm * 60;
}

// A banner line of count dashes.
inline void dashes(const char* id, size_t count) { PRINT('i', id, "%s\n", std::string(count, '-').c_str()); }

// Messages of one window keyword (start or end of a day kind).
struct WindowWord {
    const char* name;  // as written in the messages
    const char* length_id;
    const char* length_text;
    const char* dup_id;
    const char* dup_text;
};

} // namespace qvx
