#include "expr/interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "expr/term_values.h"
#include "expr_fixture.h"
#include "pipeline/percent_cursor.h"
#include "runtime/trace.h"

using namespace qvx;
using namespace exprtest;

namespace {

using Ids = std::vector<std::string>;

struct Case {
    const char* text;
    const char* want;  // "i:<text>" integer, "d:<text>" double, "fail", "none"
};

// Cursor M (the current cursor) with a Number column N, text columns
// NAME and C, and the cursor S with a Number column V, each with one row.
class InterpreterTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        m = &table_cursor("M", {{"N", 2, 8}, {"NAME", 1, 10}, {"C", 1, 6}});
        add_row(*m, {"5", "abc", "  1"});
        s = &table_cursor("S", {{"V", 2, 8}});
        add_row(*s, {"-2.5"});
        set_current_cursor(m);
    }

    // The result of text as "i:<value>" or "d:<value>"; "fail" after a
    // failed evaluation, "none" for no result.
    std::string eval(const std::string& text) {
        std::optional<LexemeList> list = parse(text);
        if (!list) return "lexfail";
        TermPtr r = interpreter(*list);
        if (!r) return ids.empty() ? "none" : "fail";
        const char* kind = r->numeric_kind == kIntKind ? "i:" : r->numeric_kind == kDoubleKind ? "d:" : "t:";
        return kind + std::string(value_view(*r));
    }

    void check(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            ids.clear();
            EXPECT_EQ(eval(c.text), c.want) << c.text << (lines.empty() ? "" : " " + lines.back());
        }
    }

    // The ids an expression writes, its result alongside.
    Ids ids_of(const std::string& text, std::string* result = nullptr) {
        ids.clear();
        lines.clear();
        const std::string r = eval(text);
        if (result) *result = r;
        return ids;
    }

    curs* m = nullptr;
    curs* s = nullptr;
};

} // namespace

// The order of the operations is the lexer's; here the operands reach
// each operation the right way round.
TEST_F(InterpreterTest, OperandOrderAndFunctions) {
    check({
        {"7 - 2 - 1", "i:4"},
        {"8 / 2 / 2", "d:2.000000"},
        {"(1 = 1 OR 1 = 2) AND 1 = 2", "i:0"},
        {"(NOT 1 = 1) OR 2 > 1", "i:1"},
        {"(-2) + 5", "i:3"},
        {"(-(2 + 3)) * 2", "i:-10"},
        {"1 + 1 = 2", "i:1"},
        {"func1(3)", "i:-3"},
        {"func2(3, 4) * 2", "i:14"},
        {"func3(1, 2, 100)", "i:3"},  // the third argument is not used
        {"(X)", "none"},              // no operation, no result
        {"", "none"},
    });
}

TEST_F(InterpreterTest, ArithmeticTypes) {
    check({
        {"7 / 2", "d:3.500000"},
        {"7 * 2", "i:14"},
        {"7 + 0.5", "d:7.500000"},
        {"0.5 + 7", "d:7.500000"},
        {"'12' + 1", "i:13"},      // a text that reads as a number
        {"' 1.5' * 2", "d:3.000000"},
        {"2147483647 + 1", "d:2147483648.000000"},  // beyond a 32-bit integer
        {"N * 2", "d:10.000000"},  // a Number column is a double
        {"C + 1", "i:2"},          // "  1" reads as 1
        {"1.5 - S.V", "d:4.000000"},
    });
    EXPECT_EQ(ids_of("N / 0"), (Ids{"INT0340E", "INT0030E"}));
    EXPECT_EQ(lines.back(), "INT0030 Operation / failed\n");
    EXPECT_EQ(ids_of("1 / 0.0"), (Ids{"INT0340E", "INT0030E"}));
    EXPECT_EQ(ids_of("'abc' + 1"), (Ids{"INT0315E", "INT0030E"}));
    EXPECT_EQ(lines.front(), "INT0315 Can't convert argument abc to numeric for an arithmetic operation\n");
    EXPECT_EQ(ids_of("NAME * 2"), (Ids{"INT0315E", "INT0030E"}));
    // After an operator "-" is subtraction: "=" then lacks an argument.
    EXPECT_EQ(ids_of("N = -1"), (Ids{"INT0056E"}));
    EXPECT_EQ(lines.back(), "INT0056 operation = should have 2 arguments\n");
    EXPECT_EQ(eval("N = (-1) + 6"), "i:1");
}

TEST_F(InterpreterTest, ComparisonTypes) {
    check({
        {"'b' < 'aa'", "i:1"},       // the shorter text is smaller
        {"'abc' = 'abc   '", "i:1"}, // trailing blanks do not count
        {"'abd' > 'abc'", "i:1"},
        {"NAME = 'abc'", "i:1"},
        {"NAME ^= 'abc'", "i:0"},
        {"(C = 1)", "i:1"},          // "  1" converts
        {"'10' > 9", "i:1"},
        {"9 < '10'", "i:1"},
        {"1.5 = 1", "i:0"},          // any difference counts
        {"1.5 > 1", "i:1"},
        {"N >= 5 AND N <= 5", "i:1"},
        {"N > 5", "i:0"},
        {"S.V < 0", "i:1"},
        {"1 ^= 2", "i:1"},
    });
    add_row(*m, {"5", "ABC", "x"});  // the newest row is read
    EXPECT_EQ(eval("NAME = 'abc'"), "i:0");
    EXPECT_EQ(ids_of("'x1' > 9"), (Ids{"INT0190E", "INT0030E"}));
    EXPECT_EQ(ids_of("9 > 'x1'"), (Ids{"INT0210E", "INT0030E"}));
    EXPECT_EQ(ids_of("C > 9"), (Ids{"INT0190E", "INT0030E"}));
}

TEST_F(InterpreterTest, LogicalOperatorsWantNumbers) {
    check({
        {"1 AND 2", "i:1"},
        {"0.0 OR 0", "i:0"},
        {"(NOT 0.0)", "i:1"},
        {"N AND 1", "i:1"},
    });
    EXPECT_EQ(ids_of("N > 1 AND NAME"), (Ids{"INT0160E", "INT0030E"}));
    EXPECT_EQ(ids_of("1 OR 'x'"), (Ids{"INT0150E", "INT0030E"}));
    EXPECT_EQ(lines.front(), "INT0150 Arguments for OR operation must be I_NUMERIC\n");
    EXPECT_EQ(ids_of("(NOT 'x')"), (Ids{"INT0170E", "INT0030E"}));
}

TEST_F(InterpreterTest, LikePatterns) {
    struct Like {
        const char* value;
        const char* pattern;
        bool match;
    };
    const Like cases[] = {
        {"abc", "ab%", true},    {"ab", "ab%", true},      {"xab", "ab%", false},  {"abc", "%bc", true},
        {"xxbc", "%bc", true},   {"abcXbc", "%bc", false},  // the first "bc" must end the value
        {"abc", "a_c", true},    {"ac", "a_c", false},     {"abbc", "a_c", false}, {"ab", "ab_", true},
        {"abc", "ab_", true},    {"abcd", "ab_", false},   {"abc", "abc", true},   {"abcd", "abc", false},
        {"abc", "%", true},      {"abc", "A%", false},     {"ab  ", "ab", true},   {"axbyc", "a%b%c", true},
        {"abc", "%_", true},     {"xaybc", "%a_b%", true}, {"abc", "a%%c", true},
        {"waited_EX_ADDR", "waited_%_ADDR", false},  // a % right before a _ skips nothing
    };
    for (const Like& c : cases) {
        ids.clear();
        EXPECT_EQ(eval("'" + std::string(c.value) + "' LIKE '" + c.pattern + "'"), c.match ? "i:1" : "i:0")
            << c.value << " LIKE " << c.pattern;
        EXPECT_TRUE(ids.empty());
    }
    EXPECT_EQ(eval("NAME LIKE 'ab%'"), "i:1");
    // Constants are shared ignoring case: 'a%' is the term of 'A%' above.
    EXPECT_EQ(eval("NAME LIKE 'a%'"), "i:0");
}

// Empty values, blank padding and cursors without rows.
TEST_F(InterpreterTest, EmptyAndBlankValues) {
    curs& e = table_cursor("E", {{"T", 1, 4}, {"Z", 2, 6}});
    std::string result;
    EXPECT_EQ(ids_of("E.T = 0", &result), Ids{"INT0180W"});  // no row yet: empty, reads as 0
    EXPECT_EQ(result, "i:1");
    EXPECT_EQ(lines.front(), "INT0180 Value for column T is an empty string\n");
    EXPECT_EQ(ids_of("E.T = ''", &result), (Ids{"LEX0390W", "INT0180W"}));
    EXPECT_EQ(result, "i:0");  // '' stands for a blank: longer than nothing
    add_row(e, {"12  ", "0"});
    EXPECT_EQ(ids_of("E.T = 12"), (Ids{"INT0190E", "INT0030E"}));  // blanks after the digits
    EXPECT_EQ(eval("E.T = '12'"), "i:1");
    EXPECT_EQ(eval("E.Z = 0"), "i:1");
    // With the debug switch an empty value is no argument.
    my_trace_all[8] = 1;
    add_row(e, {"", "0"});
    EXPECT_EQ(ids_of("E.T = 'x';"), (Ids{"SMZIF100T", "INT0100E", "INT0054E"}));
    EXPECT_EQ(lines[0], "SMZIF100 variable x value is x\n");
    EXPECT_EQ(lines[1], "INT0100 No value for column T\n");
    EXPECT_EQ(ids_of("1 = 1;"), (Ids{"SMZIF100T", "SMZIF100T"}));
}

TEST_F(InterpreterTest, NamesResolveToColumnsPercentAndWorkVariables) {
    ASSERT_EQ(create_percent_cursor(), 0);
    check({
        {"N = 5", "i:1"},                    // own column
        {"S.V = (-2.5)", "i:1"},             // another cursor's column
        {"%rowno = 0", "i:1"},               // a percent variable, blank
        {"STATUS = 'STATUS'", "i:1"},        // a work variable: its own name
        {"status = 'STATUS'", "i:1"},
    });
    curs row_cursor;
    row_cursor.row_no = 7;
    refresh_percent_fields(row_cursor, "20240102030405");
    EXPECT_EQ(eval("%rowno = 7"), "i:1");
    set_request_parms(std::vector<std::string>{"42"}, 1);
    EXPECT_EQ(eval("%parm0 + 1"), "d:43.000000");

    // The same parse follows the column's newest row on every evaluation.
    std::optional<LexemeList> stored = parse("S.V > 0");
    ASSERT_TRUE(stored);
    LexemeList work = *stored;
    EXPECT_EQ(value_view(*interpreter(work)), "0");
    add_row(*s, {"3"});
    work = *stored;
    EXPECT_EQ(value_view(*interpreter(work)), "1");

    // Made again, the cursors are found again.
    delete_cursors();
    curs& again = table_cursor("S", {{"X", 1, 2}, {"V", 2, 4}});
    add_row(again, {"", "-1"});
    work = *stored;
    EXPECT_EQ(value_view(*interpreter(work)), "0");

    my_trace_all[0] = 1;  // lets the "h" messages through
    EXPECT_EQ(ids_of("NOPE.X = 1"), (Ids{"INT0500E", "INT0052E"}));
    EXPECT_EQ(lines.front(), "INT0500 Cursor NOPE not found for column X\n");
    EXPECT_EQ(ids_of("S.NOPE = 1"), (Ids{"INT0510T", "INT0052E"}));
    EXPECT_EQ(ids_of("%nope = 1"), (Ids{"INT0520E", "INT0052E"}));
    my_trace_all[8] = 1;
    set_current_cursor(&again);
    ids_of("OTHER = 'OTHER';");
    EXPECT_TRUE(wrote("INT0420T"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "INT0420 OTHER in cursor S assumed a working variable name\n"),
              lines.end());
}

TEST_F(InterpreterTest, AssignmentByTargetType) {
    Term* n = name_term("NUM");
    n->data_type = kInteger;
    Term* d = name_term("DEC");
    d->data_type = kDecimal;
    check({
        {"X := 'abc'", "i:1"},
        {"X = 'abc'", "i:1"},
        {"NUM := 2.7", "i:1"},
        {"NUM = 2", "i:1"},      // truncated toward zero
        {"NUM := (-0.5)", "i:0"},
        {"DEC := 7 / 2", "i:1"},
        {"DEC * 2", "d:7.000000"},
        {"DEC := '1.25'", "i:1"},
        {"DEC = 1.25", "i:1"},
    });
    EXPECT_STREQ(d->value, "1.250000");
    EXPECT_EQ(ids_of("DEC := 'abc'"), (Ids{"INT0270E", "INT0030E"}));
    // ROW takes every operand before it, the target too.
    EXPECT_EQ(ids_of("X := ROW(N, rfa)"), (Ids{"INT0056E"}));
}

// SUM keeps a sum per group; ROW tells when a select-list value changes.
TEST_F(InterpreterTest, SumAndRowAcrossTheRowsOfASelect) {
    curs& t = table_cursor("T", {{"G", 2, 4}, {"V", 2, 4}});
    set_current_cursor(&t);
    std::optional<LexemeList> sums = parse("ROW(SUM(V), rfa)");
    std::optional<LexemeList> groups = parse("ROW(G, rfa)");
    ASSERT_TRUE(sums && groups);
    const std::vector<std::pair<std::string, std::string>> rows = {{"5", "1"}, {"5", "2"}, {"7", "3"}};
    std::vector<int> status;
    for (size_t i = 0; i < rows.size(); ++i) {
        add_row(t, {rows[i].first, rows[i].second});
        set_proc_mode(i == 0 ? 0 : 2);
        LexemeList work = *sums;
        TermPtr sum = interpreter(work);
        ASSERT_TRUE(sum);
        ASSERT_NE(sum->vector_next, nullptr);
        EXPECT_EQ(number_of(*sum->vector_next), static_cast<double>((i + 1) * (i + 2) / 2));
        work = *groups;
        ASSERT_TRUE(interpreter(work));
        status.push_back(get_row_status());
    }
    EXPECT_EQ(status, (std::vector<int>{2, 2, 3}));
    // A new group starts from its first row.
    set_proc_mode(1);
    LexemeList work = *sums;
    TermPtr sum = interpreter(work);
    EXPECT_EQ(number_of(*sum->vector_next), 3.0);
    set_proc_mode(2);
    work = *groups;
    ASSERT_TRUE(interpreter(work));
    EXPECT_EQ(get_row_status(), 3);  // the copy still holds the first group's 5
    EXPECT_TRUE(ids.empty());

    set_proc_mode(2);
    EXPECT_EQ(ids_of("SUM(V * 2)"), (Ids{"SEL0150S", "INT0030E"}));  // a work variable keeps no sum
    set_proc_mode(5);
    EXPECT_EQ(ids_of("ROW(G, rfa)"), (Ids{"SEL0300S", "INT0030E"}));
}

TEST_F(InterpreterTest, ListsAndWorkVariables) {
    // An argument that is no term, and an operation without a procedure.
    Term broken;
    broken.tag = 7;
    LexemeList list = {{nullptr, &broken}, {nullptr, &broken}, {find_oper_type("="), nullptr}, {}};
    EXPECT_FALSE(interpreter(list));
    EXPECT_EQ(ids, Ids{"INT0040E"});
    ids.clear();
    lines.clear();
    list = {{operation_row("(", 0), nullptr}, {}};
    EXPECT_FALSE(interpreter(list));
    EXPECT_EQ(lines, std::vector<std::string>{"INT0125 Procedure to perform operation ( not defined\n"});

    // Every work variable but the result goes back to the reuse list.
    clear_reuse_list();
    list = *parse("1 + 2 + 3 + 4 = 10");
    TermPtr r = interpreter(list);
    ASSERT_TRUE(r);
    EXPECT_EQ(reuse_list_size(), 3u);
    r.reset();
    EXPECT_EQ(reuse_list_size(), 4u);
    list = *parse("1 + 2 = 3");
    r = interpreter(list);
    EXPECT_TRUE(r);
    EXPECT_EQ(reuse_list_size(), 3u);  // taken from the list, not allocated

    Term odd;
    odd.entry_type = 9;
    EXPECT_EQ(edit_arg_term(odd), 1);
    EXPECT_EQ(ids.back(), "INT0430E");

    Term* chain = nullptr;
    Term keep;
    ids.clear();
    free_work_chain(chain, &keep, kFreeTerm);
    EXPECT_EQ(ids, Ids{"INT0070W"});
}

using InterpreterDeathTest = InterpreterTest;

// A corrupted processing mode, and a sum over a value that is no number,
// end the collector.
TEST_F(InterpreterDeathTest, CorruptedSelectStateEndsTheCollector) {
    auto to_stderr = [](char letter, const char* msgid, const std::string& text) {
        std::fprintf(stderr, "%s%c %s", msgid ? msgid : "", letter, text.c_str());
    };
    EXPECT_EXIT(
        {
            set_message_tap(to_stderr);
            set_proc_mode(7);
            eval("SUM(N)");
            std::exit(3);
        },
        testing::ExitedWithCode(0), "SEL0140S Corrupted: quitting");
    EXPECT_EXIT(
        {
            set_message_tap(to_stderr);
            eval("SUM(NAME)");
            std::exit(3);
        },
        testing::ExitedWithCode(0), "SEL0170S A TERM_TABLE struct corrupted: quitting");
}
