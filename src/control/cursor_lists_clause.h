// The clauses of a cursor block that name other cursors or lists to run
// with it: "pre_cursor", "iterate", "iterate_where" and "in_list".
// pre_cursor, iterate and iterate_where are parsed as they are read; the
// cursor names are bound by the edit passes once every cursor is known.
#pragma once

#include <cstdint>
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

// One "in_list NAME using COLUMN": the values of a column of this
// cursor's rows as one text that decodes test values against ("in").
struct InList {
    std::string name;
    std::string col_name;
    std::string text = "( 'ZIP' )";  // rebuilt after every fetch
    int16_t column = -1;             // col_name's position in the cursor (edit_in_lists)
};

// Each parser takes the text after its keyword; 0 accepted, 1 rejected
// (reported).
int parse_pre_cursor(curs& cursor, std::string_view text);
int parse_iterate(curs& cursor, std::string_view text);
int parse_iterate_where(curs& cursor, std::string_view text);

// The cursor's in-lists, in clause order.
struct InListClauses {
    std::vector<InList> lists;
};

// Parses the text after "in_list" and appends the in-list to the
// cursor's list. 0 accepted, 1 rejected (pin3260).
int parse_in_list(curs& cursor, std::string_view text);

} // namespace qvx
