// The database connection as the rest of the collector sees it: the
// process-wide connection record and the unit-of-work hook of the
// scheduling loop.
#pragma once

#include <string>

namespace qvx {

struct DatabaseInfo {
    std::string db_type;     // "ORA" once a logon was tried
    std::string machine;     // machine identifier (host, server id, third field)
    bool connected = false;  // set by the cursor runner after a good logon
    bool released = true;    // no live connection: the next run logs on again
};

extern DatabaseInfo database_info;

enum class CommitMode {
    normal,      // end of a collection pass or a served request: commit
    continuous,  // the collector distributor runs continuously: commit and
                 // release, so that a long-running collector never keeps a
                 // session (and its locks) between passes
    final,       // the collector ends: commit and release
};

// Ends the unit of work. Nothing when released. A commit the database
// refuses because the session has ended marks the connection released;
// any other failed commit is reported and rolled back. Returns 0 but for a
// failure while not marked connected (its database code).
int commit_collect(CommitMode mode);

// Forgets the connection and the record (tests).
void reset_database();

} // namespace qvx
