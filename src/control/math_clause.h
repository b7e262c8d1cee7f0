// Math clauses of a cursor block ("math"), in the order written.
#pragma once

#include <string>
#include <vector>

namespace qvx {

// The statements as written; the math parser works from these.
struct MathClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
