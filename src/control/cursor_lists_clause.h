// The clauses of a cursor block that name other cursors or lists to run
// with it: "pre_cursor", "iterate", "iterate_where" and "in_list".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

// Cursors run before this one, as written.
struct PreCursorClauses {
    std::vector<std::string> texts;
};

// "iterate" statements as written.
struct IterateClauses {
    std::vector<std::string> texts;
};

// "iterate_where" statements as written.
struct IterateWhereClauses {
    std::vector<std::string> texts;
};

// One "in_list NAME using COLUMN": the values of a column of this
// cursor's rows as one text that decodes test values against ("in").
struct InList {
    std::string name;
    std::string col_name;
    std::string text = "( 'ZIP' )";  // rebuilt after every fetch
    int16_t column = -1;             // col_name's position in the cursor (edit_in_lists)
};

// The cursor's in-lists, in clause order.
struct InListClauses {
    std::vector<InList> lists;
};

// Parses the text after "in_list" and appends the in-list to the
// cursor's list. 0 accepted, 1 rejected (pin3260).
int parse_in_list(curs& cursor, std::string_view text);

} // namespace qvx
