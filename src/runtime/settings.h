// The collector settings record: directories, identity, logon data and a
// few numbers, filled from the command line first and the environment
// second (an option always wins; environment variables only fill slots
// that are still empty).
#pragma once

#include <string>

namespace qvx {

struct EnvVars {
    std::string coll_home;    // collector home ("logsdir" pass 1, COLL_HOME)
    std::string ctl_home;     // control home ("ctldir", COLL_CTL_HOME)
    std::string bin_home;     // executables directory (COLL_BINPATH)
    std::string coll_out;     // output directory ("logsdir" pass 2, COLL_OUT)
    std::string hostname;     // COLL_HOSTNAME, else `uname -n`
    std::string hostlogonid;  // USER, else `whoami`
    std::string serverid;     // "rdbms"/"serverid", COLL_SERVERID
    std::string logonid;      // "logonid"/"loginid", COLL_LOGON, COLL_LOGONID
    std::string password;     // "password", COLL_PASSWORD
    std::string errorlog;     // "errlog"/"log", COLL_ERRORLOG
    std::string db_type;      // "dbtype", COLL_VERSION, COLL_VERSION_HOME ("qvx")
    std::string cell_name;    // HXUPA_CELL_NAME, read on demand
    std::string tmpdir;       // "tempdir", COLL_PREFIX
    std::string localtmpdir;  // "ltempdir", COLL_PREFIX_LOCAL
    long maxread = 0;         // "maxread", MAXREADSZ_ERRORLOG (20480000)
    bool maxread_set = false;
    std::string useshm;       // COLL_USESHM
    int nosignals = 0;        // COLL_NOSIGNALS
    bool nosignals_set = false;
    std::string cfgdir;       // QVXCFGDIR, default the control home
    std::string db_home;      // "dbhome", COLL_DBHOME
    std::string db_version;   // "dbversion", COLL_DBVERSION
    int query_timeout = 0;    // COLL_QUERY_TIMEOUT: seconds a SELECT may run, 0 no limit
    bool query_timeout_set = false;
    int ipc_mode = -1;        // COLL_IPC_MODE: permission bits of the channel objects, -1 the open old ones
    bool ipc_mode_set = false;
    std::string password_file;  // COLL_PASSWORD_FILE: where the password is read from
    bool password_file_read = false;
    std::string refused;      // settings the environment pass refused, with why: start-up stops

    // Not printed; kept for the environment pass and later look-ups.
    std::string home;         // HOME, default "~"
    std::string cwd;          // PWD, else `pwd`, else home
    std::string tmproot = "/tmp";
    std::string initfile;     // "initfile" (no further effect)
    bool console = false;     // "console" (no further effect)
};

extern EnvVars env_vars;

// The cursor-disabling list ("COLL_DISABLE_CURSORS"), kept apart from the
// record; empty when not set.
extern std::string disable_cursors;

// Database-type code of a database type: first three characters,
// lower-cased; generic names translated ("syb" -> "zep", "ora" -> "zeb",
// "inf" -> "zec", "sql" -> "zef", "rdx" -> "zek"); known codes stand;
// anything else "unk"; empty "und".
std::string db_type_code(const std::string& db_type);
inline std::string db_type_code() { return db_type_code(env_vars.db_type); }

// Empties the record (tests).
void reset_settings();

} // namespace qvx
