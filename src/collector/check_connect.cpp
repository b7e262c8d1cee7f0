// --check --connect: the logon of the collector distributor and a prepare
// of every cursor's SELECT. Nothing is run: the database only compiles
// the statements (SQLite) or parses and describes them (ODBC).
#include <cstdlib>
#include <strings.h>

#include "collector/check.h"
#include "control/cursor.h"
#include "control/distributor.h"
#include "db/connection.h"
#include "db/fetch.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

namespace qvx {

namespace {

// The database as COLL_CONNECT names it, with a password left out.
std::string connect_target() {
    const char* value = std::getenv("COLL_CONNECT");
    std::string text = value && *value ? value : "";
    if (text.empty()) {
        const auto t = parse_connect(nullptr, env_vars.coll_home, env_vars.serverid);
        return "sqlite:" + t->target;
    }
    for (size_t at = 0; (at = text.find('=', at)) != std::string::npos; ++at) {
        size_t key = text.find_last_of(";", at);
        key = key == std::string::npos ? 0 : key + 1;
        while (key < at && text[key] == ' ') ++key;
        if (at - key != 3 || strncasecmp(text.c_str() + key, "PWD", 3) != 0) continue;
        size_t end = at + 1;
        if (end < text.size() && text[end] == '{') {
            end = text.find('}', end);
            end = end == std::string::npos ? text.size() : end + 1;
        } else {
            end = std::min(text.find(';', end), text.size());
        }
        text.replace(at + 1, end - at - 1, "***");
    }
    return text;
}

// Cursors whose rows come from a SELECT of their own.
bool runs_select(const curs& c) {
    return &c != percent_cursor && !c.virtual_cur && !c.no_sql && !c.fetch_exit;
}

void drop_messages(char, const char*, const std::string&) {}

} // namespace

int check_connection(std::ostream& out, const std::string& collect_path) {
    const std::string target = connect_target();
    if (!collector_at) {
        check_line(out, "LOGON", "CHK0205E", "COLL_CONNECT",
                   "not logged on to " + target + ": PROCESS.CTL names no collector distributor");
        return 1;
    }
    // The logon's own messages would repeat what its line says.
    set_message_tap(drop_messages);
    std::string detail;
    const int rc = log_on_distributor(*collector_at, detail);
    Connection* conn = current_connection();
    if (rc != 0 || !conn) {
        check_line(out, "LOGON", "CHK0205E", "COLL_CONNECT",
                   "not logged on to " + target + ": " + std::to_string(rc) + " " + detail);
        return 1;
    }
    check_line(out, "LOGON", "CHK0200I", "COLL_CONNECT", "logged on to " + target);

    int failures = 0;
    for (const auto& c : cur_anchor) {
        if (!runs_select(*c)) continue;
        const std::string place = collect_path + ":" + std::to_string(c->def_line);
        if (c->bracket) {
            check_line(out, "SQL", "CHK0212I", place,
                       c->cur_name + " not prepared: its SELECT takes values from other cursors at run time");
            continue;
        }
        const int code = conn->check_select(c->sel_piece);
        if (code == 0) {
            check_line(out, "SQL", "CHK0210I", place, c->cur_name + " prepares");
        } else {
            ++failures;
            check_line(out, "SQL", "CHK0215E", place,
                       c->cur_name + " does not prepare: " + std::to_string(code) + " " + conn->long_message());
        }
    }
    conn->rollback_release();
    drop_current_connection();
    return failures;
}

} // namespace qvx
