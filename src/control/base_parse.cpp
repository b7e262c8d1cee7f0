// Reading "base NAME on KEY->COLUMN": the base cursor, the select item of
// this cursor that carries the key, and the base cursor's key column.
#include <string>
#include <string_view>

#include "control/base_clause.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

bool blank(char ch) { return ch == ' ' || ch == '\t'; }

size_t skip_blanks(std::string_view s, size_t at) {
    while (at < s.size() && blank(s[at])) ++at;
    return at;
}

size_t word_end(std::string_view s, size_t at) {
    while (at < s.size() && !blank(s[at])) ++at;
    return at;
}

int refuse(const char* id, std::string_view text) {
    const std::string shown(text);
    PRINT('e', id, "Invalid base format: %s\n", shown.c_str());
    return 1;
}

} // namespace

int parse_base(curs& cursor, std::string_view text) {
    BaseEntry entry;
    size_t at = skip_blanks(text, 0);
    size_t end = word_end(text, at);
    entry.base_name.assign(text.substr(at, end - at));
    at = skip_blanks(text, end);
    const std::string_view on = text.substr(at, 3);
    if (entry.base_name.empty() || (on != "on " && on != "ON " && on != "on\t" && on != "ON\t"))
        return refuse("pba3285", text);

    at = skip_blanks(text, at + 3);
    end = at;
    while (end < text.size() && !blank(text[end]) && text[end] != '-') ++end;
    entry.key_name.assign(text.substr(at, end - at));
    at = skip_blanks(text, end);
    if (entry.key_name.empty() || text.substr(at, 2) != "->") return refuse("pba3290", text);

    at = skip_blanks(text, at + 2);
    end = word_end(text, at);
    entry.base_col_name.assign(text.substr(at, end - at));
    if (entry.base_col_name.empty()) return refuse("pba3290", text);

    BaseClauses& clauses = cursor.base.ensure();
    clauses.texts.emplace_back(text);
    clauses.entries.push_back(std::move(entry));
    return 0;
}

} // namespace qvx
