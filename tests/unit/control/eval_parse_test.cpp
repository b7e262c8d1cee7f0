#include "control/evaluation.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "control/cursor.h"
#include "parse_fixture.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

class EvalParseTest : public ctltest::ParseTest {
protected:
    void SetUp() override {
        ParseTest::SetUp();
        two_cursors();
    }
    int parse(const std::string& text) { return parse_file("qvxeval.ctl", text, parse_eval); }
    static const std::vector<e_ptr>& evals(const char* cursor) { return find_cursor(cursor)->evals; }
};

// Operator flags as (less, equal, greater).
std::tuple<int, int, int> op(const e_ptr& e) { return {e.less, e.equal, e.greater}; }

TEST_F(EvalParseTest, StatementsBuildEvaluationsOnTheirCursors) {
    trace_something = 1;
    ASSERT_EQ(parse(";; not even echoed\n"
                    "; a comment line\n"
                    "eval busy;\n"
                    "   cursor A; column ignored;\n  column MAX!cpu;\n"
                    "OPERATOR\n  >=\n ; the operator ended on the line above\n"
                    ";\n"
                    "value 90.5; text after the end is ignored\n"
                    "EVAL idle;\n"
                    "cursor B;\n"
                    "column hw!Name;\n"
                    "operator <>;\n"
                    "value 'up and running';\n"
                    "eval;\n"
                    "name third;\n"
                    "cursor A;\n"
                    "column state;\n"
                    "value 7 \"x\"; value 8;\n"
                    "operator =<;\n"
                    "END;\n"
                    "eval never; cursor nothing;\n"),
              0)
        << out;
    ASSERT_EQ(evals("A").size(), 2u);
    ASSERT_EQ(evals("B").size(), 1u);
    EXPECT_EQ(eval_count(), 3);

    // Newest first on a cursor.
    const e_ptr& third = evals("A")[0];
    const e_ptr& busy = evals("A")[1];
    const e_ptr& idle = evals("B")[0];
    EXPECT_EQ(std::tie(busy.name, busy.cursor_name, busy.col_name, busy.col_funct, busy.ordinal),
              std::make_tuple("busy", "A", "cpu", 2, 1));
    EXPECT_EQ(op(busy), std::make_tuple(0, 1, 1));
    EXPECT_EQ(std::tie(busy.value_type, busy.value, busy.value_text), std::make_tuple(1, 90.5, "90.5"));
    EXPECT_EQ(busy.col_name_ll, 3);

    EXPECT_EQ(std::tie(idle.col_name, idle.col_funct, idle.ordinal), std::make_tuple("Name", 7, 2));
    EXPECT_EQ(op(idle), std::make_tuple(1, 0, 1));
    EXPECT_EQ(std::tie(idle.value_type, idle.value_text, idle.value_ll), std::make_tuple(2, "up and running", 14));

    // A name statement names an eval statement without one; a second
    // value word replaces the first, also its type.
    EXPECT_EQ(std::tie(third.name, third.ordinal, third.value_type, third.value_text), std::make_tuple("third", 3, 2, "x"));
    EXPECT_EQ(op(third), std::make_tuple(1, 1, 0));
    // Lines are echoed while tracing, comments and ";;" lines are not.
    EXPECT_TRUE(said("PEV1250I", "operator <>;")) << out;
    EXPECT_FALSE(said("PEV1250I", "not even echoed"));
}

TEST_F(EvalParseTest, EachErrorIsReportedAndFailsTheFile) {
    const std::string ok = "cursor A;\ncolumn c;\noperator <;\nvalue 1;\n";
    const struct {
        std::string text;
        const char* id;
        const char* words;
        size_t kept;  // evaluations accepted before the parse gave up
    } cases[] = {
        {"value 1;\n", "PEV1270E", "First word must be 'eval'", 0},
        {"end;\n", "PEV1265E", "First word must be 'eval'", 0},
        {"eval e;\n" + ok + "evaluate x;\neval f;\n" + ok + "end;\n", "PEV1260E", "Unknown keyword (evaluate)", 0},
        {"eval e;\n" + ok + "Cursor B;\nend;\n", "PEV1260E", "Unknown keyword (Cursor)", 0},
        {"eval " + std::string(36, 'n') + ";\n", "PEV1315E", "Excessive length on evaluation name", 0},
        {"eval e;\nname " + std::string(36, 'n') + ";\n" + ok + "end;\n", "PEV1315E", "Excessive length", 0},
        {"eval e;\nname f;\n" + ok + "end;\n", "PEV1310E", "Duplicate evaluation name", 0},
        {"eval e;\ncursor ABCDEFGHI;\n" + ok + "end;\n", "PEV1360E", "Excessive length on Cursor Name", 0},
        {"eval e;\ncursor B;\n" + ok + "end;\n", "PEV1355E", "Duplicate Cursor Name", 0},
        {"eval e;\ncolumn MIN!" + std::string(33, 'c') + ";\n" + ok + "end;\n", "PEV1370E", "Column Name too long", 0},
        {"eval e;\ncolumn d;\n" + ok + "end;\n", "PEV1365E", "Duplicate Column Name c", 0},
        {"eval e;\noperator !;\n" + ok + "end;\n", "PEV1320E", "Invalid operator", 0},
        // The scanner splits operator characters into words of at most two.
        {"eval e;\noperator >!;\n" + ok + "end;\n", "PEV1320E", "Invalid operator", 0},
        {"eval e;\noperator ab;\n" + ok + "end;\n", "PEV1325E", "Invalid operator", 0},
        {"eval e;\noperator abc;\n" + ok + "end;\n", "PEV1335E", "Invalid operator", 0},
        {"eval e;\n" + ok + "value 'open;\nend;\n", "PEV1305E", "Parsing failed : ", 1},
        {"eval e;\n" + ok + "value (2;\neval f;\n" + ok + "end;\n", "PEV1375E", "Parentheses do not balance", 0},
        {"eval e;\ncursor A;\ncolumn c;\nvalue 1;\nend;\n", "PEV1285E", "No Operator", 0},
        {"eval e;\ncursor A;\ncolumn c;\noperator <;\nend;\n", "PEV1290E", "No Value specified", 0},
        {"eval e;\ncursor A;\noperator <;\nvalue 1;\nend;\n", "PEV1295E", "No Column name", 0},
        {"eval e;\ncolumn c;\noperator <;\nvalue 1;\nend;\n", "PEV1280E", "No Cursor name", 0},
        {"eval;\n" + ok + "end;\n", "PEV1275E", "No Evaluation name", 0},
        {"eval e;\ncursor Z;\ncolumn c;\noperator <;\nvalue 1;\neval f;\n" + ok + "end;\n", "PEV1230E",
         "Cursor named Z not found", 1},
    };
    for (const auto& k : cases) {
        SetUp();
        EXPECT_EQ(parse(k.text), 1) << k.text << out;
        EXPECT_TRUE(said(k.id, k.words)) << k.text << out;
        EXPECT_EQ(evals("A").size() + evals("B").size(), k.kept) << k.text << out;
    }
}

// The case rule is the shared keyword rule; the parser's own part is
// that only the given length of the word counts.
TEST_F(EvalParseTest, OnlyTheGivenLengthOfAWordCounts) {
    EXPECT_NE(eval_key_word("END"), 0);
    EXPECT_EQ(eval_key_word("endless", 3), eval_key_word("END"));
    EXPECT_EQ(eval_key_word("operator", 9), 0);
    EXPECT_EQ(eval_key_word("Eval"), 0);
}

} // namespace
