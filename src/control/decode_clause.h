// Decode clauses of a cursor block ("decode"), in the order written.
#pragma once

#include <string>
#include <vector>

namespace qvx {

// The statements as written; the decode parser works from these.
struct DecodeClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
