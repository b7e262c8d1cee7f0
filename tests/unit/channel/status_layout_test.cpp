// The decoder read against images of every byte set, and records
// carried through an image and back (the image offsets themselves are
// pinned field by field where the images are built).
#include "channel/status_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "channel/status_decode.h"
#include "channel/status_images.h"
#include "support/state.h"

using namespace qvx;

namespace {

// Every byte set: texts run to their full widths, unsigned fields stay
// positive and the repeated fields keep their element counts.
TEST(StatusDecode, FullImagesShowEveryWidth) {
    std::vector<unsigned char> ones(kDistribImageSize, 0xff);
    const auto c = decode_cursor_image(ones.data(), kCursorImageSize);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::make_tuple(c->name.size(), c->last_time.size(), c->age_to.size()),
              std::make_tuple(9u, 15u, 9u));
    EXPECT_EQ(std::make_tuple(c->window_start, c->stale_until, c->stale, c->virtual_cur),
              std::make_tuple(0xffffffffu, 0xffffffffu, -1, int16_t{-1}));
    EXPECT_TRUE(c->next && c->script && c->fetch_exit && c->ranges[kMonFri]);
    // A pointer counts as present when any of its four bytes is set.
    std::vector<unsigned char> zeros(kCursorImageSize, 0);
    zeros[88 + 3] = 0x01;
    const auto high = decode_cursor_image(zeros.data(), zeros.size());
    ASSERT_TRUE(high);
    EXPECT_EQ(std::make_tuple(high->table, high->host_table), std::make_tuple(true, false));

    const auto d = decode_distrib_image(ones.data(), kDistribImageSize);
    ASSERT_TRUE(d);
    EXPECT_EQ(std::make_tuple(d->name.size(), d->logonid.size(), d->serverid.size(), d->last_status.size(),
                              d->last_time.size()),
              std::make_tuple(25u, 33u, 34u, 5u, 15u));
    EXPECT_EQ(std::make_tuple(d->state, d->window_end, d->time_offset),
              std::make_tuple(uint16_t{0xffff}, 0xffffffffu, -1));
    EXPECT_TRUE(d->password) << "a password is only set or not";
    EXPECT_EQ(d->holidays, std::vector<int32_t>(100, -1));
    EXPECT_EQ(d->classes.size(), 51u);
}

class StatusRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state(); delete_cursors(); }
    void TearDown() override { delete_cursors(); qvxtest::reset_collector_state(); }
};

TEST_F(StatusRoundTrip, CursorComesBackFieldByField) {
    cur_anchor.push_back(std::make_unique<curs>());
    curs& c = *cur_anchor.back();
    c.cur_name = "LONGNAME12", c.last_time = "20240315123456", c.age_to = "AGE";
    c.window_start = 0xfffffffeu, c.window_end = 2, c.next_time = 3, c.stale_until = 4;
    c.stale = -5, c.virtual_cur = 6, c.empty = 7, c.demand = -8, c.once = 9, c.no_sql = 10, c.interval = 11;
    c.bracket = 12, c.hv_count = 13, c.insert_col_count = 14, c.held = 'N', c.hold_reasons = {15, -16, 17};
    c.bypass = 18, c.has_col_funct = 19, c.has_minmax = 20, c.row_size = 21, c.row_limit = 22, c.row_no = 23;
    qvxtest::give_rows(c, 24);
    c.time_limit = 25, c.length = 26, c.rows_changed = 27, c.history = 28;
    c.history_pending = 29, c.class_no = 30, c.sample_limit = 31, c.sample_no = -32, c.rpc_version = 33;
    c.objid = 34, c.set = 35, c.show_cursor = 36, c.show_row = 37, c.bound = 38, c.start_after = 39;
    c.stop_after = 40, c.dummy_last_row = 41, c.conditional_dummy_last_row = 42, c.trace = 43;
    c.traced = 44, c.tracem = 45;
    // Every second thing present; an empty text counts as absent.
    c.table_name = "T", c.raw_insert_select = "", c.insert_where = "A > 0", c.insert_col_names = {"A"};
    c.uuidpcvc = "pcvc", c.ranges[kSaturday] = {{0, 1}};
    c.fetch_exit.emplace().name = "exitprog";

    const CursorImage img = cursor_image(c);
    const int32_t row_count = c.rows.size();
    const auto s = decode_cursor_image(img.data(), img.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(std::tie(s->name, s->last_time, s->age_to),
              std::make_tuple(std::string("LONGNAME1"), c.last_time, c.age_to));
    EXPECT_EQ(std::tie(s->window_start, s->window_end, s->next_time, s->stale_until, s->stale, s->interval),
              std::tie(c.window_start, c.window_end, c.next_time, c.stale_until, c.stale, c.interval));
    EXPECT_EQ(std::tie(s->virtual_cur, s->empty, s->demand, s->once, s->no_sql, s->bracket, s->hv_count,
                       s->insert_col_count, s->held, s->hold_reasons, s->bypass, s->has_col_funct, s->has_minmax),
              std::tie(c.virtual_cur, c.empty, c.demand, c.once, c.no_sql, c.bracket, c.hv_count,
                       c.insert_col_count, c.held, c.hold_reasons, c.bypass, c.has_col_funct, c.has_minmax));
    EXPECT_EQ(std::tie(s->row_size, s->row_limit, s->row_no, s->row_count, s->time_limit, s->length,
                       s->rows_changed, s->history, s->history_pending, s->class_no, s->sample_limit, s->sample_no),
              std::tie(c.row_size, c.row_limit, c.row_no, row_count, c.time_limit, c.length, c.rows_changed,
                       c.history, c.history_pending, c.class_no, c.sample_limit, c.sample_no));
    EXPECT_EQ(std::tie(s->rpc_version, s->objid, s->set, s->show_cursor, s->show_row, s->bound, s->start_after,
                       s->stop_after, s->dummy_last_row, s->conditional_dummy_last_row, s->trace, s->traced,
                       s->tracem),
              std::tie(c.rpc_version, c.objid, c.set, c.show_cursor, c.show_row, c.bound, c.start_after,
                       c.stop_after, c.dummy_last_row, c.conditional_dummy_last_row, c.trace, c.traced,
                       c.tracem));
    const std::vector<bool> present = {s->next, s->select, s->table, s->host_table, s->insert_select, s->insert,
                                       s->where, s->columns, s->insert_columns, s->loads, s->uuidpavc,
                                       s->uuidpcvc, s->fetch_exit, s->script};
    EXPECT_EQ(present, (std::vector<bool>{false, false, true, false, false, false, true, false, true, false,
                                          false, true, true, false}));
    EXPECT_EQ(s->ranges, (std::array<bool, 3>{true, false, false}));
}

TEST_F(StatusRoundTrip, DistributorComesBackFieldByField) {
    distrib_anchor.push_back(std::make_unique<distrib>());
    distrib_anchor.push_back(std::make_unique<distrib>());
    distrib& d = *distrib_anchor.front();
    d.type = 4, d.distrib_name = std::string(30, 'n'), d.logonid = "monitor", d.serverid = std::string(40, 'S');
    d.password = "", d.time_offset = -1, d.interval = 60, d.hold = 'Y', d.continuous = 'N';
    for (size_t i = 0; i < 5; ++i) d.holidays[i] = static_cast<int32_t>(11000 + i);
    d.holidays[6] = 12005;  // after the first 0: not a holiday
    d.class_sw[7] = 1, d.class_sw[8] = -1;
    d.window_start = 1, d.window_end = 0xffffffffu, d.next_time = 3, d.last_status = "FAIL";
    d.last_time = "20261205175310", d.state = 0x8001, d.send_false = 1;
    d.ranges[kSunday] = {{0, 1}};

    const DistribImage img = distrib_image(d);
    const auto s = decode_distrib_image(img.data(), img.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(std::tie(s->name, s->logonid, s->serverid, s->last_status, s->last_time),
              std::make_tuple(std::string(25, 'n'), d.logonid, std::string(34, 'S'), d.last_status, d.last_time));
    EXPECT_EQ(std::tie(s->type, s->time_offset, s->interval, s->hold, s->continuous, s->window_start,
                       s->window_end, s->next_time, s->state, s->send_false),
              std::tie(d.type, d.time_offset, d.interval, d.hold, d.continuous, d.window_start, d.window_end,
                       d.next_time, d.state, d.send_false));
    EXPECT_EQ(std::make_tuple(s->next, s->password), std::make_tuple(true, false));
    EXPECT_EQ(s->ranges, (std::array<bool, 3>{false, true, false}));
    EXPECT_EQ(s->holidays, std::vector<int32_t>(d.holidays.begin(), d.holidays.begin() + 5)) << "up to the first 0";
    EXPECT_EQ(s->classes, (std::vector<int>{7, 8}));
}

} // namespace
