// The collector's start-up order, from the command line to the point where
// the scheduling loop takes over.
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <iostream>

#include "control/cursor.h"
#include "expr/versions.h"
#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "control/evaluation.h"
#include "channel/serve_requests.h"
#include "control/identity.h"
#include "pipeline/edit_passes.h"
#include "procs/fetch_exit.h"
#include "runtime/exit_path.h"
#include "support/environment_pass.h"
#include "control/distributor.h"
#include "runtime/clock.h"
#include "collector/check.h"
#include "collector/cmdline.h"
#include "collector/operator_words.h"
#include "runtime/environment.h"
#include "collector/lifecycle.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "collector/schedule.h"
#include "runtime/signals.h"
#include "collector/startup.h"
#include "runtime/trace.h"
#include "control/tracing.h"

namespace qvx {

namespace {

constexpr rlim_t kMinStack = 8192000;

} // namespace

void adjust_stack_limit() {
    struct rlimit lim{};
    if (getrlimit(RLIMIT_STACK, &lim) != 0) {
        PRINT('a', "cml1526", "Stack: getrlimit rc = %d \n", -1);
        return;
    }
    auto shown = [](rlim_t v) { return v == RLIM_INFINITY ? -1L : static_cast<long>(v); };
    PRINT('a', "cml1526", "Stack: soft limit: %ld  hard limit: %ld \n", shown(lim.rlim_cur),
          shown(lim.rlim_max));
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur >= kMinStack) return;
    lim.rlim_cur = kMinStack;
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < kMinStack) lim.rlim_cur = lim.rlim_max;
    if (setrlimit(RLIMIT_STACK, &lim) != 0) {
        PRINT('a', "cml1526", "Stack: setrlimit rc = %d \n", -1);
        return;
    }
    PRINT('a', "cml1526", "Stack: soft limit set to: %ld  \n", static_cast<long>(lim.rlim_cur));
}

void apply_disabled_cursors() {
    if (disable_cursors.empty()) {
        PRINT('t', "cml1526", "Disable Cursors Environment is not set...\n");
        return;
    }
    std::string list;
    for (char c : disable_cursors)
        if (c != ' ') list += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    disable_cursors = list;
    PRINT('t', "cml1526", "Disable Cursors Environment Settings:\n");
    PRINT('t', "cml1527", "\t COLL_DISABLE_CURSORS=%s\n", list.c_str());
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty()) {
            const std::string var = "COLL_DISABLE_CURSOR_" + name;
            if (name == "KF1") {
                u_putenv(var, "AND FIL.FILE_ID < 128");
                PRINT('t', "cml1527", "\t %s=AND FIL.FILE_ID < 128\n", var.c_str());
            } else if (name == "KF4") {
                u_putenv(var, "0");
                PRINT('t', "cml1527", "\t %s=0\n", var.c_str());
            } else {
                u_putenv(var, "1");
                PRINT('t', "cml1527", "\t %s=1\n", var.c_str());
            }
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

void dump_settings() {
    PRINT('t', "cml1526", "Environment Setting:\n");
    const std::pair<const char*, const std::string*> slots[] = {
        {"coll_home", &env_vars.coll_home},     {"ctl_home", &env_vars.ctl_home},
        {"bin_home", &env_vars.bin_home},       {"coll_out", &env_vars.coll_out},
        {"tmpdir", &env_vars.tmpdir},           {"localtmpdir", &env_vars.localtmpdir},
        {"hostname", &env_vars.hostname},       {"hostlogonid", &env_vars.hostlogonid},
        {"serverid", &env_vars.serverid},       {"logonid", &env_vars.logonid},
        {"db_version", &env_vars.db_version},   {"db_type", &env_vars.db_type},
        {"db_home", &env_vars.db_home},         {"errorlog", &env_vars.errorlog},
    };
    for (const auto& [name, value] : slots)
        if (!value->empty()) PRINT('t', "cml1527", "\t %s=%s\n", name, value->c_str());
}

void seed_dictionary() {
    const std::pair<const char*, const std::string*> seeds[] = {
        {"rdbms", &env_vars.serverid},     {"errlog", &env_vars.errorlog},
        {"logonid", &env_vars.logonid},    {"dbhome", &env_vars.db_home},
        {"dbversion", &env_vars.db_version}, {"dbtype", &env_vars.db_type},
        {"password", &env_vars.password},
    };
    for (const auto& [name, value] : seeds)
        if (!value->empty()) add_dict_parm(name, *value);
}

// The collector frees and allocates the same memory again at every pass
// and every request (rows, replies, the database client's buffers). The C
// library would hand freed memory back to the system each time and take
// it again page by page at the next use, which costs a page fault per
// page and makes an answer to the agent wait for them. Up to 32 MB of
// freed memory is kept for reuse instead.
static void keep_freed_memory() {
    constexpr int kKeep = 32 * 1024 * 1024;
    mallopt(M_TRIM_THRESHOLD, kKeep);
    mallopt(M_MMAP_THRESHOLD, kKeep);
}

int read_control_files(const ControlFileDone& done, const ControlFileNext& next) {
    install_fetch_exits();
    install_condition_parser();
    auto step = [&](ControlFile file, int (*read)()) {
        if (next) next(file);
        return done(file, read());
    };
    if (!step(ControlFile::process, parse_distributor)) return 1;
    set_collector_identity();
    apply_disabled_cursors();
    if (trace_all) dump_settings();
    seed_dictionary();
    if (!step(ControlFile::dict, parse_dict)) return 1;
    if (!step(ControlFile::collect, load_cursors)) return 1;
    step(ControlFile::trace, parse_trace);
    if (evaluator_defined && !step(ControlFile::eval, parse_eval)) return 1;
    return 0;
}

namespace {

// A failed PROCESS.CTL, DICT.CTL or COLLECT.CTL ends the collector; what
// TRACE.CTL says is never fatal.
bool stop_on_failure(ControlFile file, int rc) {
    if (rc == 0 || file == ControlFile::trace) return true;
    if (file == ControlFile::process) del_distributor();
    if (file == ControlFile::collect) delete_cursors();
    quitting(-1001);
    return false;
}

[[noreturn]] void run_collector(int argc, char** argv) {
    parse_argv(argc, argv);
    DDB_getenv(argc, argv);
    init_PRINT();
    adjust_stack_limit();
    std::atexit(my_atexit);
    if (!env_vars.refused.empty()) {
        // Running more open than the operator asked is worse than not running.
        PRINT('s', "cml1528", "Start-up stopped, a setting is refused: %s\n", env_vars.refused.c_str());
        quitting(-1001);
    }

    read_control_files(stop_on_failure);

    set_signal(1);
    PRINT('a', "cml1530", "Start collecting. -------------------------------\n");
    std::fflush(nullptr);
    schedule();
}

} // namespace

[[noreturn]] void collector_main(int argc, char** argv) {
    const OperatorWords words = take_operator_words(argc, argv);
    if (words.help) {
        std::fputs(collector_usage().c_str(), stdout);
        std::exit(0);
    }
    if (words.version) {
        std::fputs(collector_version_line().c_str(), stdout);
        std::exit(0);
    }
    if (words.connect && !words.check) {
        std::fputs("qvxcoll: --connect goes with --check; see qvxcoll --help\n", stderr);
        std::exit(kCollectorUsageError);
    }
    // The request channel is shut on every way out, opened or not.
    if (!words.check) set_close_step(CloseStep::quit_channel, shut_upa_channel);
    saved_argc = argc;
    saved_argv = argv;
    std::setlocale(LC_ALL, "");
    keep_freed_memory();
    if (words.check) std::exit(run_check(argc, argv, words.connect, std::cout));
    run_collector(argc, argv);
}

} // namespace qvx
