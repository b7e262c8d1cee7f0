// Column exits on rows built through merge_text: each routine on values
// chosen where an off-by-one, a missed zero byte after a short fetched
// text, a wrong alignment or a wrong time rule gives another result; a
// failing exit stopping its column's chain; and the binding errors.
#include "pipeline/column_exit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "pipeline/percent_cursor.h"
#include "row_fixture.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

// A column's bytes with the zero bytes a fetch leaves after a short text
// shown as '~'.
std::string shown(std::string s) {
    std::replace(s.begin(), s.end(), '\0', '~');
    return s;
}

std::string right(const std::string& s, size_t width = 16) { return std::string(width - s.size(), ' ') + s; }

// The 4 bytes of a clock count in host order, then blanks to 16 bytes:
// what TIMESTAMP and MINUTES2 read.
std::string clock_count(int32_t count) {
    std::string field(16, ' ');
    std::memcpy(field.data(), &count, sizeof count);
    return field;
}

int32_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_seconds at = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} +
                           seconds{second};
    return static_cast<int32_t>(at.time_since_epoch().count());
}

struct Item {
    std::string name;
    int16_t type;  // 1 Char, 2 Number
    int32_t width;
    Value value;
};

class ColumnExitTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        // Local time is UTC here, so that clock counts and time texts match
        // whatever zone the machine is in.
        env_.set("TZ", "UTC");
        tzset();
    }
    void TearDown() override {
        env_.unset("TZ");
        tzset();
    }

    // Cursor C of the items, with the exit clauses parsed and bound (the
    // percent cursor first, as at start-up); one row built at run time
    // now. The built row's item values, in item order.
    std::vector<std::string> run(const std::vector<Item>& items, const std::vector<std::string>& clauses,
                                 const std::string& now = "20261207120000") {
        qvxtest::reset_collector_state();
        Select sel;
        std::vector<std::string> words;
        Row row;
        for (const Item& it : items) {
            sel.item(it.name, it.type, it.width);
            words.push_back(it.name);
            row.push_back(it.value);
        }
        curs& c = make_cursor("C", words);
        cursor = &c;
        for (const std::string& clause : clauses) EXPECT_EQ(parse_col_ex(c, clause), 0) << clause;
        EXPECT_EQ(create_percent_cursor(), 0);
        out = captured([&] {
            EXPECT_EQ(edit_col_exits(), 0);
            EXPECT_GT(fetch(c, &sel, {row}, now), 0);
        });
        std::vector<std::string> values;
        if (c.rows.last())
            for (const Item& it : items) values.push_back(shown(column_text(c, *c.rows.last(), it.name)));
        return values;
    }

    struct Case {
        std::vector<std::string> clauses;
        Value value;
        std::string expected;
    };
    void check_char(const std::vector<Case>& cases, int32_t width) {
        for (const Case& k : cases)
            EXPECT_EQ(run({{"V", 1, width, k.value}}, k.clauses), std::vector<std::string>{k.expected})
                << k.clauses[0] << " on " << k.value.value_or("NULL") << "\n"
                << out;
    }

    qvxtest::ScopedEnv env_;
    curs* cursor = nullptr;
    std::string out;
};

TEST_F(ColumnExitTest, JustifyAndSubstrInClauseOrder) {
    check_char(
        {
            {{"V R_JUSTIFY"}, "ab   ", "   ab"},
            {{"V R_JUSTIFY"}, "ab", "   ab"},  // the zero bytes after a short text count as blanks
            {{"V r_justify"}, " a b ", "  a b"},
            {{"V R_JUSTIFY"}, "", "~~~~~"},  // all blank: left alone
            {{"V L_JUSTIFY"}, "   ab", "ab   "},
            {{"V L_JUSTIFY"}, "  a", "a    "},
            {{"V L_JUSTIFY"}, "ab", "ab~~~"},  // already left-aligned: left alone
            {{"V SUBSTR ( 2 , 3 )"}, "abcde", "bcd  "},
            {{"V SUBSTR(1,4)"}, "abcde", "abcd "},
            // start + length above the field length: the length becomes
            // field length - start, so even a substring that would end on
            // the last byte loses one
            {{"V SUBSTR ( 1 , 5 )"}, "abcde", "abcd "},
            {{"V SUBSTR ( 2 , 9 )"}, "abcde", "bcd  "},
            {{"V SUBSTR ( 5 , 1 )"}, "abcde", "     "},
            {{"V SUBSTR ( 6 , 1 )"}, "abcde", "abcde"},  // start beyond the field: left alone
            // exits of a column run in clause order ...
            {{"V L_JUSTIFY", "V SUBSTR ( 1 , 2 )"}, "  abc", "ab   "},
            {{"V SUBSTR ( 1 , 2 )", "V L_JUSTIFY"}, "  abc", "     "},
            {{"V SUBSTR ( 2 , 2 )", "V R_JUSTIFY"}, "abcde", "   bc"},
            // ... and a failing one skips the rest of its chain for the row
            {{"V SUBSTR ( 6 , 1 )", "V R_JUSTIFY"}, "ab", "ab~~~"},
        },
        5);
    run({{"V", 1, 5, "abcde"}}, {"V SUBSTR ( 6 , 1 )"});
    EXPECT_TRUE(has(out, "CCC4056E") && has(out, "Substring starting position exceeds length of V in cursor C"))
        << out;
    run({{"V", 1, 5, "abcde"}}, {"V SUBSTR ( 2 , 9 )"});
    EXPECT_TRUE(has(out, "CCC4060W") && has(out, "Substring starting plus len exceeds length of V in cursor C"))
        << out;
}

TEST_F(ColumnExitTest, ConcatTrimsJoinsCutsAndAligns) {
    const struct {
        Item a, b;
        std::string expected;
    } cases[] = {
        {{"A", 1, 10, "ab"}, {"B", 1, 6, " cd "}, "abcd      "},
        {{"A", 1, 10, "  ab "}, {"B", 1, 6, "c d"}, "abc d     "},
        {{"A", 1, 10, ""}, {"B", 1, 6, "  cd"}, "cd        "},   // blank field: the second value
        {{"A", 1, 10, "ab"}, {"B", 1, 6, ""}, "ab~~~~~~~~"},     // blank second value: left alone
        {{"A", 1, 10, "ab"}, {"B", 1, 6, std::nullopt}, "abNULL    "},
        {{"A", 1, 4, "abc"}, {"B", 1, 6, "def"}, "abcd"},        // cut to the field
        {{"A", 2, 8, "12"}, {"B", 1, 6, "34"}, "    1234"},      // a number: right-aligned
        {{"A", 2, 4, "123"}, {"B", 2, 4, "45"}, "1234"},
        {{"A", 2, 8, std::nullopt}, {"B", 1, 6, "x"}, "      0x"},
    };
    for (const auto& k : cases) {
        const auto got = run({k.a, k.b}, {"A CONCAT B"});
        ASSERT_EQ(got.size(), 2u) << out;
        EXPECT_EQ(got[0], k.expected) << k.a.value.value_or("NULL") << " + " << k.b.value.value_or("NULL") << "\n"
                                      << out;
    }
}

TEST_F(ColumnExitTest, ConcatReadsAnotherCursorsRow) {
    // O holds one row; E none. C appends O.X, or fails on E.X.
    auto build_other = [](const std::string& name, bool with_row) {
        Select s;
        s.item("X", 1, 4);
        curs& o = make_cursor(name, {"X"});
        if (with_row) {
            EXPECT_GT(fetch(o, &s, {Row{"xy"}}), 0);
        }
    };
    qvxtest::reset_collector_state();
    build_other("O", true);
    build_other("E", false);
    Select sel;
    sel.item("A", 1, 8);
    sel.item("B", 1, 8);
    curs& c = make_cursor("C", {"A", "B"});
    EXPECT_EQ(parse_col_ex(c, "A CONCAT O.X"), 0);
    EXPECT_EQ(parse_col_ex(c, "B CONCAT E.X"), 0);
    EXPECT_EQ(parse_col_ex(c, "B R_JUSTIFY"), 0);
    out = captured([&] {
        EXPECT_EQ(edit_col_exits(), 0);
        EXPECT_GT(fetch(c, &sel, {Row{"a", "b"}}), 0);
    });
    ASSERT_TRUE(c.rows.last()) << out;
    EXPECT_EQ(column_text(c, *c.rows.last(), "A"), "axy     ");
    // the failed CONCAT also skips the R_JUSTIFY after it
    EXPECT_EQ(shown(column_text(c, *c.rows.last(), "B")), "b~~~~~~~");
    EXPECT_TRUE(has(out, "CCF4580E") && has(out, "In concat, second column (E.X) is in cursor(E) with no rows"))
        << out;
}

TEST_F(ColumnExitTest, MinutesOfAgeRoundToTheNearestMinute) {
    const struct {
        std::string now;
        std::string started;
        std::string expected;
    } cases[] = {
        {"20261207120000", "12/07/2026 11:58", right("2")},
        {"20261207120030", "12/07/2026 11:59", right("2")},   // 90 seconds
        {"20261207120029", "12/07/2026 11:59", right("1")},   // 89 seconds
        {"20261207120000", "12-07-2026 12:05", right("0")},   // in the future: 0; separators ignored
        {"20261207120000", "11/30/2025 12:00", right("535680")},  // a year and a week
    };
    for (const auto& k : cases) {
        EXPECT_EQ(run({{"T", 1, 16, k.started}}, {"T MINUTES"}, k.now), std::vector<std::string>{k.expected})
            << k.started << " at " << k.now << "\n"
            << out;
        EXPECT_EQ(cursor->cols[0].orig_type, 2) << "the column becomes a number";
    }
    // Only a 16-byte field: a 12-byte one stays as it was.
    EXPECT_EQ(run({{"T", 1, 12, "12/07/2026 1"}}, {"T MINUTES"}), std::vector<std::string>{"12/07/2026 1"});
    EXPECT_TRUE(has(out, "CCC4046E") && has(out, "Minutes calculation for column % when length != 16")) << out;
    EXPECT_EQ(cursor->cols[0].orig_type, 1);
}

TEST_F(ColumnExitTest, TimestampAndMinutes2ReadAClockCount) {
    const struct {
        const char* exit;
        int32_t count;
        std::string expected;
    } cases[] = {
        {"T TIMESTAMP", utc_seconds(2026, 12, 7, 11, 22, 33), "2026120711223300"},
        {"T TIMESTAMP", utc_seconds(1985, 6, 15, 1, 2, 3), "1985061501020300"},
        {"T TIMESTAMP", utc_seconds(1975, 6, 15, 1, 2, 3), "2075061501020300"},  // a year below 81 is 20YY
        {"T timestamp", utc_seconds(1980, 12, 31, 23, 59, 59), "2080123123595900"},
        {"T MINUTES2", utc_seconds(2026, 12, 7, 11, 57, 30), right("3")},  // 150 seconds before the run
        {"T MINUTES2", utc_seconds(2026, 12, 7, 11, 59, 31), right("0")},  // 29 seconds
        {"T MINUTES2", utc_seconds(1975, 1, 1, 0, 0, 0), right("0")},      // 2075: in the future
    };
    for (const auto& k : cases) {
        EXPECT_EQ(run({{"T", 1, 16, clock_count(k.count)}}, {k.exit}, "20261207120000"),
                  std::vector<std::string>{k.expected})
            << k.exit << " " << k.count << "\n"
            << out;
        EXPECT_EQ(cursor->cols[0].orig_type, 2);
    }
    for (const char* exit : {"T TIMESTAMP", "T MINUTES2"}) {
        EXPECT_EQ(run({{"T", 1, 12, "abcdefghijkl"}}, {exit}), std::vector<std::string>{"abcdefghijkl"});
        EXPECT_TRUE(has(out, std::string(exit) == "T TIMESTAMP" ? "CCC4053E" : "CCC4048E")) << out;
    }
}

TEST_F(ColumnExitTest, BindingErrorsAreReported) {
    qvxtest::reset_collector_state();
    curs& c = make_cursor("C", {"A", "B"});
    EXPECT_EQ(parse_col_ex(c, "A CONCAT NOPE"), 0);
    EXPECT_EQ(parse_col_ex(c, "Z R_JUSTIFY"), 0);
    EXPECT_EQ(parse_col_ex(c, "B CONCAT A"), 0);
    int rc = 0;
    out = captured([&] { rc = edit_col_exits(); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(has(out, "PCE4185E") && has(out, "Column (NOPE) in concatenate not found")) << out;
    EXPECT_TRUE(has(out, "PCE4190E") && has(out, "Column Z in cursor C not matched for column exit")) << out;
    EXPECT_TRUE(has(out, "PCE4195E")) << out;
    EXPECT_FALSE(has(out, "PCE4200")) << out;
    // B's chain is bound all the same: its CONCAT reads column A of C.
    const ColumnExitChain& b = c.column_exit->chains[2];
    EXPECT_TRUE(b.bound);
    EXPECT_EQ(b.column, 1);
    EXPECT_EQ(b.exits[0].concat.cursor, &c);
    EXPECT_EQ(b.exits[0].concat.column, 0);
}

} // namespace
