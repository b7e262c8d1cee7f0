// How control-file words match keywords and fixed values by letter case.
//
// A keyword matches when it is written whole, all in lower case or all in
// upper case: "trace" and "TRACE" are the keyword trace, "Trace" and "tr"
// are not. Only the ASCII letters of a keyword have a case; its other
// characters ("_", "!", "%", "*") must stand as they are.
#pragma once

#include <cstddef>
#include <string_view>

namespace qvx {

enum class LetterCase { lower, upper };

// True when word is model with every ASCII letter of the model put in the
// given case; the other characters must be the same.
constexpr bool equals_in_case(std::string_view word, std::string_view model, LetterCase letters) {
    if (word.size() != model.size()) return false;
    for (size_t i = 0; i < model.size(); ++i) {
        char m = model[i];
        if (letters == LetterCase::upper && m >= 'a' && m <= 'z') m = static_cast<char>(m - 'a' + 'A');
        if (letters == LetterCase::lower && m >= 'A' && m <= 'Z') m = static_cast<char>(m - 'A' + 'a');
        if (word[i] != m) return false;
    }
    return true;
}

// True when word is keyword written all in lower case or all in upper
// case. The keyword itself may be given in either case.
constexpr bool keyword_matches(std::string_view word, std::string_view keyword) {
    return equals_in_case(word, keyword, LetterCase::lower) ||
           equals_in_case(word, keyword, LetterCase::upper);
}

// True when text begins with keyword written all in lower case or all in
// upper case (whatever follows it).
constexpr bool keyword_prefix_matches(std::string_view text, std::string_view keyword) {
    return text.size() >= keyword.size() && keyword_matches(text.substr(0, keyword.size()), keyword);
}

// The first entry of a keyword table whose keyword (its member word)
// matches word, or null.
template <class Entry, size_t N>
const Entry* match_keyword(const Entry (&table)[N], std::string_view word) {
    for (const Entry& entry : table)
        if (keyword_matches(word, entry.word)) return &entry;
    return nullptr;
}

} // namespace qvx
