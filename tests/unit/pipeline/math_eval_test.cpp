#include "pipeline/math_eval.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "row_fixture.h"
#include "support/state.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;
using Texts = std::vector<std::string>;

namespace {

// A text right-aligned in a field of width bytes.
std::string right(const std::string& s, size_t width = 16) { return std::string(width - s.size(), ' ') + s; }

// A cursor M whose select list has the Number items A, B, C (width 8),
// with the math columns computing from them.
class MathEvalTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        sel = Select{};
        for (const char* n : {"A", "B", "C"}) sel.item(n, 2, 8);
    }

    // Cursor M with columns A, B, C and the given extra columns; each
    // clause parsed, then the math edit pass. Returns the edit result.
    int define(const std::vector<std::string>& extra, const std::vector<std::string>& clauses) {
        std::vector<std::string> words{"A", "B", "C"};
        words.insert(words.end(), extra.begin(), extra.end());
        m = &make_cursor("M", words);
        for (const std::string& clause : clauses) EXPECT_EQ(parse_math(*m, clause), 0) << clause;
        return edit_math();
    }

    // The math column R over one sample of rows (A, B, C each).
    Texts answers(const std::string& clause, const std::vector<Row>& rows, const std::string& r_word = "R") {
        EXPECT_EQ(define({r_word}, {clause}), 0) << clause;
        EXPECT_GT(fetch(*m, &sel, rows), 0) << clause;
        return column_values(*m, "R");
    }

    Select sel;
    curs* m = nullptr;
};

} // namespace

TEST_F(MathEvalTest, PrecedenceParenthesesAndRounding) {
    struct Case {
        const char* clause;
        Row abc;
        const char* want;
    };
    const Case cases[] = {
        {"R ( A + B ) * 2", {"3", "4", "0"}, "14.00"},
        {"R A - B - C", {"10", "3", "2"}, "5.00"},
        {"R A / B * C", {"8", "2", "3"}, "12.00"},
        {"R A + B * C", {"1", "2", "3"}, "7.00"},
        {"R A - B / C * 3", {"1", "6", "2"}, "-8.00"},
        {"R ( ( A + B ) * ( C - 1 ) ) / 4", {"1", "2", "3"}, "1.50"},
        {"R A * ( B - ( C + 1 ) )", {"2", "10", "3"}, "12.00"},
        {"R - A + B", {"5", "2", "0"}, "-3.00"},  // a missing left operand counts as 0
        {"R A / B", {"7", "0", "0"}, "0.00"},
        {"R A + B / C", {"7", "1", "0"}, "0.00"},  // the whole answer, not only the quotient
        {"R A + 0.5", {"  x12", "0", "0"}, "0.50"},  // not a number: 0
        {"R A", {"1e2", "0", "0"}, "100.00"},
        {"decimal 0 R A", {"2.5", "0", "0"}, "3"},
        {"decimal 0 R A", {"-2.5", "0", "0"}, "-3"},
        {"decimal 0 R A", {"0", "0", "0"}, "0"},
        {"noround decimal 1 R A", {"2.56", "0", "0"}, "2.5"},
        {"noround decimal 1 R A", {"-2.56", "0", "0"}, "-2.5"},
        {"decimal 3 R A / 3", {"2", "0", "0"}, "0.667"},
        {"decimal 9 R A", {"1.25", "0", "0"}, "1.250000"},  // "%f" has six digits
    };
    for (const Case& k : cases) {
        SetUp();
        EXPECT_EQ(answers(k.clause, {k.abc}), Texts{right(k.want)}) << k.clause;
    }
}

TEST_F(MathEvalTest, HighAndLowRunOverRowsAndSamples) {
    const std::vector<Row> rows{{"5", "0", "0"}, {"3", "0", "0"}, {"8", "0", "0"}};
    EXPECT_EQ(answers("high R A", rows), (Texts{right("5.00"), right("5.00"), right("8.00")}));
    fetch(*m, &sel, {{"6", "0", "0"}});
    EXPECT_EQ(column_values(*m, "R").back(), right("8.00"));  // kept across runs
    SetUp();
    EXPECT_EQ(answers("low R A", rows), (Texts{right("5.00"), right("3.00"), right("3.00")}));
}

TEST_F(MathEvalTest, WidthsGloppingAndEarlierMathColumns) {
    // "^8" gives the width; a longer answer keeps its last eight characters.
    std::string out = captured([&] { EXPECT_EQ(answers("R A * 2", {{"61728.39", "0", "0"}}, "R^8"), Texts{"23456.78"}); });
    EXPECT_TRUE(has(out, "Glopping off answer for R in M Source= 123456.78, target= 8 bytes")) << out;
    const columns& r = m->cols[3];
    EXPECT_EQ(std::tie(r.is_math, r.orig_type, r.length, r.ordinal), std::make_tuple(true, int16_t{2}, 8, int16_t{4}));

    // A math column reads the math columns before it, in the same row.
    SetUp();
    ASSERT_EQ(define({"P", "Q"}, {"Q P * 10", "P A + B"}), 0);
    ASSERT_GT(fetch(*m, &sel, {{"1", "2", "0"}}), 0);
    EXPECT_EQ(column_values(*m, "Q"), Texts{right("30.00")});
    // A clause without a column is never computed; nothing fails.
    SetUp();
    EXPECT_EQ(define({"R"}, {"R A", "UNUSED B"}), 0);
}

TEST_F(MathEvalTest, OtherCursorsCurrentRow) {
    curs& s = make_cursor("S", {"A"});
    Select one;
    one.item("A", 2, 8);
    ASSERT_GT(fetch(s, &one, {{"4"}, {"6"}}), 0);
    EXPECT_EQ(answers("R A * S.A", {{"2", "0", "0"}}), Texts{right("12.00")});
    s.reading_row = s.rows.first();  // a reading row stands in for the newest
    fetch(*m, &sel, {{"2", "0", "0"}});
    EXPECT_EQ(column_values(*m, "R").back(), right("8.00"));

    // No rows: 0 with a message, unless the cursor is an age_to copy.
    s.reading_row = nullptr;
    delete_all(s);
    std::string out = captured([&] { fetch(*m, &sel, {{"2", "0", "0"}}); });
    EXPECT_EQ(column_values(*m, "R").back(), right("0.00"));
    EXPECT_TRUE(has(out, "Math statement R for cursor M references S which has no rows, setting answer to 0")) << out;
    s.is_age_copy = 1;  // S as an age_to target: empty until its source's first copy
    out = captured([&] { fetch(*m, &sel, {{"2", "0", "0"}}); });
    EXPECT_FALSE(has(out, "which has no rows")) << out;

    // The age_to target before its first copy: the initial value, not rounded.
    SetUp();
    curs& old = make_cursor("OLD", {"A"});
    ASSERT_GT(fetch(old, &one, {{"4"}}), 0);
    m = &make_cursor("M", {"A", "B", "C", "R"});
    m->age_to = "OLD";
    m->copy_pending = 1;
    ASSERT_EQ(parse_math(*m, "initial 7.5 decimal 0 R A - OLD.A"), 0);
    out = captured([&] { ASSERT_EQ(edit_math(), 0); });
    EXPECT_TRUE(has(out, "Note -- referencing age_to cursor in (M) for math (R)")) << out;
    fetch(*m, &sel, {{"9", "0", "0"}});
    m->copy_pending = 0;  // the first copy was made
    fetch(*m, &sel, {{"9", "0", "0"}});
    EXPECT_EQ(column_values(*m, "R"), (Texts{right("7"), right("5")}));
}

TEST_F(MathEvalTest, BindingErrors) {
    struct Case {
        std::vector<std::string> clauses;
        const char* message;
    };
    const Case cases[] = {
        {{"R A + X"}, "In math, variable (X) not matched"},
        {{"R NOPE.A"}, "Cursor (NOPE) not found in text 'R NOPE.A'"},
        {{"R LONGNAME9.A"}, "Cursor (LONGNAME9) not found in text"},
        {{"R M.A"}, "Qualified reference to own table in math, text = R M.A"},
        {{"R S.B"}, "Column (B) not found in S"},
        {{"R A + R"}, "Math expression for col R uses later math column R"},
        {{"R Q", "Q A"}, "Math expression for col R uses later math column Q"},
    };
    for (const Case& k : cases) {
        int rc = 0;
        const std::string out = captured([&] {
            delete_cursors();
            make_cursor("S", {"A"});
            rc = define({"R", "Q"}, k.clauses);
        });
        EXPECT_EQ(rc, 1) << k.message;
        EXPECT_TRUE(has(out, k.message)) << out;
        EXPECT_TRUE(has(out, "Math editing failed")) << out;
    }
}

TEST_F(MathEvalTest, WideSourceAndTracing) {
    curs& s = make_cursor("S", {"W"});
    Select wide;
    wide.item("W", 1, 2049);
    ASSERT_GT(fetch(s, &wide, {{"1"}}), 0);
    std::string out = captured([&] { EXPECT_EQ(answers("R A + S.W", {{"1", "0", "0"}}), Texts{right("0")}); });
    EXPECT_TRUE(has(out, "Excessive size for math sending field S.W")) << out;

    SetUp();
    ASSERT_EQ(define({"R"}, {"R ( A + 2 ) / B"}), 0);
    m->tracem = 1;
    out = captured([&] { fetch(*m, &sel, {{"4", "3", "0"}}); });
    for (const char* line : {"Doing math for M.R", "Math: name = A        4 Len= 8, offset= 0",
                             "Math:  ( 4.000000  +  2.000000 )  /  3.000000 ",
                             "do_arith:  ( 4.000000 + 2.000000 ) / 3.000000",
                             "do_arith:  nil 6.000000 nil nil nil / 3.000000", "4.000000 + 2.000000 = 6.000000",
                             "6.000000 / 3.000000 = 2.000000", "ans= 2.005000 , len= 4, len2= 16, offset= 27, row= 1"})
        EXPECT_TRUE(has(out, line)) << line << "\n" << out;
    out = captured([&] { fetch(*m, &sel, {{"4", "0", "0"}}); });
    EXPECT_TRUE(has(out, "Attempted divide by zero - forcing answer of 0 in R")) << out;
}
