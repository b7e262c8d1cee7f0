#include "support/state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "control/distributor.h"
#include "runtime/environment.h"
#include "channel/pipe_channel.h"
#include "channel/shm_channel.h"
#include "control/cursor.h"
#include "channel/nupa.h"
#include "channel/requests.h"
#include "pipeline/cursor_run.h"
#include "pipeline/server_status.h"
#include "db/database.h"
#include "runtime/lifecycle.h"
#include "runtime/schedule.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/signals.h"
#include "runtime/trace.h"
#include "support/child_process.h"

namespace qvxtest {

void reset_collector_state() {
    qvx::reset_child_processes();
    qvx::reset_signals();
    qvx::reset_messages();
    qvx::reset_settings();
    qvx::reset_trace_switches();
    qvx::reset_dict_parms();
    qvx::reset_dictionary();
    qvx::reset_distributors();
    qvx::reset_environment_pass();
    qvx::delete_cursors();
    qvx::last_curs = nullptr;
    qvx::db_logon_state = qvx::kLogonGood;
    qvx::servstatus = nullptr;
    qvx::servstatus_len = 0;
    qvx::reset_schedule();
    qvx::reset_database();
    qvx::reset_requests();
    qvx::reset_shm_channel();
    qvx::reset_pipe_channel();
    qvx::go_home = 0;
}

std::string captured(const std::function<void()>& fn) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    fn();
    std::fflush(nullptr);
    return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
}

bool has(const std::string& text, const std::string& part) {
    return strcasestr(text.c_str(), part.c_str()) != nullptr;
}

} // namespace qvxtest
