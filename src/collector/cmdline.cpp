// The two command-line passes and the debug-level setter. Argument-file
// expansion lives in argfiles.cpp.
#include "collector/cmdline.h"

#include "control/dict_parms.h"
#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "runtime/version.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <optional>

namespace qvx {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool starts_with_dash(const std::string& s) { return !s.empty() && s[0] == '-'; }

// What an option of a table does once it matched.
enum class Effect {
    Set,      // a settings slot takes the value
    Number,   // the maximum error-log read size takes the value
    Console,  // accepted, no effect beyond the flag
    Initfile, // remembered, no further effect
    Version,  // version dump over the following arguments
    Debug,    // every debug level on
};

struct Keyword {
    const char* name;
    size_t min_abbrev;
    Effect effect;
    std::string EnvVars::*slot;
};

// Pass 1: the collector options, tried in this order before the trace
// letters and the dictionary parameters.
const Keyword pass1_keywords[] = {
    {"rdbms", 3, Effect::Set, &EnvVars::serverid},
    {"dbtype", 3, Effect::Set, &EnvVars::db_type},
    {"tempdir", 4, Effect::Set, &EnvVars::tmpdir},
    {"logonid", 3, Effect::Set, &EnvVars::logonid},
    {"logsdir", 3, Effect::Set, &EnvVars::coll_home},
    {"ctldir", 3, Effect::Set, &EnvVars::ctl_home},
    {"errlog", 3, Effect::Set, &EnvVars::errorlog},
    {"password", 3, Effect::Set, &EnvVars::password},
    {"version", 3, Effect::Version, nullptr},
    {"console", 3, Effect::Console, nullptr},
};

// Pass 2: the settings options; the first option matching none of them
// ends the pass.
const Keyword pass2_keywords[] = {
    {"logonid", 5, Effect::Set, &EnvVars::logonid},
    {"loginid", 5, Effect::Set, &EnvVars::logonid},
    {"password", 4, Effect::Set, &EnvVars::password},
    {"ctldir", 3, Effect::Set, &EnvVars::ctl_home},
    {"rdbms", 3, Effect::Set, &EnvVars::serverid},
    {"serverid", 6, Effect::Set, &EnvVars::serverid},
    {"logsdir", 4, Effect::Set, &EnvVars::coll_out},
    {"errlog", 3, Effect::Set, &EnvVars::errorlog},
    {"log", 3, Effect::Set, &EnvVars::errorlog},
    {"dbtype", 3, Effect::Set, &EnvVars::db_type},
    {"ltempdir", 5, Effect::Set, &EnvVars::localtmpdir},
    {"tempdir", 4, Effect::Set, &EnvVars::tmpdir},
    {"maxread", 4, Effect::Number, nullptr},
    {"dbhome", 6, Effect::Set, &EnvVars::db_home},
    {"dbversion", 5, Effect::Set, &EnvVars::db_version},
    {"console", 7, Effect::Console, nullptr},
    {"initfile", 4, Effect::Initfile, nullptr},
    {"version", 3, Effect::Version, nullptr},
    {"debug", 1, Effect::Debug, nullptr},
};

template <size_t N>
const Keyword* find_keyword(const Keyword (&table)[N], std::string_view option, std::string* glued) {
    for (const auto& kw : table)
        if (match_option(option, kw.name, kw.min_abbrev, glued)) return &kw;
    return nullptr;
}

// Trace letters of pass 1: position i of the option text set to the
// letter switches debug level i on.
void set_levels_by_position(std::string_view option, char letter) {
    for (size_t i = 0; i < option.size() && i < 10; ++i)
        if (option[i] == letter) my_trace_all[i] = 1;
}

// The largest maximum read size accepted from the command line.
constexpr unsigned long max_read_limit = UINT_MAX;

std::optional<long> parse_read_size(const std::string& text) {
    if (text.empty()) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > max_read_limit) return std::nullopt;
    }
    return static_cast<long>(value);
}

} // namespace

bool match_option(std::string_view option, std::string_view keyword, size_t min_abbrev,
                  std::string* glued) {
    const size_t n = std::min(option.size(), keyword.size());
    if (n == 0 || n < min_abbrev) return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(option[i]) != keyword[i]) return false;
    if (glued) {
        if (option.size() > keyword.size())
            *glued = std::string(option.substr(keyword.size()));
        else
            glued->clear();
    }
    return true;
}

void parse_argv(int argc, char** argv) {
    if (!argv) return;
    bool echo = false;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i] || argv[i][0] != '-') continue;
        const std::string option = argv[i] + 1;
        if (option.empty()) continue;

        std::string glued;
        if (const Keyword* kw = find_keyword(pass1_keywords, option, &glued)) {
            switch (kw->effect) {
            case Effect::Set: {
                std::optional<std::string> value;
                if (!glued.empty())
                    value = glued;
                else if (i + 1 < argc && argv[i + 1])
                    value = argv[++i];
                if (value) {
                    env_vars.*(kw->slot) = *value;
                    if (echo) PRINT('t', "cpa1532", "%s=%s.\n", kw->name, value->c_str());
                }
                break;
            }
            case Effect::Version:
                // Pass 2 performs the dump and ends the process; the
                // options after it are not ours to read.
                return;
            default:
                break;
            }
            continue;
        }

        if (option[0] == 'd') {
            trace_all = 1;
            trace_something = 1;
            set_levels_by_position(option, 'd');
            echo = true;
            PRINT('t', "cpa1532", "%s=%s.\n", "d", option.c_str());
        } else if (option[0] == 'v') {
            trace_something = 1;
            set_levels_by_position(option, 'v');
            echo = true;
        } else {
            std::string value;
            if (i + 1 < argc && argv[i + 1]) value = argv[++i];
            add_dict_parm(option, std::move(value));
        }
    }
}

Pass2Result parseDDBCmdline(const std::vector<std::string>& args) {
    Pass2Result result;
    size_t i = 0;
    if (args.size() > 1 && !starts_with_dash(args[0]) && starts_with_dash(args[1]) &&
        args[0].size() > 4)
        i = 1;

    for (; i < args.size(); ++i) {
        if (!starts_with_dash(args[i])) break;
        const std::string_view option = std::string_view(args[i]).substr(1);
        std::string glued;
        const Keyword* kw = find_keyword(pass2_keywords, option, &glued);
        if (!kw) break;

        if (kw->effect == Effect::Version) {
            result.version = true;
            for (size_t j = i + 1; j < args.size() && !starts_with_dash(args[j]); ++j)
                result.version_args.push_back(args[j]);
            break;
        }
        if (kw->effect == Effect::Debug) {
            result.debug = true;
            continue;
        }

        std::optional<std::string> value;
        if (!glued.empty())
            value = glued;
        else if (i + 1 < args.size() && !starts_with_dash(args[i + 1]))
            value = args[++i];

        switch (kw->effect) {
        case Effect::Set:
            if (value) env_vars.*(kw->slot) = *value;
            break;
        case Effect::Number:
            if (auto size = value ? parse_read_size(*value) : std::nullopt) {
                env_vars.maxread = *size;
                env_vars.maxread_set = true;
            } else {
                PRINT('w', "cpa1534",
                      "Option \"-%s\" needs an unsigned number up to %lu, got \"%s\"; default kept\n",
                      kw->name, max_read_limit, value ? value->c_str() : "");
            }
            break;
        case Effect::Console:
            env_vars.console = true;
            break;
        case Effect::Initfile:
            if (value) env_vars.initfile = *value;
            break;
        default:
            break;
        }
    }

    if (result.debug && !result.version) set_debug_levels("azzzzzzzzz");
    return result;
}

int read_command_line_settings(int argc, char** argv, Pass2Result& pass2) {
    std::vector<std::string> args;
    for (int i = 0; argv && i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);

    if (int status = parseCmdline(args); status != 0) return status;
    pass2 = parseDDBCmdline(args);
    if (!pass2.version) get_envs();
    return 0;
}

void DDB_getenv(int argc, char** argv) {
    Pass2Result pass2;
    if (int status = read_command_line_settings(argc, argv, pass2); status != 0) std::exit(status);
    if (pass2.version) std::exit(version_dump(pass2.version_args));
}

} // namespace qvx
