// Column exits on rows built through merge_text, on values where an
// off-by-one, a zero byte after a short fetched text taken for text, a
// wrong alignment or a wrong time rule gives another result; chains that
// stop at a failing exit; the binding errors.
#include "pipeline/column_exit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "pipeline/percent_cursor.h"
#include "row_fixture.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

std::string right(const std::string& s) { return std::string(16 - s.size(), ' ') + s; }

// The 4 bytes of the clock count of a UTC time, then blanks to 16 bytes.
std::string clock_count(int y, int mo, int d, int h, int mi, int s) {
    using namespace std::chrono;
    const auto at = sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
    const auto count = static_cast<int32_t>(at.time_since_epoch().count());
    std::string field(16, ' ');
    std::memcpy(field.data(), &count, sizeof count);
    return field;
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
        env_.set("TZ", "UTC");  // clock counts and time texts agree on any machine
        tzset();
    }
    void TearDown() override {
        env_.unset("TZ");
        tzset();
    }

    // Cursor C of the items with the exits parsed and bound after the
    // percent cursor, as at start-up; one row built at run time now. The
    // row's values, zero bytes shown as '~'.
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
        cursor = &make_cursor("C", words);
        for (const std::string& clause : clauses) EXPECT_EQ(parse_col_ex(*cursor, clause), 0) << clause;
        EXPECT_EQ(create_percent_cursor(), 0);
        out = captured([&] {
            EXPECT_EQ(edit_col_exits(), 0);
            EXPECT_GT(fetch(*cursor, &sel, {row}, now), 0);
        });
        std::vector<std::string> values;
        for (const Item& it : items) {
            std::string v = column_text(*cursor, *cursor->rows.last(), it.name);
            std::replace(v.begin(), v.end(), '\0', '~');
            values.push_back(v);
        }
        return values;
    }

    qvxtest::ScopedEnv env_;
    curs* cursor = nullptr;
    std::string out;
};

TEST_F(ColumnExitTest, JustifyAndSubstrInClauseOrder) {
    const struct {
        std::vector<std::string> clauses;
        Value value;
        std::string expected;
        const char* id = nullptr;  // a message the exits give
    } cases[] = {
        {{"V R_JUSTIFY"}, "ab", "   ab"},  // zero bytes after a short text count as blanks
        {{"V r_justify"}, " a b ", "  a b"},
        {{"V R_JUSTIFY"}, "", "~~~~~"},  // all blank: left alone
        {{"V L_JUSTIFY"}, "  a", "a    "},
        {{"V L_JUSTIFY"}, "ab", "ab~~~"},  // already left-aligned: left alone
        {{"V SUBSTR ( 2 , 3 )"}, "abcde", "bcd  "},
        // start + length above the width: only width - start characters
        {{"V SUBSTR ( 1 , 5 )"}, "abcde", "abcd ", "CCC4060W"},
        {{"V SUBSTR ( 5 , 1 )"}, "abcde", "     ", "CCC4060W"},
        {{"V SUBSTR ( 6 , 1 )"}, "abcde", "abcde", "CCC4056E"},  // start past the width
        {{"V L_JUSTIFY", "V SUBSTR ( 1 , 2 )"}, "  abc", "ab   "},
        {{"V SUBSTR ( 1 , 2 )", "V L_JUSTIFY"}, "  abc", "     "},
        // a failing exit skips the rest of the chain for the row
        {{"V SUBSTR ( 6 , 1 )", "V R_JUSTIFY"}, "ab", "ab~~~", "CCC4056E"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(run({{"V", 1, 5, k.value}}, k.clauses), std::vector<std::string>{k.expected})
            << k.clauses[0] << " on " << k.value.value_or("NULL") << "\n" << out;
        EXPECT_EQ(k.id != nullptr, has(out, "CCC40")) << out;
        EXPECT_TRUE(!k.id || has(out, k.id)) << out;
    }
}

TEST_F(ColumnExitTest, ConcatTrimsJoinsCutsAndAligns) {
    const struct {
        Item a, b;
        std::string expected;
    } cases[] = {
        {{"A", 1, 10, "  ab "}, {"B", 1, 6, " c d"}, "abc d     "},
        {{"A", 1, 10, ""}, {"B", 1, 6, "  cd"}, "cd        "},  // blank field: the second value
        {{"A", 1, 10, "ab"}, {"B", 1, 6, ""}, "ab~~~~~~~~"},    // blank second value: left alone
        {{"A", 1, 4, "abc"}, {"B", 1, 6, "def"}, "abcd"},       // cut to the width
        {{"A", 2, 8, "12"}, {"B", 1, 6, "34"}, "    1234"},     // a number: right-aligned
        {{"A", 2, 4, "123"}, {"B", 2, 4, "45"}, "1234"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(run({k.a, k.b}, {"A CONCAT B"})[0], k.expected) << k.a.value.value_or("") << "\n" << out;

    // Another cursor's current row; a cursor without rows fails the exit.
    Select s;
    s.item("X", 1, 4);
    curs& o = make_cursor("O", {"X"});
    ASSERT_GT(fetch(o, &s, {Row{"xy"}}), 0);
    make_cursor("E", {"X"});
    Select sel;
    sel.item("A", 1, 8).item("B", 1, 8);
    curs& c = make_cursor("D", {"A", "B"});
    for (const char* clause : {"A CONCAT O.X", "B CONCAT E.X", "B R_JUSTIFY"}) EXPECT_EQ(parse_col_ex(c, clause), 0);
    out = captured([&] {
        EXPECT_EQ(edit_col_exits(), 0);
        EXPECT_GT(fetch(c, &sel, {Row{"a", "b"}}), 0);
    });
    EXPECT_EQ(column_text(c, *c.rows.last(), "A"), "axy     ");
    EXPECT_EQ(column_text(c, *c.rows.last(), "B"), std::string("b\0\0\0\0\0\0\0", 8)) << "R_JUSTIFY skipped";
    EXPECT_TRUE(has(out, "CCF4580E") && has(out, "In concat, second column (E.X) is in cursor(E) with no rows")) << out;
}

TEST_F(ColumnExitTest, TimeRoutinesAgainstTheRunsTimeStamp) {
    const struct {
        const char* exit;
        Value value;
        std::string now;
        std::string expected;
    } cases[] = {
        {"T MINUTES", "12/07/2026 11:58", "20261207120000", right("2")},
        {"T MINUTES", "12/07/2026 11:59", "20261207120030", right("2")},  // 90 seconds round up
        {"T MINUTES", "12/07/2026 11:59", "20261207120029", right("1")},  // 89 seconds down
        {"T MINUTES", "12-07-2026 12:05", "20261207120000", right("0")},  // the future: 0
        {"T MINUTES", "11/30/2025 12:00", "20261207120000", right("535680")},
        {"T TIMESTAMP", clock_count(2026, 12, 7, 11, 22, 33), "20261207120000", "2026120711223300"},
        {"T TIMESTAMP", clock_count(1985, 6, 15, 1, 2, 3), "20261207120000", "1985061501020300"},
        {"T timestamp", clock_count(1975, 6, 15, 1, 2, 3), "20261207120000", "2075061501020300"},
        {"T MINUTES2", clock_count(2026, 12, 7, 11, 57, 30), "20261207120000", right("3")},
        {"T MINUTES2", clock_count(1980, 1, 1, 0, 0, 0), "20261207120000", right("0")},  // 2080
    };
    for (const auto& k : cases) {
        EXPECT_EQ(run({{"T", 1, 16, k.value}}, {k.exit}, k.now), std::vector<std::string>{k.expected})
            << k.exit << " at " << k.now << "\n" << out;
        EXPECT_EQ(cursor->cols[0].orig_type, 2) << "the column becomes a number";
    }
    // Only a 16-byte field: a 12-byte one stays as it was.
    for (const char* exit : {"T MINUTES", "T TIMESTAMP", "T MINUTES2"}) {
        EXPECT_EQ(run({{"T", 1, 12, "12/07/2026 1"}}, {exit}), std::vector<std::string>{"12/07/2026 1"});
        EXPECT_TRUE(has(out, "calculation for column % when length != 16")) << out;
        EXPECT_EQ(cursor->cols[0].orig_type, 1);
    }
}

TEST_F(ColumnExitTest, BindingErrorsAreReported) {
    curs& c = make_cursor("C", {"A", "B"});
    for (const char* clause : {"A CONCAT NOPE", "Z R_JUSTIFY", "B CONCAT A"}) EXPECT_EQ(parse_col_ex(c, clause), 0);
    int rc = 0;
    out = captured([&] { rc = edit_col_exits(); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(has(out, "PCE4185E") && has(out, "Column (NOPE) in concatenate not found")) << out;
    EXPECT_TRUE(has(out, "PCE4190E") && has(out, "Column Z in cursor C not matched for column exit")) << out;
    EXPECT_TRUE(has(out, "PCE4195E") && !has(out, "PCE4200")) << out;
    const ColumnExitChain& b = c.column_exit->chains[2];  // bound all the same
    EXPECT_EQ(std::make_tuple(b.bound, b.column, b.exits[0].concat.cursor, b.exits[0].concat.column),
              std::make_tuple(true, int16_t{1}, &c, int16_t{0}));
}

} // namespace
