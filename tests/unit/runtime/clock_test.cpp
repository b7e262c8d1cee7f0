#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace qvx;
namespace chr = std::chrono;

// True when text has the shape of pattern, where '9' stands for any digit.
bool shaped(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

TEST(ClockTest, DayNumbersFollowTheCalendarFromMarch1992) {
    // 1 March 1992 is day 1; every day up to the end of February 2100 is
    // one more than the day before, and the round trip through the text
    // gives the same date.
    const chr::sys_days origin{chr::year{1992} / chr::March / 1};
    const chr::sys_days last{chr::year{2100} / chr::February / 28};
    for (chr::sys_days d = origin; d <= last; d += chr::days{1}) {
        chr::year_month_day ymd{d};
        int y = int(ymd.year()), m = int(unsigned(ymd.month())), dd = int(unsigned(ymd.day()));
        long n = relative_date(y, m, dd);
        ASSERT_EQ(n, (d - origin).count() + 1) << y << "-" << m << "-" << dd;
        char want[16];
        std::snprintf(want, sizeof want, "%04d%02d%02d000000", y, m, dd);
        ASSERT_EQ(secs_to_date(n * 86400), want);
    }
}

TEST(ClockTest, TwoDigitYearsAndDayKinds) {
    EXPECT_EQ(relative_date(92, 3, 1), 1);
    EXPECT_EQ(relative_date(80, 6, 1), relative_date(2080, 6, 1));
    EXPECT_EQ(relative_date(81, 6, 1), relative_date(1981, 6, 1));
    EXPECT_EQ(relative_date(0, 1, 1), relative_date(2000, 1, 1));
    // 2 March 2024 is a Saturday.
    EXPECT_EQ(day_kind_of(relative_date(2024, 3, 2)), 0);  // Saturday
    EXPECT_EQ(day_kind_of(relative_date(2024, 3, 3)), 1);  // Sunday
    EXPECT_EQ(day_kind_of(relative_date(2024, 3, 8)), 6);  // Friday
}

TEST(ClockTest, RelativeSecondsOfTextsAndBack) {
    long day = relative_date(2024, 12, 31);
    EXPECT_EQ(relative_sec("20241231235958"), day * 86400 + 23 * 3600 + 59 * 60 + 58);
    EXPECT_EQ(secs_to_date(day * 86400 + 23 * 3600 + 59 * 60 + 58), "20241231235958");
    EXPECT_EQ(real_date(day * 86400 + 86399 + 2), "20250101000001");
    EXPECT_EQ(relative_sec("2024123123595"), -1);
    EXPECT_EQ(relative_sec("2024123123595x"), -1);
    // Out-of-range seconds still give a 14-digit text.
    EXPECT_EQ(secs_to_date(-5).size(), 14u);
    EXPECT_EQ(secs_to_date(1L << 50).substr(0, 4), "9999");
}

TEST(ClockTest, CurrentTimeTextsAgree) {
    long before = now_relative();
    std::string t = get_time();
    std::string f = form_time();
    long after = now_relative();
    ASSERT_TRUE(shaped(t, "99999999999999")) << t;
    ASSERT_TRUE(shaped(f, "9999/99/99 99:99:99")) << f;
    long secs = relative_sec(t);
    EXPECT_LE(before, secs);
    EXPECT_LE(secs, after);
    EXPECT_EQ(f.substr(0, 4) + f.substr(5, 2) + f.substr(8, 2), t.substr(0, 8));
    EXPECT_EQ(today_relative_date(), after / 86400);
}
