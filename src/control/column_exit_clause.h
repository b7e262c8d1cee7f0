// Column exits ("column_exit") and send lengths ("set_len") of a
// cursor block, in the order written.
#pragma once

#include <string>
#include <vector>

namespace qvx {

// The statements as written; the column-exit parser works from these.
struct ColumnExitClauses {
    std::vector<std::string> texts;
};

// "set_len NAME n" statements as written.
struct SetLenClauses {
    std::vector<std::string> texts;
};

} // namespace qvx
