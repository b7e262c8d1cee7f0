#include "control/tokenizer.h"

#include <gtest/gtest.h>
#include "support/state.h"

#include <string>
#include <vector>

#include "runtime/messages.h"
#include "runtime/trace.h"

namespace {

using V = std::vector<std::string>;

struct Scan {
    std::string words;  // "word:flags" per word, numbers "word:flags:numflags:exponent"
    std::string error;  // message after a syntax error
};

// Scans a statement (with the four blanks the reader appends) to its end.
Scan scan(const std::string& stmt) {
    const std::string buf = stmt + "    ";
    qvx::Tokenizer t(buf);
    t.reset();
    Scan s;
    for (int pos = 0, n; (n = t.get_word(pos, static_cast<int>(buf.size()))) != 0;) {
        if (n < 0) {
            s.error = t.message;
            break;
        }
        EXPECT_GT(t.next_pos(), pos);
        pos = t.next_pos();
        const auto& w = t.word;
        s.words += (s.words.empty() ? "" : " ") + std::string(w.view()) + ":" +
                   std::to_string(w.flags);
        if (w.num_flags)
            s.words += ":" + std::to_string(w.num_flags) + ":" + std::to_string(w.exponent);
    }
    return s;
}

class TokenizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
    }
};

TEST_F(TokenizerTest, WordKindsAndFlags) {
    const char* cases[][2] = {
        // Host variables: blanks after ":" skipped, parentheses nest,
        // arithmetic stays inside, an unmatched ")" ends the word.
        {":A.COL(1) x", "A.COL(1):513 x:0"},
        {"(:  a-b+c(x(2)))", "(:2 a-b+c(x(2)):1 ):2"},
        {":", ""},
        {"(: )", "(:2 ):2"},
        // Operators and punctuation.
        {"a<=b x||y", "a:0 <=:4 b:0 x:0 ||:256 y:0"},
        {"a<>b ~=c |d >e", "a:0 <>:4 b:0 ~=:4 c:0 |:0 d:0 >:4 e:0"},
        {"e*f/g+h - i,j", "e:0 *:16 f:0 /:16 g:0 +:16 h:0 -:16 i:0 ,:8 j:0"},
        {"f(a)c;d", "f:0 (:2 a:0 ):2 c:0 ;d:0"},
        // Numbers (flags 128, number flags 4, +1 decimal point, +2 exponent).
        {"1.5E-3", "1.5E-3:128:7:-3"},
        {"42 -7 +.5 2e+10", "42:128:4:0 -7:128:4:0 +.5:128:5:0 2e+10:128:6:10"},
        {"3 E2 1E99999999", "3 E2:128:6:2 1E99999999:128:6:32767"},
        {"5-3 (7)", "5:128:4:0 -3:128:4:0 (:2 7:128:4:0 ):2"},
        {"1.2.3 9||x", "1.2:128:5:0 .3:128:5:0 9:128:4:0 ||:256 x:0"},
        // A sign without digits is an operator; "12abc" is one ordinary word.
        {"-. 12abc 7 east", "-:16 .:512 12abc:0 7:128:4:0 east:0"},
        // Qualified names and quoted parts.
        {"t.* s.c", "t.*:576 s.c:512"},
        {"'a b,c' x\"y z\"w", "'a b,c':128:8:0 x\"y z\"w:128:16:0"},
        {"k\x0E" "a b\x0F" " z", "k\x0E" "a b\x0F" ":128 z:0"},
        {"      ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(scan(c[0]).words, c[1]) << c[0];
}

TEST_F(TokenizerTest, SyntaxErrors) {
    auto s = scan("a )");
    EXPECT_EQ(s.words, "a:0");
    EXPECT_EQ(s.error,
              "Syntax error - Position = 3 Right parenthesis without preceeding Left parenthesis, "
              "Text = )");
    // No position part at the first character; depth counts across words.
    EXPECT_EQ(scan(")").error,
              "Syntax error - Right parenthesis without preceeding Left parenthesis, Text = )");
    EXPECT_NE(scan("((x)) )").error.find("Position = 7 "), std::string::npos);

    EXPECT_EQ(scan("x = 'abc").error,
              "Syntax error - Position = 5 Missing an ending \" or ' within max word length, "
              "Text = 'abc    ");
    EXPECT_NE(scan("\x0E" "abc").error.find("Missing an ending SHIFT_IN within max word length"),
              std::string::npos);

    // Longer than a statement can hold; the message is cut to 255.
    const std::string err = scan("'" + std::string(16100, 'q')).error;
    EXPECT_EQ(err.rfind("Syntax error - Excessive length in a string with a \" or ', Text = 'qq", 0),
              0u);
    EXPECT_EQ(err.size(), 255u);
    EXPECT_NE(scan("\x0E" + std::string(16100, 'q')).error.find("Excessive length in a DBCS string"),
              std::string::npos);
}

TEST_F(TokenizerTest, ResetAndScanBounds) {
    const std::string buf = "(abc ) )    ";
    qvx::Tokenizer t(buf);
    EXPECT_EQ(t.get_word(0, 2), 1);
    EXPECT_EQ(t.get_word(1, 3), 2);  // the scan end cuts the word
    EXPECT_EQ(t.get_word(4, 100), 1);
    EXPECT_EQ(t.get_word(6, 100), -1);
    EXPECT_TRUE(t.failed);
    t.reset();
    EXPECT_TRUE(!t.failed && t.parens == 0 && t.message.empty());
    EXPECT_EQ(t.get_word(500, 1000), 0);
    EXPECT_EQ(t.get_word(-5, 2) + t.get_word(2, 1), 1);
}

TEST_F(TokenizerTest, BinaryJunkStaysInsideTheBuffer) {
    unsigned seed = 12345;
    for (int round = 0; round < 400; ++round) {
        std::string junk;  // no trailing blanks: the scan end is the string end
        for (int k = 0; k < round % 40; ++k) {
            seed = seed * 1103515245u + 12345u;
            junk.push_back(static_cast<char>((seed >> 16) & 0xff));
        }
        qvx::Tokenizer t(junk);
        t.reset();
        for (int pos = 0, n; (n = t.get_word(pos, static_cast<int>(junk.size()))) > 0;) {
            ASSERT_GE(t.word.position, pos);
            ASSERT_LE(t.word.position + n, static_cast<int>(junk.size()));
            ASSERT_GT(t.next_pos(), pos);
            pos = t.next_pos();
        }
        ASSERT_LE(t.message.size(), 255u);
    }
    // NUL is an ordinary character.
    EXPECT_EQ(scan(std::string("a\0b c", 5)).words, std::string("a\0b:0 c:0", 9));
}

TEST_F(TokenizerTest, TextHelpers) {
    const std::string text = "  one, two ,'a b'  \"q\"\tt x\t'";
    V got;
    int start = 0;
    uint16_t flags = 0;
    for (int pos = 0, n; (n = qvx::simple_get_word(text, pos, 99, &start, &flags)) > 0;
         pos = start + n)
        got.push_back(text.substr(start, n) + "/" + std::to_string(flags));
    EXPECT_EQ(got, (V{"one/0", "two/0", "'a b'/8", "\"q\"/8", "\tt x\t/8"}));
    EXPECT_EQ(qvx::simple_get_word(", ,x", 0, 4, &start, &flags), 0);  // one comma only

    std::string out;
    EXPECT_EQ(qvx::w_o_parens("CHAR( 12 ) x)", out), 4);
    EXPECT_EQ(out, " 12 ");
    EXPECT_EQ(qvx::w_o_parens("(" + std::string(3100, 'y') + ")", out), 3100);
    const std::string said = qvxtest::captured([&] {
        EXPECT_EQ(qvx::w_o_parens("no parens", out), 0);
        EXPECT_EQ(qvx::w_o_parens("open (never closed", out), 0);
        EXPECT_EQ(qvx::w_o_parens("(" + std::string(3101, 'x') + ")", out), 0);
    });
    for (const char* text : {"CAT1925", "no opening parenthesis", "CAT1930", "no ending parenthesis"})
        EXPECT_TRUE(qvxtest::has(said, text)) << text << "\n" << said;
}

} // namespace
