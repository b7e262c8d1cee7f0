// The collector's relative time scale and local time texts.
#include "runtime/clock.h"

#include <cstdio>
#include <ctime>

namespace qvx {

namespace {

constexpr long kSecsPerDay = 86400;

// Day number of a date with a four-digit year. Months are counted from
// March so that the leap day ends the counting year; every division
// truncates toward zero.
long day_number(long year, long month, long day) {
    long m;
    long y;
    if (month >= 3) {
        m = month - 3;
        y = year;
    } else {
        m = month + 9;
        y = year - 1;
    }
    return (y * 36525 - 72757800) / 100 + (m * 306 + 5) / 10 + day;
}

// Largest relative second that still has a four-digit year.
const long kMaxSecs = day_number(9999, 12, 31) * kSecsPerDay + kSecsPerDay - 1;

std::tm local_now() {
    std::tm tm{};
    std::time_t t = std::time(nullptr);
    localtime_r(&t, &tm);
    return tm;
}

// Parses n decimal digits; false when one is not a digit.
bool digits(std::string_view text, size_t pos, size_t n, long& out) {
    long v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

} // namespace

long relative_date(int year, int month, int day) {
    long y = year;
    if (y < 1900) y += (y < 81) ? 2000 : 1900;
    return day_number(y, month, day);
}

long relative_sec(std::string_view text14) {
    if (text14.size() < 14) return -1;
    long y, mo, d, h, mi, s;
    if (!digits(text14, 0, 4, y) || !digits(text14, 4, 2, mo) || !digits(text14, 6, 2, d) ||
        !digits(text14, 8, 2, h) || !digits(text14, 10, 2, mi) || !digits(text14, 12, 2, s))
        return -1;
    return relative_date(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d)) * kSecsPerDay +
           h * 3600 + mi * 60 + s;
}

std::string secs_to_date(long secs) {
    if (secs < 0) secs = 0;
    if (secs > kMaxSecs) secs = kMaxSecs;
    long day = secs / kSecsPerDay;
    long tod = secs % kSecsPerDay;

    // Counting year (from March) that holds the day: start from an
    // estimate and step to the exact one.
    long y = 1992 + (day - 1) * 100 / 36525;
    if (y < 1900) y = 1900;
    while (y > 1900 && day_number(y, 3, 1) > day) --y;
    while (day_number(y + 1, 3, 1) <= day) ++y;

    // Month within the counting year: the last whose first day is
    // reached (March to December of y, then January and February of y+1).
    static constexpr int kMonths[12] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2};
    int idx = 0;
    for (int i = 1; i < 12; ++i) {
        if (day_number(i < 10 ? y : y + 1, kMonths[i], 1) > day) break;
        idx = i;
    }
    long year = (idx < 10) ? y : y + 1;
    long month = kMonths[idx];
    long dom = day - day_number(year, month, 1) + 1;
    if (dom < 1) dom = 1;

    // Written digit by digit: a served request stamps its cursor with it.
    std::string text(14, '0');
    auto put = [&text](size_t at, size_t width, long value) {
        for (size_t i = at + width; i > at; value /= 10) text[--i] = static_cast<char>('0' + value % 10);
    };
    put(0, 4, year);
    put(4, 2, month);
    put(6, 2, dom);
    put(8, 2, tod / 3600);
    put(10, 2, tod % 3600 / 60);
    put(12, 2, tod % 60);
    return text;
}

std::string real_date(long secs) { return secs_to_date(secs); }

std::string form_time() {
    const std::tm tm = local_now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string get_time() {
    const std::tm tm = local_now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

long now_relative() {
    const std::tm tm = local_now();
    return relative_date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * kSecsPerDay +
           tm.tm_hour * 3600L + tm.tm_min * 60L + tm.tm_sec;
}

long today_relative_date() {
    const std::tm tm = local_now();
    return relative_date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

} // namespace qvx
