#include "expr/lexer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "expr_fixture.h"
#include "runtime/trace.h"

using namespace qvx;
using namespace exprtest;

namespace {

using Ids = std::vector<std::string>;

class LexerTest : public ExprTest {};

size_t terms_of_type(int32_t entry_type) {
    size_t n = 0;
    for (const Term* t = get_lex_term_tb_anchor(); t; t = t->next) n += t->entry_type == entry_type;
    return n;
}

} // namespace

// Operands first, then operations: higher priority binds first, equal
// priority to the left, parentheses and commas leave no trace.
TEST_F(LexerTest, ReversePolishOrderFollowsPriorityAndAssociativity) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"A + B * C", "A B C * +"},
        {"A * B + C", "A B * C +"},
        {"A - B - C", "A B - C -"},
        {"A / B * C", "A B / C *"},
        {"(A + B) * C", "A B + C *"},
        {"A = 1 AND B = 2 OR C = 3", "A 1 = B 2 = AND C 3 = OR"},
        {"A = 1 OR B = 2 AND C = 3", "A 1 = B 2 = C 3 = AND OR"},
        {"A + 1 > B * 2", "A 1 + B 2 * >"},
        {"(NOT A = 1)", "A 1 = NOT"},
        {"(NOT (A)) AND B", "A NOT B AND"},
        {"A = (-1)", "A 1 neg ="},
        {"A = -1", "A 1 - ="},  // "-" after an operator is subtraction
        {"X := Y + 1", "X Y 1 + :="},
        {"A LIKE 'ab%' OR A ^= B", "A 'ab%' LIKE A B ^= OR"},
        {"A >= 1 AND A <= 2 AND A < 3", "A 1 >= A 2 <= AND A 3 < AND"},
        {"SUM(X) + 1", "X SUM 1 +"},
        {"SUM (X)", "X SUM"},
        {"func2(A, B * 2) = 3", "A B 2 * func2 3 ="},
        {"func3(A, (B), C)", "A B C func3"},
        {"ROW(A, SUM(B), rfa)", "A B SUM rfa ROW"},
        {"CURS.COL = 1", "CURS.COL 1 ="},
        {"CURS . COL > 2", "CURS.COL 2 >"},
        {"%rowno > 1 or !x = 2", "%rowno 1 > !x 2 = OR"},
        {".5 < 1.25", ".5 1.25 <"},
        {"\"it's\" = 'say \"x\"'", "'it's' 'say \"x\"' ="},
        {", A = _b", "A _b ="},
        {"A = 1; B = 2", "A 1 ="},
        {"STATUS = 'ACTIVE' AND CPU > 80 OR SESSIONS.COUNT >= 10;",
         "STATUS 'ACTIVE' = CPU 80 > AND SESSIONS.COUNT 10 >= OR"},
        {"(NOT WAITS.EVENT LIKE 'latch%') AND %rowno > 1;", "WAITS.EVENT 'latch%' LIKE NOT %rowno 1 > AND"},
        {"USED * 100 / TOTAL > 90.5;", "USED 100 * TOTAL / 90.5 >"},
        {"", ""},
        {";", ""},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(rpn(text), want) << text;
        EXPECT_TRUE(ids.empty()) << text << ": " << lines.front();
        ids.clear();
    }
}

// Every lexing failure names its cause and ends with LEX0005; nothing is
// returned.
TEST_F(LexerTest, FailuresReportTheirIds) {
    const std::vector<std::pair<std::string, Ids>> cases = {
        {"X = 1 Y", {"LEX0090E", "LEX0005E"}},  // Y read as an operation
        {"A B", {"LEX0090E", "LEX0005E"}},
        {"A ANDX B", {"LEX0090E", "LEX0005E"}},  // an operation's whole text must match
        {"A AN B", {"LEX0090E", "LEX0005E"}},
        {"A = OR(1)", {"LEX0260E", "LEX0060E", "LEX0005E"}},  // an operation is no function
        {"(A = 1", {"LEX0110E", "LEX0005E"}},
        {"A = 1)", {"LEX0045E", "LEX0005E"}},
        {"A )", {"LEX0045E", "LEX0005E"}},
        {"NOT(X)", {"LEX0260E", "LEX0060E", "LEX0005E"}},
        {"A (B)", {"LEX0260E", "LEX0060E", "LEX0005E"}},
        {"1.2.3", {"LEX0345E", "LEX0060E", "LEX0005E"}},
        {".", {"LEX0350E", "LEX0060E", "LEX0005E"}},
        {"'a;b'", {"LEX0410E", "LEX0060E", "LEX0005E"}},
        {"A = 'abc", {"LEX0410E", "LEX0060E", "LEX0005E"}},
        {"'a\x01#'", {"LEX0380E", "LEX0060E", "LEX0005E"}},
        {"#", {"LEX0015E", "LEX0005E"}},
        {"A =$", {"LEX0080E", "LEX0005E"}},
        {"A = $", {"LEX0020E", "LEX0005E"}},
        {"A#", {"LEX0150E", "LEX0060E", "LEX0005E"}},
        {"12#", {"LEX0340E", "LEX0060E", "LEX0005E"}},
        {"C.X# = 1", {"LEX0190E", "LEX0060E", "LEX0005E"}},
        {"ABCDEFGHI.COL = 1", {"LEX0180E", "LEX0060E", "LEX0005E"}},
        {"X. = 1", {"LEX0130E", "LEX0060E", "LEX0005E"}},  // a qualifier without a column
        {"A = 1 +", {"LEX0130E", "LEX0005E"}},
        {"()", {"LEX0130E", "LEX0005E"}},
        {" , A", {"LEX0130E", "LEX0005E"}},  // only the first character may be a comma
        {"A 'b'", {"LEX0130E", "LEX0005E"}},  // a term after a term
        {"(>1)", {"LEX0090E", "LEX0005E"}},
        {"SUM(1 ;", {"LEX0110E", "LEX0300E", "LEX0060E", "LEX0005E"}},
    };
    for (const auto& [text, want] : cases) {
        ids.clear();
        EXPECT_FALSE(parse(text)) << text;
        EXPECT_EQ(ids, want) << text;
    }
    ids.clear();
    EXPECT_FALSE(parse("ABCDEFGHI.COL"));
    EXPECT_EQ(lines.back(), "LEX0005 If-condition parsing ended with error\n");
    EXPECT_EQ(lines[lines.size() - 3], "LEX0180 Cursor name ABCDEFGHI. is longer than MAX_CURSOR_LEN\n");
    ids.clear();
    lines.clear();
    EXPECT_FALSE(parse("A = 1 Y23456789012345"));
    EXPECT_EQ(lines.front(), "LEX0090 Unknown operation Y234567890 in expression\n");
}

TEST_F(LexerTest, EightCharacterQualifierIsAColumn) {
    EXPECT_EQ(rpn("ABCDEFGH.COL_1 = 1"), "ABCDEFGH.COL_1 1 =");
    EXPECT_TRUE(ids.empty());
}

TEST_F(LexerTest, EmptyStringStandsForOneBlank) {
    EXPECT_EQ(rpn("A = ''"), "A ' ' =");
    EXPECT_EQ(ids, Ids{"LEX0390W"});
}

// 2000 references at most, the end included.
TEST_F(LexerTest, ListHoldsTwoThousandReferences) {
    auto sum_of = [](int n) {
        std::string text = "A";
        for (int i = 1; i < n; ++i) text += "+A";
        return text;
    };
    EXPECT_TRUE(parse(sum_of(1000)));  // 1999 lexemes and the end
    EXPECT_TRUE(ids.empty());
    EXPECT_FALSE(parse(sum_of(1001)));
    EXPECT_EQ(ids, (Ids{"LEX0070E", "LEX0005E"}));
    ids.clear();
    EXPECT_FALSE(parse("(" + sum_of(1000) + "+"));  // the operation is the 2001st
    EXPECT_EQ(ids, (Ids{"LEX0100E", "LEX0005E"}));
}

TEST_F(LexerTest, PositionIsLeftAfterTheEnd) {
    const std::string text = "A = 1; B = 2";
    const char* pos = text.c_str();
    ASSERT_TRUE(parse_expression(pos));
    EXPECT_EQ(pos - text.c_str(), 6);
    ASSERT_TRUE(parse_expression(pos));
    EXPECT_EQ(pos - text.c_str(), static_cast<long>(text.size()) + 1);  // past the terminating zero
    EXPECT_EQ(get_expr_end_sign(), ';');
}

TEST_F(LexerTest, ZeroByteEndIsTracedWithTheDebugSwitch) {
    my_trace_all[8] = 1;
    EXPECT_TRUE(parse("A = 1"));
    EXPECT_TRUE(wrote("LEX0035W"));
    ids.clear();
    EXPECT_TRUE(parse("A = 1;"));
    EXPECT_FALSE(wrote("LEX0035W"));
}

// Each distinct constant, name and column is one term of the table.
TEST_F(LexerTest, TermsAreSharedWithinTheTable) {
    std::optional<LexemeList> list =
        parse("'abc' = 'ABC' OR 'abc' = x OR X = 1 OR 1.0 = 1 OR c.col = C.COL OR SUM(x) = 01");
    ASSERT_TRUE(list);
    EXPECT_EQ(terms_of_type(kStringConst), 1u);
    EXPECT_EQ(terms_of_type(kNameTerm), 1u);     // x and X; no name waits for "(" any more
    EXPECT_EQ(terms_of_type(kNumberConst), 3u);  // 1, 1.0 (decimal), 01
    EXPECT_EQ(terms_of_type(kColumnTerm), 1u);
    EXPECT_EQ((*list)[0].term, (*list)[1].term);
    // A second parse finds the same terms.
    const size_t before = table_size();
    EXPECT_TRUE(parse("'ABC' = X AND c.COL = 01"));
    EXPECT_EQ(table_size(), before);
}

// A token longer than the name field keeps its whole text.
TEST_F(LexerTest, LongTokensKeepTheirText) {
    const std::string long_string(70, 's');
    const std::string long_name = "N" + std::string(59, 'n');
    std::optional<LexemeList> list = parse("'" + long_string + "' = " + long_name + " OR SUM(" + long_name + ") = 1");
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].term->text(), long_string);
    EXPECT_STREQ((*list)[0].term->value, long_string.c_str());
    EXPECT_EQ((*list)[1].term->text(), long_name);
    EXPECT_EQ(std::string((*list)[1].term->name).size(), kTermNameLen);
    EXPECT_EQ((*list)[1].term, (*list)[3].term);
    std::string long_function(60, 'F');
    EXPECT_FALSE(parse(long_function + "(1)"));
    EXPECT_EQ(lines.front(), "LEX0260 Unknown function " + long_function + "( in expression\n");
}

// An owner's index finds the same shared terms as a walk of the chain,
// also after a name waiting for "." or "(" is gone and after a name has
// become a column.
TEST_F(LexerTest, IndexedTableSharesAsTheChainDoes) {
    const std::vector<std::string> texts = {
        "C.X = 1 AND c.x = 'a' OR SUM(A) = SUM(a)", "C.Y = C.X OR 'A' = 'a' OR 1.0 = 1", "X = C.X AND SUM(X) = 2",
        "func2(C.X, 'A') = 01 OR x = 1.0",
    };
    auto describe = [] {
        std::string all;
        for (const Term* t = get_lex_term_tb_anchor(); t; t = t->next)
            all += std::to_string(t->entry_type) + std::string(t->cursor_name) + "." + std::string(t->text()) + " ";
        return all;
    };
    for (const std::string& text : texts) ASSERT_TRUE(parse(text)) << text;
    Term* x = name_term("X");
    x->entry_type = kColumnTerm;  // as resolution makes a name of the cursor a column
    EXPECT_TRUE(parse("X = 2"));
    const std::string unindexed = describe();

    Term* unindexed_chain = nullptr;
    close_lexer(unindexed_chain);
    TermTable owner;
    std::string indexed;
    {
        auto in = owner.install();
        for (const std::string& text : texts) ASSERT_TRUE(parse(text)) << text;
        name_term("X")->entry_type = kColumnTerm;
        EXPECT_TRUE(parse("X = 2"));
        indexed = describe();
    }
    open_lexer(unindexed_chain);  // the fixture frees it
    EXPECT_EQ(indexed, unindexed);
    EXPECT_TRUE(ids.empty());
}
