// The environment pass: fills the settings slots the command line left
// empty from the environment, shell commands and defaults.
#include "support/environment_pass.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "runtime/environment.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/guarded_settings.h"
#include "support/shell.h"

namespace qvx {

namespace {

// The environment pass reads "COLL_DEBUG" and "HOME" only once.
bool first_call_done = false;

constexpr long default_max_read = 20480000;

// Fills slot from the variable (trace mode) unless it already has a value.
void fill(std::string& slot, const char* name, const char* def = nullptr) {
    if (!slot.empty()) return;
    if (auto value = u_getenv(name, 0, def)) slot = std::move(*value);
}

void fill_from_shell(std::string& slot, const char* name, const char* command) {
    fill(slot, name);
    if (slot.empty()) slot = u_shell_output(command);
}

// A whole decimal integer, or nothing.
std::optional<long> parse_long(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

void fill_max_read() {
    if (env_vars.maxread_set) return;
    env_vars.maxread = default_max_read;
    env_vars.maxread_set = true;
    auto text = u_getenv("MAXREADSZ_ERRORLOG", 0, nullptr);
    if (!text) {
        if (debug_on(6))
            PRINT('t', "uen0021", "'%s' not set, using default of %d\n", "MAXREADSZ_ERRORLOG",
                  static_cast<int>(default_max_read));
        return;
    }
    auto value = parse_long(*text);
    if (!value || *value < 0) {
        PRINT('w', "uen0022", "'%s' is not a valid size (%s), using default of %d\n",
              "MAXREADSZ_ERRORLOG", text->c_str(), static_cast<int>(default_max_read));
        return;
    }
    env_vars.maxread = *value;
}

void fill_nosignals() {
    if (env_vars.nosignals_set) return;
    env_vars.nosignals = 0;
    env_vars.nosignals_set = true;
    auto text = u_getenv("COLL_NOSIGNALS", 0, nullptr);
    if (!text) return;
    auto value = parse_long(*text);
    if (!value || *value < INT_MIN || *value > INT_MAX) {
        PRINT('w', "uen0023", "'%s' is not a valid number (%s), using default of %d\n",
              "COLL_NOSIGNALS", text->c_str(), 0);
        return;
    }
    env_vars.nosignals = static_cast<int>(*value);
}

// Seconds a SELECT may run; unset, 0 or negative: no limit.
void fill_query_timeout() {
    if (env_vars.query_timeout_set) return;
    env_vars.query_timeout = 0;
    env_vars.query_timeout_set = true;
    auto text = u_getenv("COLL_QUERY_TIMEOUT", 0, nullptr);
    if (!text || text->empty()) return;
    auto value = parse_long(*text);
    if (!value || *value > INT_MAX) {
        PRINT('w', "uen0024", "'%s' is not a number of seconds (%s), queries run without a time limit\n",
              "COLL_QUERY_TIMEOUT", text->c_str());
        return;
    }
    env_vars.query_timeout = *value > 0 ? static_cast<int>(*value) : 0;
}

} // namespace

void get_envs() {
    EnvVars& ev = env_vars;

    if (!first_call_done) {
        first_call_done = true;
        if (auto level = u_getenv("COLL_DEBUG", 0, nullptr)) set_debug_levels(*level);
        fill(ev.home, "HOME", "~");
    }
    if (ev.cwd.empty()) {
        fill_from_shell(ev.cwd, "PWD", "pwd");
        if (ev.cwd.empty()) ev.cwd = ev.home;
    }
    if (ev.tmproot.empty()) ev.tmproot = "/tmp";

    fill_from_shell(ev.hostlogonid, "USER", "whoami");
    fill(ev.coll_home, "COLL_HOME", ev.cwd.c_str());
    fill(ev.ctl_home, "COLL_CTL_HOME", ev.cwd.c_str());
    fill(ev.bin_home, "COLL_BINPATH");
    fill_from_shell(ev.hostname, "COLL_HOSTNAME", "uname -n");
    fill(ev.serverid, "COLL_SERVERID");
    fill(ev.logonid, "COLL_LOGON");
    fill(ev.logonid, "COLL_LOGONID");
    fill(ev.password, "COLL_PASSWORD");
    fill_password_file();
    fill(ev.db_type, "COLL_VERSION");
    fill(ev.db_type, "COLL_VERSION_HOME", "qvx");

    if (ev.tmpdir.empty()) {
        fill(ev.tmpdir, "COLL_PREFIX");
        if (ev.tmpdir.empty()) {
            auto logdir = u_getenv("QVXLOGDIR", 0, nullptr);
            ev.tmpdir = (logdir ? *logdir : ev.tmproot) + "/" + ev.hostlogonid;
        }
    }
    fill(ev.localtmpdir, "COLL_PREFIX_LOCAL", ev.tmpdir.c_str());
    fill(ev.coll_out, "COLL_OUT",
         ev.localtmpdir != ev.tmpdir ? ev.localtmpdir.c_str() : ev.coll_home.c_str());

    fill(disable_cursors, "COLL_DISABLE_CURSORS");
    fill(ev.errorlog, "COLL_ERRORLOG");
    fill(ev.db_version, "COLL_DBVERSION");
    fill_max_read();
    fill(ev.useshm, "COLL_USESHM");
    fill(ev.db_home, "COLL_DBHOME");
    fill_nosignals();
    fill_query_timeout();
    fill_ipc_mode();
    fill(ev.cfgdir, "QVXCFGDIR", ev.ctl_home.c_str());
}

void reset_environment_pass() { first_call_done = false; }

} // namespace qvx
