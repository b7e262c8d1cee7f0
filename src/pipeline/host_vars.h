// Host variables in a cursor's SQL text. A '[' followed by cursor.column
// (a '.' within the next 9 characters) or by a percent variable is
// replaced before each fetch by that value: quoted text, or a number as
// stored; after a '!' the bare value takes the '!''s place. A reference
// to an in-list (cursor.list) takes the list text. The reference name
// ends at a blank, a quote, + - * / , ( ) or the end; there is no
// closing bracket.
//
//   insert_select SELECT ... WHERE datname = [DBS.datname AND pid <> ![%parm1;
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "control/cursor_lists_clause.h"

namespace qvx {

// One piece of the split text: a literal or a reference.
struct HvPiece {
    enum class Kind { text, column, percent, in_list };
    Kind kind = Kind::text;
    size_t at = 0, len = 0;      // a literal: its place in the statement
    std::string cursor_name;     // a reference as written
    std::string column_part;
    curs* cursor = nullptr;      // column, in-list: the cursor named
    int16_t column = -1;         // column, percent: its position in its cursor
    const InList* list = nullptr;
    bool disable = false;        // the column part contains "DISABLE": inserted as stored
};

// The pieces of a cursor's statement, kept from the first merge on.
struct HostVarPieces {
    std::string statement;
    std::vector<HvPiece> pieces;
};

// Splits the statement (keeping the pieces on the cursor) and merges the
// current values into merged. The merged length, 0 on failure (every
// failure is reported). Pieces kept for the same statement are reused
// (set_hvs_in_sel_2).
int set_hvs_in_sel(curs& cursor, const std::string& statement, std::string& merged);

// The merge from the kept pieces: the merged length, 0 on failure or
// when no pieces are kept.
int set_hvs_in_sel_2(curs& cursor, std::string& merged);

// The SQL text one fetch of the cursor runs: its select text, merged
// when it holds host variables. A failed merge switches merging off for
// the cursor's life: the text runs as written from then on.
const std::string& statement_for_fetch(curs& cursor, std::string& scratch);

} // namespace qvx
