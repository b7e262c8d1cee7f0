#include "channel/evaluator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "channel/serve_nupa.h"
#include "control/distributor.h"
#include "pipeline/row_store.h"
#include "row_fixture.h"
#include "runtime/clock.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

// An evaluation as the file gives it: the operator as written, the value
// numeric when it reads whole as a number.
e_ptr evaluation(const std::string& name, const std::string& column, const std::string& op,
                 const std::string& value, ColumnFunction funct = ColumnFunction::none) {
    e_ptr e;
    e.name = name;
    e.col_name = column;
    e.col_name_ll = static_cast<int16_t>(column.size());
    e.col_funct = static_cast<int32_t>(funct);
    for (char c : op) (c == '<' ? e.less : c == '=' ? e.equal : e.greater) = 1;
    char* end = nullptr;
    e.value = std::strtod(value.c_str(), &end);
    e.value_type = !value.empty() && *end == '\0' ? 1 : 2;
    e.value_text = value;
    e.value_ll = static_cast<int16_t>(value.size());
    return e;
}

class EvaluatorTest : public StoreTest {
protected:
    // A cursor open all day with the columns of words over T (text, 4
    // wide) and N (number, 6 wide), holding the rows (T, N).
    curs& filled(const std::string& name, const std::vector<std::string>& words, const std::vector<Row>& rows) {
        Select s;
        s.item("T", 1, 4).item("N", 2, 6);
        curs& c = make_cursor(name, words);
        c.insert = "INSERT INTO " + name + " VALUES (?)";
        c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        if (!rows.empty()) fetch(c, &s, rows);
        return c;
    }
    // Adds an evaluation the way the file does: next ordinal, in front.
    e_ptr& add(curs& c, e_ptr e) {
        e.cursor_name = c.cur_name;
        e.ordinal = ++ordinal_;
        c.evals.insert(c.evals.begin(), std::move(e));
        return c.evals.front();
    }
    // The entries after one marking: (reason, ordinal) per entry, 0 0
    // for one not selected; the extra entry last.
    std::vector<std::pair<int, int>> marked(curs& c, bool send_false = false) {
        process.send_false = send_false;
        EXPECT_EQ(get_predicate_rows(c, rows), 0);
        mark_entries(c, process, rows);
        std::vector<std::pair<int, int>> out;
        for (const row_entry& e : rows.entries())
            out.emplace_back(e.selected ? e.reason : 0, e.selected ? e.evaluation : 0);
        return out;
    }
    void SetUp() override {
        StoreTest::SetUp();
        process.distrib_name = "evaluator";
        process.class_sw[0] = 1;
    }

    distrib process;
    PredicateRows rows;
    int ordinal_ = 0;
};

using Marks = std::vector<std::pair<int, int>>;

TEST_F(EvaluatorTest, ComparisonClassesAndOperators) {
    columns number;
    number.orig_type = 2;
    number.length = 6;
    columns text;
    text.orig_type = 1;
    text.length = 4;
    columns mark = number;
    mark.col_funct = ColumnFunction::high_water;
    mark.water_mark = "    50";
    const std::string wide_text(2049, 'x');
    columns wide = text;
    wide.length = 2049;
    const struct {
        const columns* col;
        std::string row_value;
        std::string value;
        const char* satisfied;  // the operators that hold, out of < <= = <> >= >
    } cases[] = {
        {&number, "    12", "12", "<= = >="},
        {&number, "    12", "13", "< <= <>"},
        {&number, "   -12", "-13.5", "<> >= >"},
        {&number, "    12", "1.2e1", "<= = >="},
        // A number against a text column compares as text: "9" sorts
        // after "10".
        {&text, "9   ", "10", "<> >= >"},
        {&text, "ab  ", "ab", "<= = >="},
        {&text, std::string("ab\0\0", 4), "ab", "<= = >="},
        {&text, "ab  ", "abc", "< <= <>"},
        {&text, "a   ", "a  b", "< <= <>"},
        {&text, "\xe9   ", "z", "<> >= >"},  // unsigned bytes
        // A water mark is compared instead of the row's value.
        {&mark, "     3", "40", "<> >= >"},
        {&wide, wide_text, "x", ""},  // too long to compare: never satisfied
    };
    const char* ops[] = {"<", "<=", "=", "<>", ">=", ">"};
    for (const auto& k : cases) {
        std::string held;
        for (const char* op : ops) {
            const e_ptr e = evaluation("e", "c", op, k.value);
            if (do_compare(*k.col, k.row_value.data(), e)) held += std::string(held.empty() ? "" : " ") + op;
        }
        EXPECT_EQ(held, k.satisfied) << k.row_value << " against " << k.value;
    }
    EXPECT_TRUE(has(captured([&] { do_compare(wide, wide_text.data(), evaluation("e", "c", "=", "x")); }),
                    "Improper length on column string"));
}

TEST_F(EvaluatorTest, LaterDefinedEvaluationWinsARow) {
    curs& c = filled("ROWS", {"T", "N"}, {{"a", "5"}, {"b", "50"}, {"c", "95"}});
    add(c, evaluation("high", "N", ">", "40"));
    add(c, evaluation("higher", "N", ">=", "95"));
    add(c, evaluation("named", "T", "=", "b"));
    EXPECT_EQ(marked(c), (Marks{{0, 0}, {3, 3}, {3, 2}, {0, 0}}));
    // The oldest evaluation finds its rows taken: it did not fire.
    const e_ptr& high = c.evals.back();
    EXPECT_FALSE(high.fired);
    EXPECT_EQ(high.candidate, &rows.entries()[0]) << "the last row tested that did not satisfy";
    // The extra entry of a cursor without functions is its last row.
    EXPECT_EQ(std::string(rows.extra().text(), 4), std::string("c\0\0\0", 4));
}

TEST_F(EvaluatorTest, FunctionColumnsMarkTheRowHoldingTheValue) {
    curs& c = filled("FUN", {"MAX!N", "MIN!N", "SUM!N", "T"}, {{"a", "7"}, {"b", "9"}, {"c", "3"}, {"d", "9"}});
    add(c, evaluation("max", "N", ">", "8", ColumnFunction::max));
    add(c, evaluation("min", "N", "<", "4", ColumnFunction::min));
    e_ptr& sum = add(c, evaluation("sum", "N", ">", "100", ColumnFunction::sum));
    // MAX marks the first row holding 9, MIN the row holding 3; the SUM
    // of 28 does not hold, so the extra entry is its candidate.
    EXPECT_EQ(marked(c), (Marks{{0, 0}, {1, 1}, {2, 2}, {0, 0}, {0, 0}}));
    EXPECT_FALSE(sum.fired);
    EXPECT_EQ(sum.candidate, &rows.extra());

    e_ptr& total = add(c, evaluation("total", "N", "=", "28", ColumnFunction::sum));
    EXPECT_EQ(marked(c), (Marks{{0, 0}, {1, 1}, {2, 2}, {0, 0}, {3, 4}}));
    EXPECT_TRUE(total.fired);
}

TEST_F(EvaluatorTest, FunctionOfAPlainColumnIsComputedOverTheRows) {
    curs& c = filled("AVG", {"T", "N"}, {{"a", "10"}, {"b", "20"}});
    add(c, evaluation("avg", "N", ">=", "15", ColumnFunction::avg));
    EXPECT_EQ(marked(c), (Marks{{3, 1}, {3, 1}, {3, 1}}));
    c.evals.front() = evaluation("avg", "N", ">", "15", ColumnFunction::avg);
    EXPECT_EQ(marked(c), (Marks{{0, 0}, {0, 0}, {0, 0}}));
    EXPECT_EQ(c.evals.front().candidate, &rows.extra());

    add(c, evaluation("lost", "NOPE", "=", "1"));
    EXPECT_TRUE(has(captured([&] { marked(c); }), "Can't match for eval 2"));
}

TEST_F(EvaluatorTest, SendFalseReportsTheCandidateOnceAnEvaluationStopsHolding) {
    curs& c = filled("SF", {"T", "N"}, {{"a", "50"}});
    e_ptr& e = add(c, evaluation("busy", "N", ">", "40"));
    EXPECT_EQ(marked(c, true), (Marks{{3, 1}, {0, 0}}));
    delete_all(c);
    Select s;
    s.item("T", 1, 4).item("N", 2, 6);
    fetch(c, &s, {{"b", "5"}, {"c", "7"}});
    EXPECT_EQ(marked(c, false), (Marks{{0, 0}, {0, 0}, {0, 0}})) << "only with send_false";
    e.fired = 1;  // as if the previous run had held
    EXPECT_EQ(marked(c, true), (Marks{{0, 0}, {4, 1}, {0, 0}}));
    // Still not holding a run later: fired before is now clear.
    EXPECT_EQ(marked(c, true), (Marks{{0, 0}, {0, 0}, {0, 0}}));
}

TEST_F(EvaluatorTest, RunWritesSelectedRowsOfAcceptedCursors) {
    curs& c = filled("OUT", {"T", "N"}, {{"low", "5"}, {"high", "95"}});
    add(c, evaluation("high", "N", ">", "90"));
    curs& other = filled("CLASS2", {"T", "N"}, {{"cls", "99"}});
    other.class_no = 2;
    add(other, evaluation("x", "N", ">", "0"));
    curs& held = filled("HELD", {"T", "N"}, {{"held", "99"}});
    held.held = 'Y';
    add(held, evaluation("x", "N", ">", "0"));
    filled("NOEVAL", {"T", "N"}, {{"none", "99"}});
    curs& empty = filled("EMPTY", {"T", "N"}, {});
    add(empty, evaluation("x", "N", ">", "0"));

    int rc = -1;
    const std::string out = captured([&] { rc = do_evaluator(now_relative(), process); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(has(out, "#=1,n=T,l=4,o=0,ll=4:high\n")) << out;
    for (const char* absent : {":low\n", ":cls\n", ":held\n", ":none\n"}) EXPECT_FALSE(has(out, absent)) << absent;
    EXPECT_EQ(last_curs, &c);

    // A cursor whose function row fails gives nothing to evaluate.
    curs& bad = filled("BAD", {"AVG!T"}, {{"x", "1"}});
    add(bad, evaluation("x", "T", "=", "1", ColumnFunction::avg));
    EXPECT_EQ(do_evaluator(now_relative(), process), 1);
}

TEST_F(EvaluatorTest, FailingSenderRestoresFired) {
    curs& c = filled("FAIL", {"T", "N"}, {{"a", "95"}, {"b", "96"}});
    e_ptr& e = add(c, evaluation("high", "N", ">", "90"));
    static int sent = 0;
    sent = 0;
    const RowSender failing = [](const curs&, const char*) { return ++sent, 1; };
    EXPECT_EQ(do_evaluator(now_relative(), process, failing), 0);
    EXPECT_EQ(sent, 1) << "sending stops at the first failure";
    EXPECT_EQ(e.fired, 0) << "back to the previous run's";
    e.fired = 1;
    do_evaluator(now_relative(), process, failing);
    EXPECT_EQ(e.fired, 1);
    EXPECT_EQ(e.fired_before, 1);
}

} // namespace
