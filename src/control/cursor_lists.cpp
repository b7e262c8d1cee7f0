// pre_cursor, iterate and iterate_where statements of a cursor block, as
// they are read. The cursors they name are bound later (edit passes).
#include <cctype>
#include <string>

#include "control/cursor_lists_clause.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The first word of text (up to a blank, tab or comma), cut to the
// longest name a statement keeps.
std::string first_name(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ',') ++end;
    return std::string(text.substr(at, std::min(end - at, kChainNameMax)));
}

} // namespace

int parse_pre_cursor(curs& c, std::string_view text) {
    PreCursorClauses& clauses = c.pre_cursor.ensure();
    clauses.texts.emplace_back(text);
    // An empty name binds to no cursor and is reported by the edit.
    clauses.entries.push_back({first_name(text), nullptr});
    return 0;
}

int parse_iterate(curs& c, std::string_view text) {
    IterateClauses& clauses = c.iterate.ensure();
    clauses.texts.emplace_back(text);
    if (clauses.texts.size() > 1) {
        PRINT('e', "pit3125", "Can only have one iterate on a cursor\n");
        return 1;
    }
    clauses.name = first_name(text);
    return 0;
}

int parse_iterate_where(curs& c, std::string_view text) {
    IterateWhereClauses& clauses = c.iterate_where.ensure();
    clauses.texts.emplace_back(text);
    if (clauses.texts.size() > 1) {
        PRINT('e', "pit4475", "Only one ITERATE_WHERE allowed per cursor\n");
        return 1;
    }
    return parse_decode_test(c, text, clauses.test);
}

} // namespace qvx
