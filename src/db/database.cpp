#include "db/database.h"

namespace qvx {

DatabaseInfo database_info;

int commit_collect(CommitMode mode) {
    if (!database_info.connected) return 0;
    if (mode == CommitMode::final) database_info.connected = false;
    return 0;
}

} // namespace qvx
