// Host variables in a cursor's SQL text: values of other cursors and
// percent variables merged in before the fetch, in-list texts, and the
// fall-back to the text as written after a failed merge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "pipeline/host_vars.h"
#include "pipeline/in_list.h"
#include "pipeline/percent_cursor.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

class HostVarTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        captured([] { EXPECT_EQ(create_percent_cursor(), 0); });
        rsel.item("NAME", 1, 6).item("NUM", 2, 4).item("BLANK", 1, 3).item("XDISABLE", 1, 6);
        r = &make_cursor("R", {"NAME", "NUM", "BLANK", "XDISABLE"});
        r->in_list.ensure().lists = {InList{"LST", "NAME"}};
        captured([] { edit_in_lists(); });
        q = &make_cursor("Q", {"V"});
        ASSERT_GT(fetch(*r, &rsel, {Row{"ABC", "42", "", "ABC"}}), 0);
    }
    // A fresh merge of the text for Q: the merged text ("" on failure) and
    // the output.
    std::string merged(const std::string& text, std::string* out = nullptr) {
        q->hv_pieces.reset();
        std::string result;
        int n = 0;
        const std::string o = captured([&] { n = set_hvs_in_sel(*q, text, result); });
        if (out) *out = o;
        EXPECT_EQ(n, n > 0 ? static_cast<int>(result.size()) : 0) << text;
        return n > 0 ? result : "";
    }

    Select rsel;
    curs* r = nullptr;
    curs* q = nullptr;
};

TEST_F(HostVarTest, ValuesAreInsertedByTheirKind) {
    q->sample_no = 7;
    refresh_percent_fields(*q, "20240102030405");
    const struct {
        const char* text;
        std::string expected;
    } cases[] = {
        {"a = [R.NAME", "a = 'ABC'"},
        {"a = ![R.NAME AND b", "a = ABC AND b"},
        {"![R.NAME", "ABC"},
        {"a=[R.NUM+1", "a=  42+1"},
        {"a = [R.2", "a =   42"},
        {"a IN ([ R.NAME,[R.BLANK)", "a IN ('ABC',' ')"},
        {"a = [R.XDISABLE", "a = ABC   "},
        {"a[0] = [x '[y'", "a[0] = [x '[y'"},
        {"n = [%sampleno", "n = " + std::string(15, ' ') + "7"},
        {"a = '[R.NAME'", "a = ''ABC''"},
    };
    for (const auto& tc : cases) EXPECT_EQ(merged(tc.text), tc.expected) << tc.text;
}

TEST_F(HostVarTest, FailuresAreReportedAndGiveNothing) {
    make_cursor("E", {"C"});
    curs& t = make_cursor("T", {"C"});
    Select tsel;
    tsel.item("C", 1, 2);
    ASSERT_GT(fetch(t, &tsel, {Row{"x"}}), 0);
    t.cols[0].orig_type = 0;
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"x = [NOPE.X", "Cursor NOPE not found for NOPE.X in sql for Q"},
        {"x = [R.NOCOL", "Column NOCOL not found for R.NOCOL in sql for Q"},
        {"x = [R.", "Column  not found for R. in sql for Q"},
        {"x = [%nosuch", "Column %nosuch not found, cursor Q"},
        {"x = [E.C", "No last row for E.C, cursor Q"},
        {"x = [T.C", "Invalid data_type(0) for T.C, cursor Q"},
    };
    for (const auto& tc : cases) {
        std::string out;
        EXPECT_EQ(merged(tc.text, &out), "") << tc.text;
        EXPECT_TRUE(has(out, tc.message)) << tc.text << ": " << out;
    }
}

TEST_F(HostVarTest, InListNotYetBuiltIsInsertedAndHoldsTheCursor) {
    std::string out;
    EXPECT_EQ(merged("x IN [R.LST", &out), "x IN ( 'ZIP' )");
    EXPECT_EQ(q->held, 'Y');
    for (const char* message : {"Merging LST for sel in Q, in_list not initialized", "Cursor R not yet executed",
                                "Holding cursor Q"})
        EXPECT_TRUE(has(out, message)) << out;

    q->held = 'N';
    build_in_list(*r);
    EXPECT_EQ(merged("x IN [R.LST", &out), "x IN ( 'ABC' )");
    EXPECT_EQ(q->held, 'N');
}

// The fetch merges from the kept pieces; a later failure switches the
// merge off for good and the text runs as written.
TEST_F(HostVarTest, KeptPiecesFollowTheValuesAndAFailureFallsBack) {
    q->sel_piece = "SELECT v FROM t WHERE n = [R.NAME";
    q->bracket = 1;
    std::string scratch;
    EXPECT_EQ(statement_for_fetch(*q, scratch), "SELECT v FROM t WHERE n = 'ABC'");
    ASSERT_TRUE(q->hv_pieces);
    ASSERT_GT(fetch(*r, &rsel, {Row{"XYZ", "1", "", ""}}), 0);
    EXPECT_EQ(statement_for_fetch(*q, scratch), "SELECT v FROM t WHERE n = 'XYZ'");

    delete_all(*r);
    std::string out = captured([&] { EXPECT_EQ(statement_for_fetch(*q, scratch), q->sel_piece); });
    EXPECT_TRUE(has(out, "No last row for R.NAME, cursor Q")) << out;
    EXPECT_EQ(q->bracket, 0);
    ASSERT_GT(fetch(*r, &rsel, {Row{"ABC", "1", "", ""}}), 0);
    EXPECT_EQ(statement_for_fetch(*q, scratch), q->sel_piece);
}

TEST_F(HostVarTest, OddTextsDoNotUpsetTheMerge) {
    std::string repeated;
    for (int i = 0; i < 20000; ++i) repeated += "[R.NUM,";
    std::string expected;
    for (int i = 0; i < 20000; ++i) expected += "  42,";
    for (const std::string& text : {std::string("["), std::string("!["), std::string("[["), std::string(300, '['),
                                    std::string("x\0[R.NAME", 9), std::string(100, '!') + "[%"})
        merged(text);
    EXPECT_EQ(merged(repeated), expected);
    EXPECT_EQ(merged(std::string(5000, '!') + "[R.NAME"), std::string(4999, '!') + "ABC");
    // Values go in as they are: a quote in a value is the SQL's problem.
    ASSERT_GT(fetch(*r, &rsel, {Row{"a';--", "1", "", ""}}), 0);
    EXPECT_EQ(merged("x = [R.NAME"), "x = 'a';--'");
}

} // namespace
