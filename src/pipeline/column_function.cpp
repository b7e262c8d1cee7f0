// Column functions over a cursor's stored rows, and the column-function
// row a read-out answers with.
//
// Values are the row texts as stored: numbers right-aligned decimal text,
// a null value starting with "NULL ". A numeric result is printed as "%f"
// prints it, cut to the decimals the values carried (AVG, SUM, WAVG) and
// placed right-aligned in the column.
#include "pipeline/column_function.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pipeline/cursor_run.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr int32_t kWidestNumeric = 255;
// A water mark column read out before any value set its mark.
constexpr char kNoMark[] = "????????";

size_t width_of(const columns& col) { return static_cast<size_t>(std::max(col.length, 0)); }

// The column's bytes in a row; null when the row is too short for them
// (stored under an older layout).
const char* value_in(const row_data& r, const columns& col) {
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    return at + width_of(col) <= r.size ? r.text() + at : nullptr;
}

// "NULL " at the start; a column narrower than that holds as much of
// "NULL" as fits.
bool is_null(const char* v, size_t len) {
    if (len >= 5) return std::memcmp(v, "NULL ", 5) == 0;
    return std::memcmp(v, "NULL", len) == 0;
}

// Calls f(row, value) for each row the function considers (the current
// sample only with a samples limit) whose value is present, oldest first.
template <class F>
void for_each_value(const curs& c, const columns& col, F f) {
    const size_t len = width_of(col);
    const bool current_only = c.sample_limit > 0;
    for (row_data* r = c.rows.first(); r; r = r->next) {
        if (current_only && r->sample_no != c.sample_no) continue;
        const char* v = value_in(*r, col);
        if (!v || is_null(v, len)) continue;
        f(*r, v);
    }
}

// The mark of a water mark column, or the question marks (then blanks)
// while there is none.
void put_mark(const columns& col, char* dest) {
    const size_t len = width_of(col);
    std::memset(dest, ' ', len);
    if (col.water_mark) {
        std::memcpy(dest, col.water_mark->data(), std::min(len, col.water_mark->size()));
    } else {
        std::memcpy(dest, kNoMark, std::min(len, sizeof kNoMark - 1));
    }
}

bool is_water(ColumnFunction f) { return f == ColumnFunction::high_water || f == ColumnFunction::low_water; }

const char* function_name(ColumnFunction f) {
    static constexpr const char* kNames[] = {"NONE", "MIN", "MAX", "AVG", "WAVG", "TREND",
                                             "SUM", "HW",  "LW",  "COUNT"};
    const auto i = static_cast<size_t>(f);
    return i < std::size(kNames) ? kNames[i] : "?";
}

// What one pass over the values gathers.
struct Walk {
    long n = 0;                  // values counted
    double best = 0;             // MIN / MAX so far
    row_data* best_row = nullptr;
    double sum = 0;
    double acc = 0;              // values weighed by their count
    int decimals = 0;            // most digits after the '.' in a value
};

// Digits following the '.' of a value text.
int decimals_of(const char* v, size_t len) {
    const char* dot = static_cast<const char*>(std::memchr(v, '.', len));
    if (!dot) return 0;
    int d = 0;
    for (const char* p = dot + 1; p < v + len && *p >= '0' && *p <= '9'; ++p) ++d;
    return d;
}

// Plain decimal text ([+-]digits[.digits]) whose digits fit 2^53 with at
// most 22 decimals: the digits over a power of ten, both exact, so the
// one rounding of the division gives what strtod gives. False for any
// other text (exponents, hexadecimal, inf, long values).
bool plain_decimal(const char* p, const char* end, double& out) {
    static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64_t kExact = uint64_t{1} << 53;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    uint64_t digits = 0;
    int seen = 0, decimals = 0;
    bool in_fraction = false;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<uint64_t>(*p - '0');
            if (digits > kExact) return false;
            ++seen;
            decimals += in_fraction;
        } else if (*p == '.' && !in_fraction) {
            in_fraction = true;
        } else {
            break;
        }
    }
    if (seen == 0 || decimals >= static_cast<int>(std::size(kTens))) return false;
    if (p < end && (*p == 'e' || *p == 'E' || *p == 'x' || *p == 'X')) return false;
    const double v = static_cast<double>(digits) / kTens[decimals];
    out = negative ? -v : v;
    return true;
}

// The value read as a double, leading blanks skipped.
double number_of(const char* v, size_t len) {
    const char* p = v;
    const char* end = v + len;
    while (p < end && *p == ' ') ++p;
    if (double fast = 0; plain_decimal(p, end, fast)) return fast;
    char buf[kWidestNumeric + 1];
    const size_t n = static_cast<size_t>(end - p);
    std::memcpy(buf, p, n);
    buf[n] = '\0';
    return std::strtod(buf, nullptr);
}

Walk walk_numbers(curs& c, const columns& col) {
    Walk w;
    const size_t len = width_of(col);
    const ColumnFunction f = col.col_funct;
    for_each_value(c, col, [&](row_data& r, const char* v) {
        const double x = number_of(v, len);
        ++w.n;
        switch (f) {
            case ColumnFunction::min:
            case ColumnFunction::max:
                // Ties keep the earlier row.
                if (w.n == 1 || (f == ColumnFunction::min ? x < w.best : x > w.best)) {
                    w.best = x;
                    w.best_row = &r;
                }
                break;
            case ColumnFunction::wavg: w.acc += x * static_cast<double>(w.n); break;
            case ColumnFunction::trend:
                w.sum += x;
                w.acc += x * static_cast<double>(w.n);
                break;
            default: w.sum += x; break;  // AVG, SUM
        }
        if (f == ColumnFunction::avg || f == ColumnFunction::sum || f == ColumnFunction::wavg)
            w.decimals = std::max(w.decimals, decimals_of(v, len));
    });
    return w;
}

// The count of rows of the current sample: the newest row's number when
// it belongs to it.
double current_count(const curs& c) {
    const row_data* last = c.rows.last();
    return last && last->sample_no == c.sample_no ? static_cast<double>(last->row_no) : 0.0;
}

double result_of(ColumnFunction f, const Walk& w) {
    if (w.n == 0) return 0.0;
    const double n = static_cast<double>(w.n);
    const double weights = n * (n + 1) / 2;
    switch (f) {
        case ColumnFunction::avg: return w.sum / n;
        case ColumnFunction::wavg: return w.acc / weights;
        case ColumnFunction::trend: return (w.acc / weights) / (w.sum / n);
        default: return w.sum;  // SUM
    }
}

// "%f" of the value; with keep >= 0 cut after keep decimals (no further
// rounding), the '.' going too when keep is 0.
std::string printed(double value, int keep) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%f", value);
    std::string text(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    if (keep < 0) return text;
    const size_t dot = text.find('.');
    if (dot == std::string::npos) return text;
    if (keep == 0) return text.substr(0, dot);
    return text.substr(0, std::min(text.size(), dot + 1 + static_cast<size_t>(keep)));
}

// Right-aligned in the (blank) field; a text longer than the field keeps
// its leftmost part.
void place_right(char* dest, size_t len, const std::string& text) {
    if (text.size() >= len)
        std::memcpy(dest, text.data(), len);
    else
        std::memcpy(dest + (len - text.size()), text.data(), text.size());
}

void copy_columns_from(curs& c, const row_data* from, bool functions_too, char* text) {
    if (!from) return;
    for (const columns& col : c.cols) {
        if (col.col_funct != ColumnFunction::none && !functions_too) continue;
        if (const char* v = value_in(*from, col)) std::memcpy(text + col.buf_offset, v, width_of(col));
    }
}

// The column-function row, of the cursor's current row length: made on
// first use, made again when the row layout changed. Null when memory ran
// out.
row_data* function_row(curs& c) {
    const size_t len = static_cast<size_t>(std::max(c.length, 0));
    if (c.column_data && c.column_data->size == len) return c.column_data.get();
    row_data* row = row_data::create(len);
    if (!row) return nullptr;
    std::memset(row->text(), 0, len);
    row->sample_no = c.sample_no;
    row->row_no = 1;
    c.column_data.reset(row);
    c.rows_changed = 1;
    c.history_pending = 1;
    return row;
}

// Fills the column-function row from the stored rows; false when a
// function failed.
bool rebuild(curs& c, row_data& out) {
    char* text = out.text();
    std::memset(text, ' ', out.size);
    for (const columns& col : c.cols) {
        const size_t end = static_cast<size_t>(std::max(col.buf_offset, 0)) + width_of(col);
        if (end < out.size) text[end] = '\0';  // each column is followed by a zero byte
    }
    // A row picked by an earlier rebuild may have been trimmed since: only
    // a row picked now is the source of the other columns; without one
    // they come from the newest row.
    c.chosen_row = nullptr;
    copy_columns_from(c, c.rows.last(), false, text);
    for (columns& col : c.cols) {
        if (col.col_funct == ColumnFunction::none) continue;
        if (static_cast<size_t>(std::max(col.buf_offset, 0)) + width_of(col) > out.size) continue;
        if (col_function(c, col, text + col.buf_offset) != 0) return false;
    }
    if (c.has_minmax && c.chosen_row) copy_columns_from(c, c.chosen_row, false, text);
    out.sample_no = c.sample_no;
    return true;
}

} // namespace

row_data* do_column_func(curs& c) {
    if (!c.has_col_funct) return nullptr;
    if (!c.column_data || c.column_data->size != static_cast<uint32_t>(std::max(c.length, 0))) {
        if (!c.column_data && c.rows.empty() && get_cursor_data(c) != 0) return nullptr;
        if (!function_row(c)) return nullptr;
    }
    row_data* out = c.column_data.get();
    if (!c.rows_changed) return out;
    c.rows_changed = 0;
    if (!rebuild(c, *out)) {
        c.rows_changed = 1;  // tried again by the next read-out
        return nullptr;
    }
    return out;
}

int col_function(curs& c, columns& col, char* dest) {
    const ColumnFunction f = col.col_funct;
    if (col.orig_type != kNumberType && f != ColumnFunction::count) return col_funct_char(c, col, dest);
    const size_t len = width_of(col);
    if (is_water(f)) {
        put_mark(col, dest);
        return 0;
    }
    std::memset(dest, ' ', len);
    if (col.length > kWidestNumeric) {
        PRINT('e', "ccf1660", "Column %s of cursor %s is too wide (%d) for %s!\n", col.name.c_str(),
              c.cur_name.c_str(), col.length, function_name(f));
        return 1;
    }
    if (f == ColumnFunction::count) {
        place_right(dest, len, printed(current_count(c), -1));
        return 0;
    }
    const Walk w = walk_numbers(c, col);
    if (f == ColumnFunction::min || f == ColumnFunction::max) {
        if (w.best_row) {
            c.chosen_row = w.best_row;
            std::memcpy(dest, value_in(*w.best_row, col), len);
        } else {
            place_right(dest, len, printed(0.0, -1));
        }
        return 0;
    }
    place_right(dest, len, printed(result_of(f, w), f == ColumnFunction::trend ? -1 : w.decimals));
    return 0;
}

int col_funct_char(curs& c, columns& col, char* dest) {
    const ColumnFunction f = col.col_funct;
    if (f == ColumnFunction::count) return col_function(c, col, dest);  // counts rows, not values
    const size_t len = width_of(col);
    if (is_water(f)) {
        put_mark(col, dest);
        return 0;
    }
    if (f != ColumnFunction::min && f != ColumnFunction::max) {
        PRINT('e', "ccf1665", "%s! of column %s of cursor %s needs a Number column\n", function_name(f),
              col.name.c_str(), c.cur_name.c_str());
        return 1;
    }
    const char* best = nullptr;
    row_data* best_row = nullptr;
    for_each_value(c, col, [&](row_data& r, const char* v) {
        const int cmp = best ? std::memcmp(v, best, len) : 0;
        if (!best || (f == ColumnFunction::min ? cmp < 0 : cmp > 0)) {
            best = v;
            best_row = &r;
        }
    });
    if (!best_row) {
        std::memset(dest, ' ', len);
        return 0;
    }
    c.chosen_row = best_row;
    std::memcpy(dest, best, len);
    return 0;
}

} // namespace qvx
