#include <gtest/gtest.h>

#include "pipeline/column_function.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using Texts = std::vector<std::string>;

namespace {

std::string right(const std::string& s, size_t width) { return std::string(width - s.size(), ' ') + s; }
const std::string z("\0", 1);

// A cursor of the one column V (type and width of the select item) with
// one row per value, each value a run of its own when runs is set.
curs& one_column(const char* word, int16_t type, int32_t width, const std::vector<Value>& values, bool runs) {
    Select sel;
    sel.item("V", type, width);
    curs& c = make_cursor("CF", {word});
    std::vector<Row> rows;
    for (const Value& v : values) rows.push_back({v});
    if (runs)
        for (const Row& r : rows) EXPECT_GT(fetch(c, &sel, {r}), 0);
    else if (!rows.empty())
        EXPECT_GT(fetch(c, &sel, rows), 0);
    else
        c.cols[0].length = width, c.cols[0].orig_type = type;  // no row has bound it
    return c;
}

using ColumnFunctionTest = StoreTest;

// Printing: "%f", cut after the decimals the values carried (no rounding
// there), right-aligned, the left part kept; text columns by bytes.
TEST_F(ColumnFunctionTest, ResultsFollowThePrintingRules) {
    struct Case {
        const char* word;
        int16_t type;
        int32_t width;
        std::vector<Value> values;
        std::string expected;  // empty: the function fails
    };
    const Case cases[] = {
        {"AVG!V", 2, 10, {"1.5", "2.25", "3"}, right("2.25", 10)},
        {"AVG!V", 2, 6, {"1.25", "2.5"}, right("1.87", 6)},  // 1.875 is cut, not rounded
        {"AVG!V", 2, 3, {"1.25", "2.5"}, "1.8"},
        {"AVG!V", 2, 10, {"0.0000015", "0.0000016"}, "  0.000002"},  // "%f" rounds at the sixth
        {"SUM!V", 2, 6, {"1e3", "+2", "-0.5"}, right("1001.5", 6)},
        {"WAVG!V", 2, 8, {"10", "20", "30"}, right("23", 8)},  // (10 + 40 + 90) / 6
        {"TREND!V", 2, 10, {"10", "20", "30"}, right("1.166667", 10)},
        {"COUNT!V", 2, 4, {"1", "1", "1", "1", "1", "1", "1"}, "7.00"},
        {"AVG!V", 2, 6, {"4", std::nullopt, "8"}, right("4", 6)},  // a null number is stored as 0
        {"AVG!V", 2, 6, {}, right("0", 6)},
        {"TREND!V", 2, 10, {}, right("0.000000", 10)},
        {"MIN!V", 2, 10, {}, right("0.000000", 10)},
        {"MAX!V", 2, 6, {"5", "12.50", "9"}, " 12.50"},
        {"MIN!V", 1, 4, {"b", std::nullopt, "a"}, "a" + z + z + z},  // "NULL" would sort first
        {"MAX!V", 1, 4, {std::nullopt}, "    "},
        {"HW!V", 1, 10, {}, "????????  "},
        {"LW!V", 2, 4, {}, "????"},
        {"SUM!V", 1, 4, {"a"}, ""},
        {"TREND!V", 1, 4, {"a"}, ""},
        {"SUM!V", 2, 256, {"1"}, ""},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = one_column(k.word, k.type, k.width, k.values, false);
        std::string out(static_cast<size_t>(k.width), '#');
        const int rc = col_function(c, c.cols[0], out.data());
        EXPECT_EQ(rc, k.expected.empty() ? 1 : 0) << k.word << " width " << k.width;
        if (!k.expected.empty()) {
            EXPECT_EQ(out, k.expected) << k.word << " width " << k.width;
        }
    }
}

// MAX over 5, 9, 9: the first 9 gives the other columns. The row is built
// again only after the store changed; a failing function gives none.
TEST_F(ColumnFunctionTest, FunctionRowTakesTheChosenRowAndIsKeptUntilTheStoreChanges) {
    Select sel;
    sel.item("V", 2, 4).item("T", 1, 1);
    curs& c = make_cursor("MM", {"MAX!V", "T", "SUM!V"});
    ASSERT_GT(fetch(c, &sel, {{"5", "a"}, {"9", "b"}, {"9", "c"}, {"1", "d"}}), 0);
    row_data* row = do_column_func(c);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(column_text(c, *row, "T"), "b");
    EXPECT_EQ(std::string(row->text(), 11), std::string("   9") + z + "b" + z + "  24");

    c.rows.first()->text()[10] = '7';  // the oldest SUM value, behind the store's back
    EXPECT_EQ(std::string(do_column_func(c)->text() + 7, 4), "  24");
    ASSERT_GT(fetch(c, &sel, {{"1", "e"}}), 0);
    EXPECT_EQ(std::string(do_column_func(c)->text() + 7, 4), "  27");

    curs& bad = make_cursor("BAD", {"AVG!T"});
    ASSERT_GT(fetch(bad, &sel, {{"1", "x"}}), 0);
    EXPECT_EQ(do_column_func(bad), nullptr);
    EXPECT_EQ(bad.rows_changed, 1) << "tried again at the next read-out";
}

// With a samples limit only the current sample counts; a run without rows
// has a COUNT of 0.
TEST_F(ColumnFunctionTest, SamplesLimitCountsOnlyTheCurrentSample) {
    curs& c = one_column("SUM!V", 2, 4, {"1", "2", "10"}, true);
    std::string out(4, '#');
    ASSERT_EQ(col_function(c, c.cols[0], out.data()), 0);
    EXPECT_EQ(out, "  13");
    c.sample_limit = 3;
    ASSERT_EQ(col_function(c, c.cols[0], out.data()), 0);
    EXPECT_EQ(out, "  10");
    c.cols[0].col_funct = ColumnFunction::count;
    ++c.sample_no;  // a run that returned no rows
    ASSERT_EQ(col_function(c, c.cols[0], out.data()), 0);
    EXPECT_EQ(out, "0.00");
}

// Water marks over runs: the stored rows and the mark read out; a null
// neither shows the mark nor becomes it.
TEST_F(ColumnFunctionTest, WaterMarksSpanRuns) {
    struct Case {
        const char* word;
        int16_t type;
        std::vector<Value> runs;
        Texts stored;
    };
    const Case cases[] = {
        {"HW!V", 2, {"5", "3", "8", "2"}, {"   5", "   5", "   8", "   8"}},
        {"LW!V", 2, {"5", "3", "8", "2"}, {"   5", "   3", "   3", "   2"}},
        {"LW!V", 2, {"5", std::nullopt, "7"}, {"   5", "   0", "   5"}},
        {"HW!V", 1, {"b", std::nullopt, "a"}, {"b" + z + z + z, "NULL", "b" + z + z + z}},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = one_column(k.word, k.type, 4, k.runs, true);
        EXPECT_EQ(column_values(c, "V"), k.stored) << k.word;
        std::string out(4, '#');
        ASSERT_EQ(col_function(c, c.cols[0], out.data()), 0);
        EXPECT_EQ(out, k.stored.back()) << k.word;  // the newest row shows the mark
    }
}

} // namespace
