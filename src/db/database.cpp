#include "db/database.h"

#include "db/connection.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

DatabaseInfo database_info;

namespace {
std::unique_ptr<Connection> g_connection;
}

Connection* current_connection() { return g_connection.get(); }
// A terminating signal commits what the pass collected before quitting.
static void commit_on_interrupt() {
    if (database_info.connected) commit_collect(CommitMode::final);
}

void set_current_connection(std::unique_ptr<Connection> c) {
    set_close_step(CloseStep::interrupt_commit, commit_on_interrupt);
    g_connection = std::move(c);
}
void drop_current_connection() { g_connection.reset(); }

static void mark_released() {
    drop_current_connection();
    database_info.released = true;
    database_info.connected = false;
}

int commit_collect(CommitMode mode) {
    if (database_info.released) return 0;
    Connection* c = current_connection();
    if (!c) {  // nothing to commit on: the database would say "not logged on"
        mark_released();
        return 0;
    }
    const bool release = mode != CommitMode::normal;
    int rc = release ? c->commit_release() : c->commit();
    // Ended by the database (or the link went away): nothing left to commit.
    if (rc == kDbNotLoggedOn || rc == -1013 || c->lost()) {
        mark_released();
        return 0;
    }
    if (rc != 0 && database_info.connected) {
        PRINT('w', "rcc0360", "Sql code on commit = %d\n", rc);
        rc = 0;
        if (release)
            c->rollback_release();
        else
            c->rollback();
    }
    if (release || c->lost()) mark_released();
    return rc;
}

int rollback() {
    int rc = 0;
    if (Connection* c = current_connection()) rc = c->rollback_release();
    mark_released();
    return rc;
}

void reset_database() {
    drop_current_connection();
    database_info = DatabaseInfo{};
}

} // namespace qvx
