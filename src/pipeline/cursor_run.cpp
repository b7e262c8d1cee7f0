// Running one cursor.
#include "pipeline/cursor_run.h"

#include <cstdio>

#include "control/distributor.h"
#include "db/database.h"
#include "db/fetch.h"
#include "control/cursor_lists_clause.h"
#include "pipeline/age_to.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/row_sources.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/row_store.h"
#include "runtime/clock.h"
#include "runtime/messages.h"

namespace qvx {

int db_logon_state = kLogonGood;

namespace {

void record_collector(const char* status) {
    if (!collector_at) return;
    collector_at->last_status = status;
    collector_at->last_time = get_time();
}

// Logs on through the collector distributor; the database result code.
int log_on(curs& c) {
    const int rc = collector_at ? connect_to_DB(*collector_at) : -1;
    c.conn_rc = rc;
    char text[32];
    std::snprintf(text, sizeof text, "%16d", rc);
    c.conn_rc_text = text;
    set_percent_sqlcode(c);
    if (rc != 0) {
        record_collector("CNCT");
        if (db_logon_state != kLogonRenew) db_logon_state = kLogonFailed;
        return rc;
    }
    database_info.connected = true;
    database_info.released = false;
    db_logon_state = kLogonGood;
    return 0;
}

} // namespace

bool is_age_to_copy(const curs& c) { return c.is_age_copy != 0; }

int run_cursor(curs& c, const std::string& time_text) {
    if (c.is_age_copy) return 0;  // its rows come only from its source's copies
    if (c.held == 'Y') {
        if (c.trace) PRINT('t', "cit3143", "Not running held cursor %s.\n", c.cur_name.c_str());
        return 0;
    }
    if (c.time_limit) delete_by_time(c);
    if (c.sample_limit) delete_by_samples(c);
    // A source in the age_to copy cycle is emptied by the copy.
    if (c.empty && !in_copy_cycle(c)) delete_all(c);

    const bool needs_database = !c.fetch_exit && !c.no_sql;
    if (needs_database && (!database_info.connected || database_info.released)) {
        if (log_on(c) != 0) return 1;
    }

    if (c.iterate && c.iterate->driver) return run_iteration(c, *c.iterate->driver, time_text);
    int rows = 0;
    return prep_l_fetch(c, time_text, rows);
}

int get_cursor_data(curs& c) {
    const long start = now_relative();
    c.last_run = start;
    if (c.virtual_cur) {
        c.rows_changed = 1;
        c.history_pending = 1;
        return c.last_result = 0;
    }
    const std::string run_time = secs_to_date(start);
    if (pre_prep_l_fetch(c, run_time) != 0) {
        c.stale_until = 0;
        record_collector("FAIL");
        return c.last_result = 1;
    }
    c.last_time = run_time;
    if (c.trace)
        PRINT('t', "cfe1645", "Time = %s, collected records in %d seconds\n", form_time().c_str(),
              static_cast<int>(now_relative() - start));
    record_collector("GOOD");
    return c.last_result = 0;
}

void reset_cursor_run() { db_logon_state = kLogonGood; }

} // namespace qvx
