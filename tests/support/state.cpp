#include "support/state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "channel/comm_dispatch.h"
#include "channel/comm_pipe.h"
#include "channel/comm_shm.h"
#include "channel/serve_nupa.h"
#include "channel/serve_requests.h"
#include "collector/check.h"
#include "collector/schedule.h"
#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "control/distributor.h"
#include "control/evaluation.h"
#include "db/database.h"
#include "db/server_status.h"
#include "db/utf8.h"
#include "expr/interpreter.h"
#include "expr/lex_store.h"
#include "expr/select.h"
#include "expr/term_table.h"
#include "expr/versions.h"
#include "control/versions.h"
#include "model/cursor_list.h"
#include "pipeline/bases.h"
#include "pipeline/cursor_run.h"
#include "pipeline/decode_eval.h"
#include "procs/fetch_exit.h"
#include "procs/internal_procs.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"
#include "runtime/settings.h"
#include "control/source_position.h"
#include "runtime/signals.h"
#include "runtime/trace.h"
#include "support/child_process.h"
#include "support/environment_pass.h"
#include "support/exec_spawn.h"

namespace qvxtest {

void reset_collector_state() {
    qvx::reset_child_processes();
    qvx::exec::reset_spawn_state();
    qvx::exec::reset_search_path();
    qvx::reset_signals();
    qvx::reset_messages();
    qvx::reset_settings();
    qvx::reset_trace_switches();
    qvx::reset_run_requests();
    qvx::reset_dict_parms();
    qvx::reset_dictionary();
    qvx::reset_distributors();
    qvx::reset_source_position();
    qvx::reset_check();
    qvx::reset_environment_pass();
    qvx::delete_cursors();
    qvx::reset_versions();
    qvx::reset_version_parse();
    qvx::install_condition_parser();
    qvx::forget_server_status();
    qvx::reset_nupa();
    qvx::reset_eval();
    qvx::reset_cursor_run();
    qvx::reset_decodes();
    qvx::reset_bases();
    qvx::reset_schedule();
    qvx::reset_database();
    qvx::reset_codepage();
    qvx::reset_requests();
    qvx::reset_shm_channel();
    qvx::reset_pipe_channel();
    qvx::reset_comm_dispatch();
    qvx::reset_fetch_exits();
    qvx::reset_internal_procs();
    qvx::reset_select();
    qvx::reset_term_tables();
    qvx::reset_interpreter();
    qvx::reset_lex_store();
}

void reset_collector_state_in(const std::string& dir) {
    reset_collector_state();
    for (std::string* setting : {&qvx::env_vars.coll_home, &qvx::env_vars.coll_out,
                                 &qvx::env_vars.tmpdir, &qvx::env_vars.localtmpdir})
        *setting = dir;
    qvx::env_vars.db_type = "qvx";
}

std::string captured(const std::function<void()>& fn) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    fn();
    std::fflush(nullptr);
    return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
}

void give_rows(qvx::curs& c, int n) {
    for (int i = 0; i < n; ++i) c.rows.append(qvx::row_data::create(0));
}

bool has(const std::string& text, const std::string& part) {
    return strcasestr(text.c_str(), part.c_str()) != nullptr;
}

} // namespace qvxtest
