// A column of a cursor looked up across the cursor's IF/ELSE versions:
// the active version first, then the others, the newest (greatest
// version stamp) of those that hold the column winning.
#pragma once

#include <string_view>
#include <vector>

#include "control/cursor.h"

namespace qvx {

// The versions of the cursor other than the active one, in ring order;
// empty while the cursor has a single version.
std::vector<curs*> other_versions(curs& cursor);

// The version stamp a version carries: the time text of the selection
// that last made it or left it active; empty when it never was.
std::string_view version_stamp(const curs& version);

// Looks name up: a name starting with a digit is a 1-based column
// position, any other a column name (compared over 50 bytes). Found in
// the cursor itself: that column and the cursor. Else, when the cursor
// has other versions, the newest version holding the column supplies it
// (with warnings that the data may be wrong). 0 found, 1 not found.
int search_curs_vers_insert(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out);

// The same for names only (a leading digit is part of the name), as the
// clause references use.
int search_curs_vers(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out);

// Position of a column in its cursor's list.
inline int16_t column_position(const curs& owner, const columns& col) {
    return static_cast<int16_t>(&col - owner.cols.data());
}

} // namespace qvx
