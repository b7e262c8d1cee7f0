// Date texts from the database or from exits into the 16-character timestamp
// form. Two families of input: digit strings already laid out like a
// timestamp (possibly with a four-digit year), and separated dates
// (d-m-y, m/d/y, y/m/d) with an optional time.
#include "support/date_normalize.h"

#include "runtime/messages.h"
#include "runtime/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace qvx {

namespace {

constexpr size_t max_input = 99;
constexpr size_t stamp_len = 16;

// Error codes, named after the step that finds them.
enum DateError : int {
    err_empty = 499,
    err_ymd_no_month = 522, err_ymd_sep = 523, err_ymd_no_day = 525,
    err_mdy_no_day = 531, err_mdy_sep = 532, err_mdy_no_year = 534,
    err_dmy_no_month = 542, err_dmy_sep = 543, err_dmy_no_year = 545,
    err_date_sep = 550,
    err_no_minute = 558, err_minute_sep = 559, err_no_second = 561,
    err_hhmmss = 569, err_time_sep = 583,
    err_month = 587, err_day = 588, err_hour = 589, err_minute = 590, err_second = 591,
    err_year = 599,
    err_digits_0 = 642, err_digits_2 = 657, err_digits_1 = 680, err_digits_7 = 689,
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_trimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'';
}

// The error form: "DateFmtErr=" and the code, left-aligned in the 16
// characters and padded with blanks.
int fail(int code, char* out) {
    char field[stamp_len + 1];
    std::snprintf(field, sizeof field, "%-16s", ("DateFmtErr=" + std::to_string(code)).c_str());
    std::memcpy(out, field, stamp_len);
    return code;
}

// ---- digit strings --------------------------------------------------------

// Month test of the digit form at 1-based positions pos and pos+1: a first
// digit 0, or a first digit 1 followed by 0, 1 or 2.
bool month_at(std::string_view s, size_t pos) {
    if (pos > s.size()) return false;
    const char first = s[pos - 1];
    if (first == '0') return true;
    const char second = pos < s.size() ? s[pos] : '\0';
    return first == '1' && second >= '0' && second <= '2';
}

int from_digits(std::string_view s, char* out) {
    std::string stamp;
    auto second_is = [&](char lo, char hi) { return s.size() > 1 && s[1] >= lo && s[1] <= hi; };
    switch (s[0]) {
    case '0':
        if (!(second_is('9', '9') && month_at(s, 4))) return fail(err_digits_0, out);
        stamp = s;
        break;
    case '2':
        if (second_is('0', '0') && month_at(s, 5)) {
            stamp = "1" + std::string(s.substr(2));
        } else if (second_is('0', '0') && month_at(s, 3)) {
            stamp = "1" + std::string(s);
        } else {
            return fail(err_digits_2, out);
        }
        break;
    case '1':
        if (second_is('0', '6') && month_at(s, 4)) {
            stamp = s;
        } else if (second_is('9', '9') && month_at(s, 5)) {
            stamp = "0" + std::string(s.substr(2));
        } else if (second_is('9', '9') && month_at(s, 4)) {
            stamp = s;
        } else {
            return fail(err_digits_1, out);
        }
        break;
    case '7': case '8': case '9':
        if (!month_at(s, 3)) return fail(err_digits_7, out);
        stamp = "0" + std::string(s);
        break;
    default:
        return fail(err_digits_7, out);
    }
    stamp.resize(stamp_len, '0');
    std::memcpy(out, stamp.data(), stamp_len);
    return 0;
}

// ---- separated dates ------------------------------------------------------

// One number of a separated date or time: the digits after optional
// blanks, and the character after optional blanks that follows them.
// A separator is consumed; a digit after blanks is left for the next
// number, as is the end of the text.
struct Number {
    std::string digits;
    char end = '\0';  // '\0' at the end of the text
    bool missing() const { return digits.empty(); }
    int value(size_t max_digits = std::string::npos) const {
        long v = 0;
        for (size_t i = 0; i < digits.size() && i < max_digits; ++i) {
            v = v * 10 + (digits[i] - '0');
            if (v > 1000000) return 1000000;  // far beyond every limit checked
        }
        return static_cast<int>(v);
    }
};

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    // keep_end: a non-digit after the number is left in place (the end of
    // the date, where a time may follow).
    Number next(bool keep_end = false) {
        Number n;
        skip_blanks();
        while (pos_ < text_.size() && is_digit(text_[pos_])) n.digits += text_[pos_++];
        const size_t after_digits = pos_;
        skip_blanks();
        if (pos_ >= text_.size()) {
            n.end = '\0';
        } else if (is_digit(text_[pos_])) {
            n.end = text_[after_digits];  // the blank that ended the number
        } else {
            n.end = text_[pos_];
            if (!keep_end) ++pos_;
        }
        trace(n);
        return n;
    }

    void skip_blanks() {
        while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
    }
    bool at_end() const { return pos_ >= text_.size(); }

private:
    void trace(const Number& n) {
        if (!debug_on(9)) return;
        const char shown = n.end ? n.end : '.';
        if (count_++ == 0) {
            PRINT('t', "udt8082", "tcpin:%s %c\n", n.digits.c_str(), shown);
        } else {
            PRINT('t', "udt8081", "tcpin:%s %c.\n", n.digits.c_str(), shown);
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int count_ = 0;
};

struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The three numbers of a date in one order, with the codes of its faults.
enum class Order { dmy, mdy, ymd };
struct DateOrder {
    Order order;
    char separator;
    int no_second, bad_separator, no_third;
};

int parse_date(Scanner& in, Stamp& st) {
    const Number first = in.next();
    DateOrder order{};
    if (first.end == '-') {
        order = {Order::dmy, '-', err_dmy_no_month, err_dmy_sep, err_dmy_no_year};
    } else if (first.end == '/' && first.value() < 13) {
        order = {Order::mdy, '/', err_mdy_no_day, err_mdy_sep, err_mdy_no_year};
    } else if (first.end == '/') {
        order = {Order::ymd, '/', err_ymd_no_month, err_ymd_sep, err_ymd_no_day};
    } else {
        return err_date_sep;
    }
    const Number second = in.next();
    if (second.missing()) return order.no_second;
    if (second.end != order.separator) return order.bad_separator;
    const Number third = in.next(true);
    if (third.missing()) return order.no_third;

    switch (order.order) {
    case Order::dmy: st.day = first.value(), st.month = second.value(), st.year = third.value(); break;
    case Order::mdy: st.month = first.value(), st.day = second.value(), st.year = third.value(); break;
    case Order::ymd: st.year = first.value(), st.month = second.value(), st.day = third.value(); break;
    }
    return 0;
}

int parse_time(Scanner& in, Stamp& st) {
    in.skip_blanks();
    if (in.at_end()) return 0;
    const Number first = in.next();
    if (first.end == ':' || first.end == '.') {
        st.hour = first.value();
        const Number minute = in.next();
        if (minute.missing()) return err_no_minute;
        // At the end of the text it is the seconds that are missing.
        if (minute.end != ':' && minute.end != '.' && minute.end != '\0') return err_minute_sep;
        st.minute = minute.value();
        const Number second = in.next();
        if (second.missing()) return err_no_second;
        st.second = second.value(2);
        return 0;
    }
    if (first.end == '\0') {
        if (first.digits.size() != 6) return err_hhmmss;
        st.hour = std::stoi(first.digits.substr(0, 2));
        st.minute = std::stoi(first.digits.substr(2, 2));
        st.second = std::stoi(first.digits.substr(4, 2));
        return 0;
    }
    return err_time_sep;
}

int check(Stamp& st) {
    if (st.month < 1 || st.month > 12) return err_month;
    if (st.day < 1 || st.day > 31) return err_day;
    if (st.hour > 59) return err_hour;
    if (st.minute > 59) return err_minute;
    if (st.second > 59) return err_second;
    if (st.year > 1900) {
        st.year -= 1900;
    } else if (st.year < 50) {
        st.year += 100;
    }
    if (st.year < 0 || st.year > 250) return err_year;
    return 0;
}

int from_separated(std::string_view text, char* out) {
    Scanner in(text);
    Stamp st;
    int rc = parse_date(in, st);
    if (rc == 0) rc = parse_time(in, st);
    if (rc == 0) rc = check(st);
    if (rc != 0) return fail(rc, out);
    char stamp[48];  // wide enough for any int values
    std::snprintf(stamp, sizeof stamp, "%03d%02d%02d%02d%02d%02d%03d", st.year, st.month, st.day,
                  st.hour, st.minute, st.second, 0);
    std::memcpy(out, stamp, stamp_len);
    return 0;
}

} // namespace

int us_normalizeDateTime(const char* text, int length, char* out) {
    std::string_view s;
    if (text) {
        const size_t limit = length < 1 ? max_input : std::min<size_t>(length, max_input);
        s = std::string_view(text, strnlen(text, limit));
    }
    while (!s.empty() && is_trimmed(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_trimmed(s.back())) s.remove_suffix(1);

    char result[stamp_len];
    int rc = 0;
    if (s.empty()) {
        rc = fail(err_empty, result);
    } else if (std::all_of(s.begin(), s.end(), is_digit)) {
        rc = from_digits(s, result);
    } else {
        rc = from_separated(s, result);
    }
    if (out) std::memcpy(out, result, stamp_len);
    return rc;
}

} // namespace qvx
