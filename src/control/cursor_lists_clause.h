// The clauses of a cursor block that name other cursors or lists to run
// with it: "pre_cursor", "iterate", "iterate_where" and "in_list".
#pragma once

#include <string>
#include <vector>

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

// "in_list" statements as written.
struct InListClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
