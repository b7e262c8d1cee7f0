#include "runtime/window.h"

#include <gtest/gtest.h>
#include "support/state.h"

#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

constexpr long H = 3600;
// Saturday 2 March 2024 and the days after it.
const long kSat = relative_date(2024, 3, 2);
const long kSun = kSat + 1, kMon = kSat + 2, kTue = kSat + 3, kFri = kSat + 6;

long at(long day, long hour, long min = 0) { return day * 86400 + hour * H + min * 60; }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        d.distrib_name = "test";
        d.ranges[kSaturday] = {{0, 0}};
        d.ranges[kSunday] = {{0, 0}};
        d.ranges[kMonFri] = {{8 * H, 17 * H}};
    }
    void expect_window(long now, long start, long end) {
        set_window(d, now);
        EXPECT_EQ(d.window_start, start) << "now " << secs_to_date(now);
        EXPECT_EQ(d.window_end, end) << "now " << secs_to_date(now);
    }
    distrib d;
};

TEST_F(WindowTest, OpenWindowStaysAndEndedOneMovesOn) {
    expect_window(at(kMon, 7), at(kMon, 8), at(kMon, 17));
    expect_window(at(kMon, 12), at(kMon, 8), at(kMon, 17));
    expect_window(at(kMon, 17), at(kTue, 8), at(kTue, 17));
    // Saturday and Sunday ranges of equal start and end have no window.
    expect_window(at(kFri, 18), at(kMon + 7, 8), at(kMon + 7, 17));
    // A real Saturday range is used.
    d.ranges[kSaturday] = {{10 * H, 12 * H}};
    expect_window(at(kFri, 18), at(kSat + 7, 10), at(kSat + 7, 12));
}

TEST_F(WindowTest, HolidaysAreSkipped) {
    d.holidays[0] = static_cast<int32_t>(kTue + 7);
    d.holidays[1] = static_cast<int32_t>(kMon);
    d.holidays[3] = static_cast<int32_t>(kTue);  // after the first 0: not a holiday
    expect_window(at(kMon, 7), at(kTue, 8), at(kTue, 17));
    // 100 holidays in a row still end in a window.
    for (int i = 0; i < 100; ++i) d.holidays[i] = static_cast<int32_t>(kMon + i);
    long first = kMon + 100;
    while (day_kind_of(first) < 2) ++first;
    expect_window(at(kMon, 7), at(first, 8), at(first, 17));
}

TEST_F(WindowTest, RangeOverMidnight) {
    d.ranges[kMonFri] = {{22 * H, 26 * H}};
    // At 23:00 the window runs until 02:00 of the next day.
    expect_window(at(kMon, 23), at(kMon, 22), at(kTue, 2));
    // First computed at 01:00 it starts at 22:00 of that same day.
    distrib fresh = d;
    fresh.range_kind = -1;
    set_window(fresh, at(kTue, 1));
    EXPECT_EQ(fresh.window_start, at(kTue, 22));
    EXPECT_EQ(fresh.window_end, at(kTue + 1, 2));
}

TEST_F(WindowTest, SeveralRangesAreTakenInTurn) {
    d.ranges[kMonFri] = {{8 * H, 10 * H}, {14 * H, 16 * H}};
    expect_window(at(kMon, 7), at(kMon, 8), at(kMon, 10));
    expect_window(at(kMon, 10), at(kMon, 14), at(kMon, 16));
    expect_window(at(kMon, 16), at(kTue, 8), at(kTue, 10));
    // A fresh search later in the day tries the day's later range.
    distrib fresh = d;
    fresh.range_kind = -1;
    set_window(fresh, at(kTue, 11));
    EXPECT_EQ(fresh.window_start, at(kTue, 14));
    // The kept position carries over to another day kind: the range after
    // the one last tried comes first.
    d.ranges[kMonFri].push_back({18 * H, 19 * H});
    d.ranges[kSaturday] = {{10 * H, 12 * H}};
    d.range_kind = kMonFri;
    d.range_index = 1;
    expect_window(at(kSat + 7, 9), at(kSat + 7, 18), at(kSat + 7, 19));
    expect_window(at(kSat + 7, 19), at(kMon + 7, 8), at(kMon + 7, 10));
}

TEST(WindowSearchTest, SearchWithoutRangesEnds) {
    std::vector<OpRange> none;
    RangeLists lists{std::span<const OpRange>(none), std::span<const OpRange>(none),
                     std::span<const OpRange>(none)};
    int kind = 5;  // a broken position is ignored
    size_t index = 99;
    WindowResult w = search_window(lists, {}, WindowCursor{kind, index}, at(kMon, 1));
    EXPECT_FALSE(w.found);
    EXPECT_EQ(w.start, (kMon + kWindowSearchDays) * 86400);
    EXPECT_EQ(w.end, w.start);
}

} // namespace
