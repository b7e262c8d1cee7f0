#include "expr/select_walk.h"

#include <gtest/gtest.h>

#include <string>

#include "expr_fixture.h"

using namespace qvx;
using namespace exprtest;

namespace {

class SelectWalkTest : public ExprTest {};

// The value the cursor's first column reads now.
std::string reads(const curs& c) {
    const row_data* r = c.current_row();
    return r ? std::string(r->text() + c.cols[0].buf_offset, static_cast<size_t>(c.cols[0].length)) : "";
}

TEST_F(SelectWalkTest, WalkVisitsRowsOldestFirstAndGivesTheNewestBack) {
    curs& c = table_cursor("SYSMON", {{"FLD", 1, 3}});
    add_row(c, {"one"});
    add_row(c, {"two"});
    add_row(c, {"thr"});
    c.bound = 1;
    SelectWalk w;
    ASSERT_EQ(open_select_cursor(c, w), 0);
    std::string seen;
    while (fetch_next_row(c, w) == 0) seen += reads(c) + " ";
    EXPECT_EQ(seen, "one two thr ");
    EXPECT_EQ(fetch_next_row(c, w), 100);
    EXPECT_EQ(close_select_cursor(c, w), 0);
    EXPECT_EQ(c.bound, 0);
    EXPECT_EQ(reads(c), "thr");
    EXPECT_EQ(fetch_next_row(c, w), -1);
    EXPECT_EQ(close_select_cursor(c, w), 1);
    EXPECT_TRUE(wrote("SEL0030E"));
    EXPECT_TRUE(wrote("SEL0015E"));
}

TEST_F(SelectWalkTest, EmptyCursorHasNoDataAndOneRowStaysPut) {
    curs& empty = table_cursor("ZEPV", {{"STOPTIME", 2, 10}});
    SelectWalk w;
    EXPECT_EQ(open_select_cursor(empty, w), 100);
    EXPECT_TRUE(wrote("SEL0010W"));

    curs& one = table_cursor("SYSCCONF", {{"NUMENG", 1, 3}});
    add_row(one, {"two"});
    ASSERT_EQ(open_select_cursor(one, w), 0);
    ASSERT_EQ(fetch_next_row(one, w), 0);
    EXPECT_EQ(reads(one), "two");
    EXPECT_EQ(fetch_next_row(one, w), 100);
    EXPECT_EQ(close_select_cursor(one, w), 0);
    EXPECT_EQ(one.reading_row, nullptr);
}

TEST_F(SelectWalkTest, ResultChainKeepsLinesInOrder) {
    ResultChain chain;
    chain_internal_res("\tdefault data cache\t\t   12.50\t", chain);
    chain_internal_res("\tlog cache\t\t    0.00\t", chain);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[1], "\tlog cache\t\t    0.00\t");
    EXPECT_EQ(get_row_function_arg_part(), ",rfa");
}

} // namespace
