// Load clauses of a cursor block ("load"), in the order written.
#pragma once

#include <string>
#include <vector>

namespace qvx {

// The statements as written; the loads work from these.
struct LoadClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
