// Environment names the collector owns: their values come from the
// settings first, so that a value given on the command line wins over the
// environment.
#include <array>
#include <cctype>
#include <cstdlib>

#include "control/dictionary.h"
#include "runtime/settings.h"

namespace qvx {

namespace {

struct OwnedName {
    const char* name;
    std::string EnvVars::*setting;
    bool server_fallback;  // database-specific server name
    bool home_fallback;    // database-specific home directory
};

constexpr std::array<OwnedName, 10> kOwned = {{
    {"COLL_LOGON", &EnvVars::logonid, false, false},
    {"COLL_PASSWORD", &EnvVars::password, false, false},
    {"COLL_CTL_HOME", &EnvVars::ctl_home, false, false},
    {"COLL_HOME", &EnvVars::coll_home, false, false},
    {"COLL_SERVERID", &EnvVars::serverid, true, false},
    {"COLL_ERRORLOG", &EnvVars::errorlog, false, false},
    {"COLL_VERSION", &EnvVars::db_type, false, false},
    {"COLL_DBVERSION", &EnvVars::db_version, false, false},
    {"COLL_DBHOME", &EnvVars::db_home, false, true},
    {"HXUPA_CELL_NAME", &EnvVars::cell_name, false, false},
}};

// The database's own variable for the server name or the home directory.
const char* database_variable(bool server) {
    const std::string code = db_type_code();
    if (code == "zep") return server ? "DSQUERY" : "SYBASE";
    if (code == "zec") return server ? "INFORMIXSERVER" : "INFORMIXDIR";
    if (code == "zeb" || code == "zeg" || code == "zej" || code == "zeh")
        return server ? "ORACLE_SID" : "ORACLE_HOME";
    if (code == "zef") return server ? "MSSQL" : "MSSQL_HOME";
    return nullptr;
}

const char* non_empty_env(const char* name) {
    const char* v = name ? std::getenv(name) : nullptr;
    return (v && *v) ? v : nullptr;
}

} // namespace

std::optional<std::string> u_retrieveEnvVar(std::string_view name) {
    constexpr size_t kMaxName = 32;
    if (name.size() > kMaxName) return std::nullopt;
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    for (const auto& owned : kOwned) {
        if (upper != owned.name) continue;
        std::string& setting = env_vars.*owned.setting;
        if (!setting.empty()) return setting;
        const char* value = non_empty_env(owned.name);
        if (!value && owned.server_fallback) value = non_empty_env(database_variable(true));
        if (!value && owned.home_fallback) value = non_empty_env(database_variable(false));
        if (!value) return std::nullopt;
        setting = value;
        return setting;
    }
    return std::nullopt;
}

} // namespace qvx
