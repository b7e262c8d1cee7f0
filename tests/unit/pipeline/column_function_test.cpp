#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/cluster.h"
#include "pipeline/column_function.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;

namespace {

std::string right(const std::string& s, size_t width) { return std::string(width - s.size(), ' ') + s; }

// One column V of the given width, its function and type given by the
// host-variable word, over one fetch of the values.
struct Case {
    const char* word;
    int16_t type;
    int32_t width;
    std::vector<Value> values;
    std::string expected;  // the field as written
};

std::string run_function(const Case& k, int* rc) {
    Select sel;
    sel.item("V", k.type, k.width);
    curs& c = make_cursor("CF", {k.word});
    std::vector<Row> rows;
    for (const Value& v : k.values) rows.push_back({v});
    if (!rows.empty())
        EXPECT_GT(fetch(c, &sel, rows), 0);
    else
        c.cols[0].length = k.width, c.cols[0].orig_type = k.type;  // no row has bound it
    std::string out(static_cast<size_t>(k.width), '#');
    *rc = col_function(c, c.cols[0], out.data());
    return out;
}

using ColumnFunctionTest = StoreTest;

// The numeric printing rules: "%f", the cut after the decimals the values
// carried (no rounding there), right alignment, the left part kept.
TEST_F(ColumnFunctionTest, NumericResultsArePrintedByTheirRules) {
    const Case cases[] = {
        // AVG: (1.5 + 2.25 + 3) / 3 = 2.25, two decimals seen.
        {"AVG!V", 2, 10, {"1.5", "2.25", "3"}, right("2.25", 10)},
        // 1.875 cut after two decimals, not rounded to 1.88.
        {"AVG!V", 2, 6, {"1.25", "2.5"}, right("1.87", 6)},
        // Longer than the field: the leftmost part stays.
        {"AVG!V", 2, 3, {"1.25", "2.5"}, "1.8"},
        // Seven decimals seen: "%f" has rounded at the sixth already.
        {"AVG!V", 2, 10, {"0.0000015", "0.0000016"}, "  0.000002"},
        {"SUM!V", 2, 6, {"1", "2"}, right("3", 6)},
        // WAVG: (10 + 2*20 + 3*30) / 6 = 23.33.., no decimals in the values.
        {"WAVG!V", 2, 8, {"10", "20", "30"}, right("23", 8)},
        // TREND: 23.333333 / 20, always six decimals.
        {"TREND!V", 2, 10, {"10", "20", "30"}, right("1.166667", 10)},
        // COUNT of seven rows is "7.000000"; a field of 4 keeps "7.00".
        {"COUNT!V", 2, 4, {"1", "1", "1", "1", "1", "1", "1"}, "7.00"},
        // A Number null is stored as blanks and a 0 and counts as 0.
        {"AVG!V", 2, 6, {"4", std::nullopt, "8"}, right("4", 6)},
        // No values at all: 0, cut (AVG) or with six decimals (TREND, MIN).
        {"AVG!V", 2, 6, {}, right("0", 6)},
        {"TREND!V", 2, 10, {}, right("0.000000", 10)},
        {"MIN!V", 2, 10, {}, right("0.000000", 10)},
        // MIN / MAX return the chosen value's bytes unchanged.
        {"MAX!V", 2, 6, {"5", "12.50", "9"}, " 12.50"},
        {"MIN!V", 2, 6, {"5", "-2", "9"}, "    -2"},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        int rc = -1;
        const std::string out = run_function(k, &rc);
        EXPECT_EQ(rc, 0) << k.word;
        EXPECT_EQ(out, k.expected) << k.word << " width " << k.width;
    }
}

// Text columns: MIN / MAX by bytes with nulls skipped, marks, and the
// functions that need numbers failing.
TEST_F(ColumnFunctionTest, TextColumnsCompareBytesAndRefuseArithmetic) {
    const Case cases[] = {
        // "NULL" sorts below "a": skipped, it does not win MIN.
        {"MIN!V", 1, 4, {"b", std::nullopt, "a"}, std::string("a\0\0\0", 4)},
        {"MAX!V", 1, 4, {"ab", "b", "aa"}, std::string("b\0\0\0", 4)},
        {"MAX!V", 1, 4, {std::nullopt}, "    "},
        // A water mark column read before any mark was set.
        {"HW!V", 1, 10, {}, "????????  "},
        {"LW!V", 2, 4, {}, "????"},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        int rc = -1;
        EXPECT_EQ(run_function(k, &rc), k.expected) << k.word;
        EXPECT_EQ(rc, 0) << k.word;
    }
    for (const char* word : {"AVG!V", "SUM!V", "WAVG!V", "TREND!V"}) {
        qvxtest::reset_collector_state();
        int rc = -1;
        run_function({word, 1, 4, {"a"}, ""}, &rc);
        EXPECT_EQ(rc, 1) << word;
    }
    qvxtest::reset_collector_state();
    int rc = -1;
    run_function({"SUM!V", 2, 256, {"1"}, ""}, &rc);
    EXPECT_EQ(rc, 1) << "a Number column over 255 bytes";
}

// MAX over 5, 9, 9: the first 9 is chosen and the column-function row
// takes its other columns from it; MIN likewise with its own row.
TEST_F(ColumnFunctionTest, ChosenRowGivesTheOtherColumnsAndTiesKeepTheEarlierRow) {
    Select sel;
    sel.item("V", 2, 4).item("TAG", 1, 2);
    curs& c = make_cursor("MM", {"MAX!V", "TAG"});
    ASSERT_GT(fetch(c, &sel, {{"5", "a"}, {"9", "b"}, {"9", "c"}, {"1", "d"}}), 0);
    row_data* row = do_column_func(c);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(column_text(c, *row, "V"), "   9");
    EXPECT_EQ(column_text(c, *row, "TAG"), std::string("b\0", 2));  // the second row, not the third or the newest
    EXPECT_EQ(c.chosen_row, c.rows.first()->next);

    curs& m = make_cursor("MN", {"MIN!TAG", "V"});
    ASSERT_GT(fetch(m, &sel, {{"5", "b"}, {"9", "a"}, {"7", "a"}, {"1", "c"}}), 0);
    row = do_column_func(m);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(column_text(m, *row, "V"), "   9");
}

// With a samples limit only the current sample counts; a sample without
// rows has a COUNT of 0. Without a limit every stored row counts.
TEST_F(ColumnFunctionTest, SamplesLimitCountsOnlyTheCurrentSample) {
    Select sel;
    sel.item("V", 2, 4);
    curs& c = make_cursor("SM", {"SUM!V", "COUNT!V"});
    c.sample_limit = 3;
    ASSERT_GT(fetch(c, &sel, {{"1"}, {"2"}}), 0);
    ASSERT_GT(fetch(c, &sel, {{"10"}}), 0);
    std::string sum(4, '#'), count(4, '#');
    ASSERT_EQ(col_function(c, c.cols[0], sum.data()), 0);
    EXPECT_EQ(sum, "  10");
    ASSERT_EQ(col_function(c, c.cols[1], count.data()), 0);
    EXPECT_EQ(count, "1.00");
    fetch(c, &sel, {});  // a run that returned no rows
    ASSERT_EQ(col_function(c, c.cols[1], count.data()), 0);
    EXPECT_EQ(count, "0.00");

    c.sample_limit = 0;
    ASSERT_EQ(col_function(c, c.cols[0], sum.data()), 0);
    EXPECT_EQ(sum, "  13");
}

// The row is built again only after the store changed; a failing function
// gives no row.
TEST_F(ColumnFunctionTest, FunctionRowIsRebuiltOnlyAfterTheStoreChanged) {
    Select sel;
    sel.item("V", 2, 4).item("T", 1, 2);
    curs& c = make_cursor("RB", {"SUM!V", "T"});
    ASSERT_GT(fetch(c, &sel, {{"1", "x"}, {"2", "y"}}), 0);
    row_data* row = do_column_func(c);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(column_text(c, *row, "V"), "   3");
    EXPECT_EQ(column_text(c, *row, "T"), std::string("y\0", 2));  // no MIN or MAX: the newest row
    EXPECT_EQ(c.rows_changed, 0);

    c.rows.first()->text()[3] = '5';  // behind the store's back
    EXPECT_EQ(column_text(c, *do_column_func(c), "V"), "   3");
    ASSERT_GT(fetch(c, &sel, {{"4", "z"}}), 0);
    EXPECT_EQ(column_text(c, *do_column_func(c), "V"), "  11");

    curs& bad = make_cursor("BAD", {"AVG!T"});
    ASSERT_GT(fetch(bad, &sel, {{"1", "x"}}), 0);
    EXPECT_EQ(do_column_func(bad), nullptr);
    EXPECT_EQ(bad.rows_changed, 1) << "tried again at the next read-out";

    curs& plain = make_cursor("PL", {"V"});
    ASSERT_GT(fetch(plain, &sel, {{"1", "x"}}), 0);
    EXPECT_EQ(do_column_func(plain), nullptr);
}

} // namespace

namespace {

// One value per run through a water mark column: what each stored row
// shows, and the mark read out at the end.
struct WaterCase {
    const char* word;
    int16_t type;
    std::vector<Value> runs;
    std::vector<std::string> stored;
    std::string mark;
};

using WaterMarkTest = StoreTest;

TEST_F(WaterMarkTest, MarksSpanRunsAndNullValuesLeaveThemAlone) {
    const std::string nul("\0", 1);
    const WaterCase cases[] = {
        {"HW!V", 2, {"5", "3", "8", "2"}, {"   5", "   5", "   8", "   8"}, "   8"},
        {"LW!V", 2, {"5", "3", "8", "2"}, {"   5", "   3", "   3", "   2"}, "   2"},
        // The null is stored as blanks and a 0; it neither shows the mark
        // nor becomes it.
        {"LW!V", 2, {"5", std::nullopt, "7"}, {"   5", "   0", "   5"}, "   5"},
        {"HW!V", 1, {"b", std::nullopt, "a", "c"}, {"b" + nul + nul + nul, "NULL", "b" + nul + nul + nul,
                                                    "c" + nul + nul + nul}, "c" + nul + nul + nul},
    };
    for (const WaterCase& k : cases) {
        qvxtest::reset_collector_state();
        Select sel;
        sel.item("V", k.type, 4);
        curs& c = make_cursor("WM", {k.word});
        for (const Value& v : k.runs) ASSERT_GT(fetch(c, &sel, {{v}}), 0);
        EXPECT_EQ(column_values(c, "V"), k.stored) << k.word;
        std::string out(4, '#');
        ASSERT_EQ(col_function(c, c.cols[0], out.data()), 0);
        EXPECT_EQ(out, k.mark) << k.word;
    }
}

} // namespace

namespace {

using ReadOutTest = StoreTest;

// A read-out of a cursor with column functions is the one column-function
// row in the send layout; a failing function reads as nothing.
TEST_F(ReadOutTest, CursorWithFunctionsReadsAsItsFunctionRow) {
    Select sel;
    sel.item("V", 2, 4).item("T", 1, 2);
    curs& c = make_cursor("RO", {"MAX!V", "T"});
    c.sample_limit = 2;
    ASSERT_GT(fetch(c, &sel, {{"7", "p"}, {"1", "q"}}), 0);
    ASSERT_GT(fetch(c, &sel, {{"2", "x"}, {"3", "y"}, {"1", "z"}}), 0);
    cluster* cl = open_cursor(c);
    ASSERT_NE(cl, nullptr);
    ASSERT_EQ(cl->count, 1);
    ASSERT_EQ(fetch_cur(cl), 0);
    EXPECT_EQ(std::string(cl->cur, static_cast<size_t>(cl->len)), std::string("   3y\0", 6));
    EXPECT_EQ(fetch_cur(cl), 100);
    close_cur(cl);

    curs& bad = make_cursor("BAD", {"V", "SUM!T"});
    ASSERT_GT(fetch(bad, &sel, {{"2", "x"}}), 0);
    EXPECT_EQ(open_cursor(bad), nullptr);
}

} // namespace
