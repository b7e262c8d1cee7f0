// The clauses of a cursor block that name other cursors or lists to run
// with it: "pre_cursor", "iterate", "iterate_where" and "in_list".
// pre_cursor, iterate and iterate_where are parsed as they are read; the
// cursor names are bound by the edit passes once every cursor is known.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "control/decode_clause.h"
#include "model/cursor.h"

namespace qvx {

// Longest cursor name a pre_cursor or iterate statement keeps.
constexpr size_t kChainNameMax = 16;

// A cursor run before this one.
struct PreCursorEntry {
    std::string name;
    curs* cursor = nullptr;  // bound by edit_pre_cursors
};

// Cursors run before this one, in clause order.
struct PreCursorClauses {
    std::vector<std::string> texts;
    std::vector<PreCursorEntry> entries;
};

// The driving cursor: this cursor runs once per row of it.
struct IterateClauses {
    std::vector<std::string> texts;
    std::string name;
    curs* driver = nullptr;  // bound by edit_iterates
};

// The test a driving row must pass (a decode test on a driving column).
struct IterateWhereClauses {
    std::vector<std::string> texts;
    DecodeAnchor test;
    bool ready = false;  // bound by edit_iterate_where
};

// "in_list" statements as written.
struct InListClauses {
    std::vector<std::string> texts;
};

// Each parser takes the text after its keyword; 0 accepted, 1 rejected
// (reported).
int parse_pre_cursor(curs& cursor, std::string_view text);
int parse_iterate(curs& cursor, std::string_view text);
int parse_iterate_where(curs& cursor, std::string_view text);

} // namespace qvx
