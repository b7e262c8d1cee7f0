// Base clauses of a cursor block ("base"): the cursors whose rows this
// cursor's rows are joined to on the collector side.
#pragma once

#include <string>
#include <vector>

namespace qvx {

// The statements as written; the base parser works from these.
struct BaseClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
