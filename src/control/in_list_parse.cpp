// Reading "in_list NAME using COLUMN": the in-list's name and the column
// of this cursor whose values make up its text.
#include <string>
#include <string_view>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kNameField = 50;

std::vector<std::string_view> words_of(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ' || s[i] == '\t') {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < s.size() && s[end] != ' ' && s[end] != '\t') ++end;
        out.push_back(s.substr(i, end - i));
        i = end;
    }
    return out;
}

} // namespace

int parse_in_list(curs& cursor, std::string_view text) {
    const auto words = words_of(text);
    if (words.size() != 3 || (words[1] != "using" && words[1] != "USING") || words[0].size() >= kNameField ||
        words[2].size() >= kNameField) {
        const std::string shown(text);
        PRINT('e', "pin3260", "Invalid in_list format: %s\n", shown.c_str());
        return 1;
    }
    InList list;
    list.name.assign(words[0]);
    list.col_name.assign(words[2]);
    cursor.in_list.ensure().lists.push_back(std::move(list));
    return 0;
}

} // namespace qvx
