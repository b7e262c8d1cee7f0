// The database connection as the rest of the collector sees it: whether a
// connection is open, and the unit-of-work hooks of the scheduling loop.
// The connection itself arrives with the database backends; until then
// no connection is ever open and the hooks do nothing.
#pragma once

namespace qvx {

struct DatabaseInfo {
    bool connected = false;
    bool released = false;
    int kind = 0;
};

extern DatabaseInfo database_info;

enum class CommitMode {
    normal,      // end of a collection pass or a served request
    continuous,  // the collector distributor runs continuously
    final,       // the collector ends
};

// Commits (or, in final mode, commits and disconnects). 0 on success.
int commit_collect(CommitMode mode);

} // namespace qvx
