// Logon: which database (COLL_CONNECT), which backend, and the logon of
// the collector distributor.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "db/connection.h"
#include "db/database.h"
#include "db/fetch.h"
#include "control/distributor.h"
#include "db/server_status.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/password.h"

namespace qvx {
namespace {

constexpr int kDbBadConnectString = -12154;

std::string trimmed(const std::string& s) {
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string machine_text() {
    std::string m(machine_id.host.begin(), machine_id.host.end());
    m.append(machine_id.server.begin(), machine_id.server.end());
    m.append(machine_id.third.begin(), machine_id.third.end());
    return m;
}

} // namespace

std::unique_ptr<ConnectTarget> parse_connect(const char* value, const std::string& home,
                                             const std::string& serverid) {
    auto t = std::make_unique<ConnectTarget>();
    if (!value || !*value) {
        t->kind = ConnectTarget::Kind::sqlite;
        t->target = (home.empty() ? std::string(".") : home) + "/" + serverid + ".db";
        return t;
    }
    if (strncasecmp(value, "sqlite:", 7) == 0) {
        t->kind = ConnectTarget::Kind::sqlite;
        t->target = value + 7;
    } else if (strncasecmp(value, "odbc:", 5) == 0) {
        t->kind = ConnectTarget::Kind::odbc;
        t->target = value + 5;
    } else {
        return nullptr;
    }
    if (t->target.empty()) return nullptr;
    return t;
}

int log_on_distributor(distrib& d, std::string& detail) {
    const std::string password = fok(d.password.c_str()).value_or("");
    database_info.db_type = "ORA";
    database_info.machine = machine_text();
    std::signal(SIGCHLD, SIG_IGN);

    LogonData who;
    std::string serverid = env_vars.serverid;
    if (d.type == 1) {
        if (trace_all) PRINT('t', "oin0105", "Connecting to Oracle, user:%s\n", d.logonid.c_str());
        if (!password.empty()) {
            who.user = d.logonid;
            who.password = password;
        }
    } else {
        if (d.distrib_name != "collector") return 0;
        if (trace_all)
            PRINT('t', "oin0110", "Connecting to:%s, user:%s\n", d.serverid.c_str(), d.logonid.c_str());
        who.user = d.logonid;
        who.password = password;
        who.server = trimmed(d.serverid);
        if (!who.server.empty()) serverid = who.server;
    }

    drop_current_connection();
    detail.clear();
    std::unique_ptr<ConnectTarget> target =
        parse_connect(std::getenv("COLL_CONNECT"), env_vars.coll_home, serverid);
    if (!target) {
        detail = "COLL_CONNECT names no known connection kind (sqlite: or odbc:)";
        return kDbBadConnectString;
    }
    std::unique_ptr<Connection> c = target->kind == ConnectTarget::Kind::sqlite
                                        ? make_sqlite_connection(target->target)
                                        : make_odbc_connection(target->target);
    const int rc = c->logon(who);
    detail = c->long_message();
    if (rc != 0) return rc;
    set_current_connection(std::move(c));
    database_info.released = false;
    return 0;
}

int connect_to_DB(distrib& d) {
    std::string detail;
    const int rc = log_on_distributor(d, detail);
    if (rc != 0) {
        PRINT('e', "rcd0100", "Unable to connect to ORACLE at %s\n", d.distrib_name.c_str());
        PRINT('e', "rcd0105", "Connect sql code = %d\n", rc);
        PRINT('e', "rcd0105", "Connect sql code msg detail = %s\n", detail.c_str());
        set_status(rc);
    }
    return rc;
}

} // namespace qvx
