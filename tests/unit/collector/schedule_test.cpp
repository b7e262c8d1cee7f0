#include <gtest/gtest.h>

#include "control/cursor.h"
#include "control/distributor.h"
#include "runtime/clock.h"
#include "collector/lifecycle.h"
#include "runtime/exit_path.h"
#include "runtime/signals.h"
#include "collector/schedule.h"
#include "runtime/window.h"
#include "runtime/trace.h"
#include "support/state.h"

using namespace qvx;
using qvxtest::captured;
using qvxtest::has;

namespace {

class ScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        now = now_relative();
        auto d = std::make_unique<distrib>();
        d->distrib_name = "collector";
        d->interval = 15;
        d->class_sw[0] = 1;
        d->ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        collector_at = d.get();
        distrib_anchor.push_back(std::move(d));
    }

    distrib& add_distributor(const std::string& name, int interval) {
        auto d = std::make_unique<distrib>();
        d->distrib_name = name;
        d->interval = interval;
        d->ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        distrib_anchor.push_back(std::move(d));
        return *distrib_anchor.back();
    }

    curs& add_cursor(const std::string& name) {
        auto c = std::make_unique<curs>();
        c->cur_name = name;
        c->interval = 30;
        c->trace = 1;
        c->virtual_cur = 1;  // runs without a database
        c->ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        cur_anchor.push_back(std::move(c));
        return *cur_anchor.back();
    }

    long now = 0;
};

} // namespace

TEST_F(ScheduleTest, SleepIsCutToTheEarliestDueTime) {
    sleep_time = 60;
    for (auto& d : distrib_anchor) set_window(*d, now);
    collector_at->next_time = static_cast<uint32_t>(now + 15);
    EXPECT_EQ(sleep_seconds(now), 15);

    distrib& upa = add_distributor("upa", 5);
    set_window(upa, now);
    upa.next_time = static_cast<uint32_t>(now + 4);
    EXPECT_EQ(sleep_seconds(now), 4);

    // A held or disabled distributor does not wake the loop.
    upa.hold = 'Y';
    EXPECT_EQ(sleep_seconds(now), 15);
    upa.hold = 'N';
    upa.state = 0;
    EXPECT_EQ(sleep_seconds(now), 15);

    // One already due means no sleep; the stop time also cuts the sleep.
    upa.state = 1;
    upa.next_time = static_cast<uint32_t>(now - 3);
    EXPECT_EQ(sleep_seconds(now), 0);
    upa.next_time = static_cast<uint32_t>(now + 100);
    go_home_time = now + 7;
    EXPECT_EQ(sleep_seconds(now), 7);
}

TEST_F(ScheduleTest, DistributorOutsideItsWindowSleepsUntilItOpens) {
    sleep_time = 6000;
    const long noon = now / 86400 * 86400 + 43200;
    collector_at->next_time = static_cast<uint32_t>(noon + 5000);
    set_window(*collector_at, noon);
    distrib& hist = add_distributor("historian", 60);
    // Its window today ran from 13:00 to 14:00; next_time is long past.
    hist.ranges = {{{{46800, 50400}}, {{46800, 50400}}, {{46800, 50400}}}};
    hist.next_time = 1;
    // Not a busy loop: the sleep lasts until the window opens.
    EXPECT_EQ(sleep_seconds(noon), 3600);
    // Inside the window it is due at once.
    EXPECT_EQ(sleep_seconds(noon + 3700), 0);
}

TEST_F(ScheduleTest, CollectBypassesByHoldDemandClassWindowAndInterval) {
    my_trace_all[5] = 1;
    curs& held = add_cursor("HELD");
    held.held = 'Y';
    held.hold_reasons = {0, 1, 0};
    curs& freed = add_cursor("FREED");
    freed.held = 'Y';
    curs& demand = add_cursor("DEMAND");
    demand.demand = 1;
    curs& class3 = add_cursor("CLASS3");
    class3.class_no = 3;
    curs& later = add_cursor("LATER");
    later.ranges = {{{{86399, 86400}}, {{86399, 86400}}, {{86399, 86400}}}};
    curs& waiting = add_cursor("WAITING");
    waiting.next_time = static_cast<uint32_t>(now + 1000);
    curs& due = add_cursor("DUE");

    std::string out = captured([] { EXPECT_EQ(collect(), 0); });
    EXPECT_TRUE(has(out, "Bypassing cursor HELD, why = held"));
    EXPECT_EQ(held.held, 'Y');  // a hold counter is still set
    EXPECT_TRUE(has(out, "Bypassing cursor FREED, why = held"));
    EXPECT_EQ(freed.held, 'N');  // released: runs from the next pass on
    EXPECT_TRUE(has(out, "Bypassing cursor DEMAND, why = demand"));
    EXPECT_TRUE(has(out, "Bypassing cursor CLASS3, why = class"));
    if (now % 86400 < 86399) {
        EXPECT_TRUE(has(out, "Bypassing cursor LATER, why = window"));
    }
    EXPECT_TRUE(has(out, "Bypassing cursor WAITING, why = interval time"));
    EXPECT_TRUE(has(out, "Interval collection at"));
    EXPECT_TRUE(has(out, "for DUE"));
    EXPECT_GE(due.next_time, static_cast<uint32_t>(now + 30));
    EXPECT_EQ(collector_at->last_status, "GOOD");
    // Without failures every cursor's last time is the pass time.
    EXPECT_EQ(waiting.last_time, due.last_time);
    EXPECT_NE(due.last_time, "19900101010101");

    // Class 3 runs once the collector names it; bypass lines need debug level 5.
    collector_at->class_sw[3] = 1;
    my_trace_all[5] = 0;
    out = captured([] { collect(); });
    EXPECT_FALSE(has(out, "Bypassing"));
    EXPECT_GE(class3.next_time, static_cast<uint32_t>(now + 30));
}

TEST_F(ScheduleTest, GoHomeInterruptsThePass) {
    add_cursor("A");
    go_home = 1;
    EXPECT_EQ(collect(), 1);
    EXPECT_EQ(cur_anchor[0]->next_time, 0u);
    go_home = 0;
}

TEST_F(ScheduleTest, CursorWindowsAreKeptForDemandHeldAndFilledOnceCursors) {
    curs& c = add_cursor("C");
    c.ranges = {{{{3600, 7200}}, {{3600, 7200}}, {{3600, 7200}}}};
    set_window_c(c, now);
    EXPECT_EQ(c.window_end % 86400, 7200u);
    EXPECT_EQ(c.window_end - c.window_start, 3600u);
    EXPECT_GT(static_cast<long>(c.window_end), now);

    for (int kind = 0; kind < 3; ++kind) {
        curs& k = add_cursor("K" + std::to_string(kind));
        k.window_start = 11;
        k.window_end = 22;
        if (kind == 0) k.demand = 1;
        if (kind == 1) k.held = 'Y';
        if (kind == 2) {
            k.once = 1;
            qvxtest::give_rows(k, 3);
        }
        set_window_c(k, now);
        EXPECT_EQ(k.window_start, 11u) << kind;
        EXPECT_EQ(k.window_end, 22u) << kind;
    }
}

TEST_F(ScheduleTest, PlainDistributorReportsItsRun) {
    distrib& d = add_distributor("reporter", 10);
    const std::string out = captured([&] { EXPECT_EQ(distribute(d, relative_sec("20261205103000")), 0); });
    EXPECT_TRUE(has(out, "CIR1625I"));
    EXPECT_TRUE(has(out, "Dist for reporter at 20261205103000"));
}
