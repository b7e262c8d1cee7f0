#include "control/keyword_case.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace qvx;

namespace {

// A word (or the start of a text) against a keyword: whether it is the
// keyword, and whether it begins with it.
struct Case {
    std::string_view word;
    std::string_view keyword;
    bool whole;
    bool prefix;
};

constexpr Case kCases[] = {
    {"trace", "trace", true, true},
    {"TRACE", "trace", true, true},
    // Mixed case, a shortened or lengthened word, a blank too many.
    {"Trace", "trace", false, false},
    {"tRACE", "trace", false, false},
    {"TRACe", "trace", false, false},
    {"trac", "trace", false, false},
    {"TRAC", "trace", false, false},
    {"traces", "trace", false, true},
    {"TRACE ", "trace", false, true},
    {" trace", "trace", false, false},
    // A table may give its keywords upper-case ("INT!") as well as lower;
    // the case rule holds for the prefix alone, whatever follows it.
    {"int!", "INT!", true, true},
    {"INT!cpu", "INT!", false, true},
    {"int!CPU", "INT!", false, true},
    {"Int!CPU", "INT!", false, false},
    {"column(", "column ", false, false},
    // Only letters have a case: the neighbours of the letters in the
    // character table are other characters ("_" is no upper-case "?").
    {"SQL*NET", "sql*net", true, true},
    {"%SQLCODE_a", "%sqlcode_", false, true},
    {"sql+net", "sql*net", false, false},
    {"?", "_", false, false},
    {"trace?all", "trace_all", false, false},
    {"{", "[", false, false},
    {"@", "`", false, false},
    // Bytes beyond ASCII match only themselves.
    {"\xc3\xa9T\xc3\xa9", "\xc3\xa9t\xc3\xa9", true, true},
    {"\xc3\x89T\xc3\x89", "\xc3\xa9t\xc3\xa9", false, false},
    // Empty words and keywords.
    {"", "end", false, false},
    {"end", "", false, true},
    {"", "", true, true},
};

TEST(KeywordCase, WordsAndPrefixes) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.word) + " ~ " + std::string(c.keyword));
        EXPECT_EQ(keyword_matches(c.word, c.keyword), c.whole);
        EXPECT_EQ(keyword_prefix_matches(c.word, c.keyword), c.prefix);
    }
    static_assert(keyword_matches("END", "end") && !keyword_matches("End", "end"));
}

// PROCESS.CTL keywords are taken as written or all upper case; the all
// lower-case form of a mixed model is another word.
TEST(KeywordCase, OneCaseOfAModelAsWritten) {
    const std::string_view model = "Saturday_start";
    EXPECT_TRUE(equals_in_case("SATURDAY_START", model, LetterCase::upper));
    EXPECT_TRUE(equals_in_case("saturday_start", model, LetterCase::lower));
    for (std::string_view word : {"saturday_start", "Saturday_start", "SATURDAY_STAR"})
        EXPECT_FALSE(equals_in_case(word, model, LetterCase::upper)) << word;
}

TEST(KeywordCase, TableLookUp) {
    struct Entry {
        const char* word;
        int code;
    };
    const Entry table[] = {{"trace", 1}, {"tracem", 2}, {"TRACE", 3}, {"trace_all", 4}};
    const auto code = [&](std::string_view word) {
        const Entry* e = match_keyword(table, word);
        return e ? e->code : 0;
    };
    // The first entry that matches wins.
    const std::pair<std::string_view, int> expected[] = {
        {"trace", 1}, {"TRACE", 1},  {"TRACEM", 2}, {"TRACE_ALL", 4},
        {"Tracem", 0}, {"trace_", 0}, {"", 0},
    };
    for (const auto& [word, want] : expected) EXPECT_EQ(code(word), want) << word;
}

} // namespace
