// The column-exit routines and the driver that runs a column's chain.
//
// A field is the column's length bytes in the row being built. A fetched
// text shorter than its column is followed by zero bytes, so a zero byte
// counts as a blank wherever a routine looks for the text in a field; what
// a routine writes is padded with blanks.
//
// The time routines measure ages against the run's time stamp, the
// "%now_time" percent variable the row building sets from the run's time
// text; without the percent cursor the clock's local time stands in.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "pipeline/bases.h"
#include "pipeline/column_exit.h"
#include "pipeline/percent_cursor.h"
#include "runtime/clock.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr int32_t kTimeField = 16;  // MINUTES, MINUTES2 and TIMESTAMP work on 16 bytes

bool is_blank(char ch) { return ch == ' ' || ch == '\0'; }

// The text of a field without its leading and trailing blanks; empty when
// it is all blank.
std::string_view trimmed(const char* field, size_t n) {
    size_t a = 0;
    while (a < n && is_blank(field[a])) ++a;
    size_t e = n;
    while (e > a && is_blank(field[e - 1])) --e;
    return {field + a, e - a};
}

// Writes text (which may lie in the field) into a blank field of n bytes,
// at its right end or its left; what does not fit is cut at the end.
void place(char* field, size_t n, std::string_view text, bool right) {
    const size_t len = std::min(text.size(), n);
    if (right) {
        std::memmove(field + n - len, text.data(), len);
        std::memset(field, ' ', n - len);
    } else {
        std::memmove(field, text.data(), len);
        std::memset(field + len, ' ', n - len);
    }
}

char* field_of(char* row_text, const columns& col) { return row_text + col.buf_offset; }
size_t width_of(const columns& col) { return static_cast<size_t>(std::max(col.length, 0)); }

int l_justify(curs& c, columns& col, char* text, const ColumnExit&) {
    if (c.show_cursor)
        PRINT('t', "ccc4065", "Left justify call for %s in cursor %s\n", col.name.c_str(), c.cur_name.c_str());
    char* f = field_of(text, col);
    const size_t n = width_of(col);
    if (n == 0 || !is_blank(f[0])) return 0;
    const std::string_view value = trimmed(f, n);
    if (!value.empty()) place(f, n, value, false);
    return 0;
}

int r_justify(curs& c, columns& col, char* text, const ColumnExit&) {
    if (c.show_cursor)
        PRINT('t', "ccc4075", "Right justify call for %s in cursor %s\n", col.name.c_str(), c.cur_name.c_str());
    char* f = field_of(text, col);
    const size_t n = width_of(col);
    size_t e = n;
    while (e > 0 && is_blank(f[e - 1])) --e;
    if (e == 0 || e == n) return 0;
    place(f, n, std::string_view(f, e), true);
    return 0;
}

int substr(curs& c, columns& col, char* text, const ColumnExit& exit) {
    const int32_t n = col.length;
    if (exit.start > n) {
        PRINT('e', "ccc4056", "Substring starting position exceeds length of %s in cursor %s\n", col.name.c_str(),
              c.cur_name.c_str());
        return 1;
    }
    int32_t len = exit.sub_len;
    if (exit.start + len > n) {
        PRINT('w', "ccc4060", "Substring starting plus len exceeds length of %s in cursor %s\n", col.name.c_str(),
              c.cur_name.c_str());
        len = n - exit.start;
    }
    char* f = field_of(text, col);
    place(f, static_cast<size_t>(n), std::string_view(f + exit.start - 1, static_cast<size_t>(std::max(len, 0))),
          false);
    return 0;
}

// CONCAT's second value: the column's text in this row, or in the row of
// its cursor the row being built reads; false when that cursor has none.
bool second_value(const curs& c, const char* text, const ColumnExit& exit, std::string& out) {
    const curs& other = *exit.concat.cursor;
    const columns& src = other.cols[static_cast<size_t>(exit.concat.column)];
    const size_t len = width_of(src);
    if (&other == &c) {
        out.assign(text + src.buf_offset, len);
        return true;
    }
    const row_data* row = locate_base_row(other, c);
    if (!row) return false;
    const size_t at = static_cast<size_t>(std::max(src.buf_offset, 0));
    out.assign(row->text() + std::min<size_t>(at, row->size), at < row->size ? std::min(len, row->size - at) : 0);
    return true;
}

int concat(curs& c, columns& col, char* text, const ColumnExit& exit) {
    if (!exit.concat) return 1;  // not bound
    std::string second;
    if (!second_value(c, text, exit, second)) {
        PRINT('e', "ccf4580", "In concat, second column (%s) is in cursor(%s) with no rows\n",
              exit.concat_name.c_str(), exit.concat.cursor->cur_name.c_str());
        return 1;
    }
    const std::string_view tail = trimmed(second.data(), second.size());
    if (tail.empty()) return 0;
    char* f = field_of(text, col);
    const size_t n = width_of(col);
    std::string joined(trimmed(f, n));
    joined += tail;
    place(f, n, joined, col.orig_type == kNumberType);
    return 0;
}

// Digits of text[at, at + n) as a number; -1 when one is no digit.
int digits_at(const char* text, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// Clock seconds of a local time; -1 when a part is missing.
long local_seconds(int year, int month, int day, int hour, int minute, int second) {
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return -1;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<long>(std::mktime(&t));
}

// Clock seconds of a 14-digit local time text (YYYYMMDDhhmmss).
long seconds_of_time_text(const char* t) {
    return local_seconds(digits_at(t, 0, 4), digits_at(t, 4, 2), digits_at(t, 6, 2), digits_at(t, 8, 2),
                         digits_at(t, 10, 2), digits_at(t, 12, 2));
}

// Clock seconds of the run's time stamp.
long run_time_seconds() {
    if (const columns* now = find_pcnt_col("%now_time"); now && percent_cursor->rows.first()) {
        const long s = seconds_of_time_text(percent_cursor->rows.first()->text() + now->buf_offset);
        if (s >= 0) return s;
    }
    return seconds_of_time_text(get_time().c_str());
}

// Writes the minutes from then to the run's time stamp, rounded, right-
// aligned into the 16-byte field; the column becomes a number.
void put_minutes(columns& col, char* f, long then) {
    const long age = std::max(run_time_seconds() - then, 0L);
    put_decimal(f, kTimeField, (age + 30) / 60);
    col.orig_type = kNumberType;
}

// The call trace of a time routine ("Minutes", "Minutes2", "Timestamp")
// when traced, and its length rule: false (reported) when the field is
// not 16 bytes.
bool time_routine_starts(const columns& col, const curs& c, bool traced, const char* what, const char* call_id,
                         const char* length_id) {
    if (traced) PRINT('t', call_id, "%s call for %s in cursor %s\n", what, col.name.c_str(), c.cur_name.c_str());
    if (col.length == kTimeField) return true;
    PRINT('e', length_id, "%s calculation for column %% when length != 16\n", what);
    return false;
}

int minutes(curs& c, columns& col, char* text, const ColumnExit&) {
    if (!time_routine_starts(col, c, c.show_cursor, "Minutes", "ccc4045", "ccc4046")) return 1;
    // MM/DD/YYYY HH:MI, the separators ignored
    char* f = field_of(text, col);
    const long then = local_seconds(digits_at(f, 6, 4), digits_at(f, 0, 2), digits_at(f, 3, 2), digits_at(f, 11, 2),
                                    digits_at(f, 14, 2), 0);
    if (then < 0) return 1;
    put_minutes(col, f, then);
    return 0;
}

// The 16-character local time stamp of the 32-bit clock count at the start
// of the field (YYYYMMDDhhmmss00); a two-digit year below 81 is 20YY.
std::string time_stamp_of(const char* f, int32_t& count) {
    std::memcpy(&count, f, sizeof count);
    const std::time_t t = count;
    std::tm local{};
    localtime_r(&t, &local);
    int year = local.tm_year;
    if (year < 1900) year = year < 81 ? 2000 + year : 1900 + year;
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d00", year, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return std::string(stamp, kTimeField);
}

int timestamp(curs& c, columns& col, char* text, const ColumnExit&) {
    if (!time_routine_starts(col, c, c.show_cursor || c.traced, "Timestamp", "ccc4052", "ccc4053")) return 1;
    char* f = field_of(text, col);
    int32_t count = 0;
    const std::string stamp = time_stamp_of(f, count);
    if (c.traced) PRINT('t', "ccc4049", "UNIX time() value: %ld\n", static_cast<long>(count));
    std::memcpy(f, stamp.data(), kTimeField);
    col.orig_type = kNumberType;
    if (c.traced) PRINT('t', "ccc4055", "Converted Timestamp value = %s\n", stamp.c_str());
    return 0;
}

int minutes2(curs& c, columns& col, char* text, const ColumnExit&) {
    if (!time_routine_starts(col, c, c.show_cursor || c.traced, "Minutes2", "ccc4047", "ccc4048")) return 1;
    char* f = field_of(text, col);
    int32_t count = 0;
    const std::string stamp = time_stamp_of(f, count);
    if (c.traced) {
        PRINT('t', "ccc4049", "UNIX time() value: %d\n", static_cast<int>(count));
        PRINT('t', "ccc4050", "Converted Timestamp value = %s\n", stamp.c_str());
    }
    put_minutes(col, f, seconds_of_time_text(stamp.c_str()));
    if (c.traced) PRINT('t', "ccc4051", "Converted Minutes value = %.16s\n", f);
    return 0;
}

constexpr std::array kRoutines{
    ExitRoutineEntry{ExitRoutine::r_justify, r_justify}, ExitRoutineEntry{ExitRoutine::l_justify, l_justify},
    ExitRoutineEntry{ExitRoutine::minutes, minutes},     ExitRoutineEntry{ExitRoutine::substr, substr},
    ExitRoutineEntry{ExitRoutine::concat, concat},       ExitRoutineEntry{ExitRoutine::minutes2, minutes2},
    ExitRoutineEntry{ExitRoutine::timestamp, timestamp},
};

constexpr bool routines_in_order() {
    for (size_t i = 0; i < kRoutines.size(); ++i)
        if (static_cast<size_t>(kRoutines[i].routine) != i) return false;
    return true;
}
static_assert(routines_in_order(), "kRoutines is indexed by ExitRoutine");

} // namespace

std::span<const ExitRoutineEntry> exit_routines() { return kRoutines; }

int column_exit_driver(curs& c, columns& col, char* row_text, const ColumnExitChain& chain) {
    for (const ColumnExit& exit : chain.exits)
        if (const int rc = kRoutines[static_cast<size_t>(exit.routine)].run(c, col, row_text, exit); rc != 0)
            return rc;
    return 0;
}

void column_exit_row(curs& c, row_data& row) {
    if (!c.column_exit) return;
    const ColumnExitClauses& list = *c.column_exit;
    for (size_t k : list.in_column_order) {
        const ColumnExitChain& chain = list.chains[k];
        if (chain.column >= 0 && static_cast<size_t>(chain.column) < c.cols.size())
            column_exit_driver(c, c.cols[static_cast<size_t>(chain.column)], row.text(), chain);
    }
}

} // namespace qvx
