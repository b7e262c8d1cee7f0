// Decodes on rows built through merge_text: each family of operators
// against values chosen where a wrong comparison (bytes instead of
// numbers, a missed blank, a wrong alignment) gives another result; and
// the tests that loads and iterations use.
#include <gtest/gtest.h>

#include <algorithm>

#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;
using Texts = std::vector<std::string>;

namespace {

// A column's bytes with the zero bytes a fetch leaves after a short text
// shown as '~', so that an expected value says where they must stay.
std::string shown(std::string s) {
    std::replace(s.begin(), s.end(), '\0', '~');
    return s;
}

struct Case {
    std::vector<std::string> clauses;
    Value value;
    std::string expected;  // the column after the decodes
};

class DecodeTest : public StoreTest {
protected:
    // A cursor C with one column V (Number when number is set) of the
    // width, its decodes bound; the row of value stored through
    // merge_text; V as stored.
    std::string decoded(const Case& k, bool number, int width) {
        qvxtest::reset_collector_state();
        Select sel;
        sel.item("V", number ? 2 : 1, width);
        curs& c = make_cursor("C", {"V"});
        for (const std::string& clause : k.clauses) EXPECT_EQ(parse_decode(c, clause), 0) << clause;
        EXPECT_EQ(edit_decode(), 0);
        EXPECT_GT(fetch(c, &sel, {Row{k.value}}), 0);
        return c.rows.last() ? shown(column_text(c, *c.rows.last(), "V")) : "";
    }

    void check(const std::vector<Case>& cases, bool number, int width) {
        for (const Case& k : cases) {
            std::string out;
            std::string got;
            out = captured([&] { got = decoded(k, number, width); });
            EXPECT_EQ(got, k.expected) << k.clauses[0] << " on " << k.value.value_or("NULL") << "\n" << out;
        }
    }
};

TEST_F(DecodeTest, NumericConstantsCompareAsNumbers) {
    check({
              // bytes of right-aligned "   -5" sort below "  -10"; as numbers -5 is above
              {{"V > -10 , 'ABOVE'"}, "-5", "ABOVE"},
              {{"V > 100 , 'HIGH'"}, "20", "   20"},
              {{"V >= 2.50 , 'GE'"}, "2.5", "GE   "},
              {{"V < 2.50 , 'LT'"}, "2.5", "  2.5"},
              {{"V <= 3 , 'LOW'"}, "3", "LOW  "},
              {{"V = 7 , 'SEVEN'"}, "7", "SEVEN"},
              {{"V = 7 , 'SEVEN'"}, "70", "   70"},
              {{"V ~= 1 , 99"}, "1", "    1"},
              {{"V ~= 1 , 99"}, "2", "   99"},
              // a number replacing a number is right-aligned in the width
              {{"V < 0 , 0"}, "-3", "    0"},
              // first match wins, in clause order
              {{"V > 1 , 'A'", "V > 2 , 'B'"}, "5", "A    "},
              {{"V > 9 , 'A'", "V > 2 , 'B'"}, "5", "B    "},
          },
          true, 5);
}

TEST_F(DecodeTest, MaskMatchesWhenAnyBitIsShared) {
    std::vector<Case> cases;
    for (const char* v : {"4", "5", "6", "7", "12"}) cases.push_back({{"V & 4 , 1"}, v, "    1"});
    for (std::string v : {"3", "8", "0"}) cases.push_back({{"V & 4 , 1"}, v, std::string(5 - v.size(), ' ') + v});
    check(cases, true, 5);
}

TEST_F(DecodeTest, StringsCompareBytesOverTheWidth) {
    check({
              {{"V = 'OPEN' , 'O'"}, "OPEN", "O     "},
              {{"V = 'OPEN' , 'O'"}, "OPENED", "OPENED"},
              {{"V > 'B' , 'AFTER'"}, "C", "AFTER "},
              {{"V < 'B' , 'BEFORE'"}, "C", "C~~~~~"},
              {{"V ~= 'OPEN' , 'OTHER'"}, "SHUT", "OTHER "},
              // a replacement longer than the column is cut
              {{"V = 'X' , 'ABCDEFGHIJ'"}, "X", "ABCDEF"},
              {{"V search 'PEN' , 'HAS'"}, "OPENED", "HAS   "},
              {{"V search 'PEN  ' , 'HAS'"}, "SPENT", "HAS   "},
              {{"V search 'PEN' , 'HAS'"}, "PE", "PE~~~~"},
          },
          false, 6);
}

TEST_F(DecodeTest, NullAndDefault) {
    check({
              {{"V NULL 'N/A'"}, std::nullopt, "N/A "},
              {{"V = 'NULL' , 'TEXT'", "V NULL 'N/A'"}, std::nullopt, "N/A "},
              // no NULL operation: the value is tested as the NULL text it holds
              {{"V = 'NULL' , 'TEXT'"}, std::nullopt, "TEXT"},
              {{"V DEFAULT 'D'", "V = 'A' , 'X'"}, "A", "X   "},
              {{"V DEFAULT 'D'", "V = 'A' , 'X'"}, "B", "D   "},
              {{"V NULL 'N/A'", "V DEFAULT 'D'"}, "B", "D   "},
          },
          false, 4);
    check({{{"V DEFAULT 0"}, "12", "  0"}, {{"V NULL -1"}, std::nullopt, " -1"}}, true, 3);
}

TEST_F(DecodeTest, AndPartsMustAllHold) {
    check({
              {{"V = 1 and ~= 2 , 'ONE'"}, "1", "ONE"},
              {{"V > 1 and < 5 , 'MID'"}, "3", "MID"},
              {{"V > 1 and < 5 , 'MID'"}, "5", "  5"},
              {{"V > 1 AND < 5 and ~= 3 , 'MID'"}, "3", "  3"},
              {{"V > 0 and & 1 , 'ODD'"}, "7", "ODD"},
              {{"V > 0 and & 1 , 'ODD'"}, "8", "  8"},
          },
          true, 3);
}

// Column operands and replacements: the row's own columns and another
// cursor's current row.
class DecodeColumnTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ref_sel.item("LIMIT", 2, 4).item("NAME", 1, 8);
        ref = &make_cursor("REF", {"LIMIT", "NAME"});
        ASSERT_GT(fetch(*ref, &ref_sel, {Row{"10", "first"}, Row{"50", "second"}}), 0);
        sel.item("V", 2, 4).item("W", 2, 4).item("S", 1, 6);
        c = &make_cursor("C", {"V", "W", "S"});
    }
    // The row's V, W and S after the clauses (the only decodes of C).
    Texts run(const std::vector<std::string>& clauses, const Row& row) {
        c->decode.reset();
        for (columns& col : c->cols) col.decode_list = -1;
        for (const std::string& clause : clauses) EXPECT_EQ(parse_decode(*c, clause), 0) << clause;
        EXPECT_EQ(edit_decode(), 0);
        EXPECT_GT(fetch(*c, &sel, {row}), 0);
        const row_data& r = *c->rows.last();
        return {shown(column_text(*c, r, "V")), shown(column_text(*c, r, "W")), shown(column_text(*c, r, "S"))};
    }
    Select ref_sel, sel;
    curs* ref = nullptr;
    curs* c = nullptr;
};

TEST_F(DecodeColumnTest, OwnColumnOperandAndReplacement) {
    // A Number column takes a wider source right-aligned: its rightmost bytes.
    EXPECT_EQ(run({"V > W , S"}, Row{"9", "10", "ab"}), (Texts{"   9", "  10", "ab~~~~"}));
    EXPECT_EQ(run({"V > W , S"}, Row{"11", "10", "abcdef"}), (Texts{"cdef", "  10", "abcdef"}));
    EXPECT_EQ(run({"S > 'a' , V"}, Row{"42", "0", "b"}), (Texts{"  42", "   0", "  42  "}));
}

TEST_F(DecodeColumnTest, AnotherCursorIsReadAtItsCurrentRow) {
    // The newest row of REF holds 50; the reading row, when set, wins.
    EXPECT_EQ(run({"V >= REF.LIMIT , REF.NAME"}, Row{"20", "0", "x"})[0], "  20");
    EXPECT_EQ(run({"V >= REF.LIMIT , REF.NAME"}, Row{"60", "0", "x"})[0], "cond");
    ref->reading_row = ref->rows.first();
    EXPECT_EQ(run({"V >= REF.LIMIT , REF.NAME"}, Row{"20", "0", "x"})[0], "irst");
    EXPECT_EQ(run({"S = REF.NAME , 'SAME'"}, Row{"1", "0", "first"})[2], "SAME  ");
}

TEST_F(DecodeColumnTest, AMissingSourceSkipsTheDecode) {
    // REF is C's age_to target: nothing is read from it before C's first copy.
    c->age_to = "REF";
    c->copy_pending = 1;
    c->traced = 1;
    std::string out = captured([&] { EXPECT_EQ(run({"V > REF.LIMIT , 0", "V DEFAULT 7"}, Row{"60", "0", "x"})[0], "  60"); });
    EXPECT_TRUE(has(out, "Skipping decode - refers to age_to cursor")) << out;
    c->copy_pending = 0;  // the first copy was made
    captured([&] { EXPECT_EQ(run({"V > REF.LIMIT , 0"}, Row{"60", "0", "x"})[0], "   0"); });
    delete_all(*ref);
    out = captured([&] { EXPECT_EQ(run({"V > REF.LIMIT , 0", "V DEFAULT 7"}, Row{"5", "0", "x"})[0], "   5"); });
    EXPECT_TRUE(has(out, "Decode, referenced cursor REF has no rows - skipping decode")) << out;
}

TEST_F(DecodeColumnTest, InListOperand) {
    ref->in_list.ensure().lists.push_back(InList{"NAMES", "NAME"});
    ref->in_list.ensure().lists.push_back(InList{"LIMITS", "LIMIT"});
    ASSERT_EQ(edit_in_lists(), 0);
    build_in_list(*ref);
    EXPECT_EQ(run({"S in REF.NAMES , 'KNOWN'"}, Row{"1", "0", "second"})[2], "KNOWN ");
    EXPECT_EQ(run({"S in REF.NAMES , 'KNOWN'"}, Row{"1", "0", "secon"})[2], "secon~");
    EXPECT_EQ(run({"V in REF.LIMITS , 1"}, Row{"50", "0", "x"})[0], "   1");
    // "5" is inside "50" but not a value of the list
    EXPECT_EQ(run({"V in REF.LIMITS , 1"}, Row{"5", "0", "x"})[0], "   5");
}

TEST_F(DecodeColumnTest, RunSchedulesEachDistinctRowOnce) {
    ASSERT_EQ(parse_decode(*c, "V > 0 run REF"), 0);
    ASSERT_EQ(parse_decode(*c, "W > 0 run REF"), 0);
    ASSERT_EQ(edit_decode(), 0);
    ASSERT_GT(fetch(*c, &sel, {Row{"1", "1", "a"}, Row{"0", "0", "b"}, Row{"2", "0", "c"}}), 0);
    ASSERT_EQ(c->post_cursors.size(), 2u);
    EXPECT_EQ(std::make_pair(c->post_cursors[0].cursor, c->post_cursors[0].row_no), std::make_pair(ref, 1));
    EXPECT_EQ(std::make_pair(c->post_cursors[1].cursor, c->post_cursors[1].row_no), std::make_pair(ref, 3));
    EXPECT_EQ(column_values(*c, "V"), (Texts{"   1", "   0", "   2"}));
}

// The tests of loads and iterations: a test on a stored row.
TEST_F(DecodeColumnTest, StoredRowTests) {
    const struct {
        const char* text;
        std::vector<bool> holds;  // for REF's rows 10/first and 50/second
    } cases[] = {
        {"LIMIT > 20", {false, true}},
        {"NAME = 'first'", {true, false}},
        {"LIMIT > 5 and < 20", {true, false}},
        {"NAME search 'con'", {false, true}},
        {"LIMIT DEFAULT", {true, true}},
    };
    for (const auto& k : cases) {
        DecodeAnchor test;
        ASSERT_EQ(parse_decode_test(*ref, k.text, test), 0) << k.text;
        ASSERT_EQ(test.ops.size(), 1u);
        ASSERT_EQ(bind_decode_test(*ref, *ref, test, "tst0001", "Column %s not in %s\n"), 0) << k.text;
        std::vector<bool> got;
        for (const row_data* r = ref->rows.first(); r; r = r->next) got.push_back(decode_test_holds(*ref, *ref, test, *r));
        EXPECT_EQ(got, k.holds) << k.text;
    }
}

TEST_F(DecodeColumnTest, StoredRowTestOperandFromTheOwner) {
    // A test on REF's rows whose operand is a column of C, read from C's
    // current row.
    ASSERT_GT(fetch(*c, &sel, {Row{"30", "0", "x"}}), 0);
    DecodeAnchor test;
    ASSERT_EQ(parse_decode_test(*c, "LIMIT > V", test), 0);
    ASSERT_EQ(bind_decode_test(*c, *ref, test, "tst0001", "Column %s not in %s\n"), 0);
    EXPECT_FALSE(decode_test_holds(*c, *ref, test, *ref->rows.first()));
    EXPECT_TRUE(decode_test_holds(*c, *ref, test, *ref->rows.last()));
}

TEST_F(DecodeColumnTest, StoredRowTestBindingErrors) {
    DecodeAnchor test;
    ASSERT_EQ(parse_decode_test(*c, "NOPE = 1", test), 0);
    std::string out = captured([&] { EXPECT_EQ(bind_decode_test(*c, *ref, test, "tst0001", "Column %s not in %s\n"), 1); });
    EXPECT_TRUE(has(out, "Column NOPE not in REF")) << out;
    ASSERT_EQ(parse_decode_test(*c, "LIMIT = GONE and > OTHER.X", test), 0);
    out = captured([&] { EXPECT_EQ(bind_decode_test(*c, *ref, test, "tst0001", "Column %s not in %s\n"), 1); });
    EXPECT_TRUE(has(out, "Operand column(GONE) not in cursor C")) << out;
    EXPECT_TRUE(has(out, "'And' column(OTHER.X) not in cursor C")) << out;
}

} // namespace
