#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

#include "control/dict_parms.h"
#include "control/distributor.h"
#include "collector/lifecycle.h"
#include "runtime/exit_path.h"
#include "runtime/signals.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/signals.h"
#include "collector/startup.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        go_home = 0;
    }
    void TearDown() override { reset_signals(); }
};

std::string field(const auto& arr) { return std::string(arr.begin(), arr.end()); }

} // namespace

TEST_F(StartupTest, DisabledCursorListBecomesVariables) {
    qvxtest::ScopedEnv env;
    env.unset("COLL_DISABLE_CURSOR_KF1");
    env.unset("COLL_DISABLE_CURSOR_KF4");
    env.unset("COLL_DISABLE_CURSOR_X");
    disable_cursors = " kf1 , x,kf4,";
    apply_disabled_cursors();
    EXPECT_EQ(disable_cursors, "KF1,X,KF4,");
    ASSERT_NE(std::getenv("COLL_DISABLE_CURSOR_KF1"), nullptr);
    EXPECT_STREQ(std::getenv("COLL_DISABLE_CURSOR_KF1"), "AND FIL.FILE_ID < 128");
    EXPECT_STREQ(std::getenv("COLL_DISABLE_CURSOR_X"), "1");
    EXPECT_STREQ(std::getenv("COLL_DISABLE_CURSOR_KF4"), "0");
}

TEST_F(StartupTest, SeedingAppendsSetSettingsAfterCommandLineParameters) {
    add_dict_parm("rdbms", "fromcmd");
    env_vars.serverid = "SRV";
    env_vars.password = "pw";
    env_vars.db_type = "qvx";
    seed_dictionary();
    const auto& parms = dict_parms();
    ASSERT_EQ(parms.size(), 4u);
    EXPECT_EQ(parms[1].name, "rdbms");
    EXPECT_EQ(parms[2].name, "dbtype");
    EXPECT_EQ(parms[3].name, "password");
    EXPECT_EQ(search_dict_parm("RDBMS").value_or(""), "fromcmd");
    EXPECT_FALSE(search_dict_parm("errlog").has_value());
}

TEST_F(StartupTest, CollectorIdentityFlowsBothWays) {
    auto d = std::make_unique<distrib>();
    d->distrib_name = "collector";
    d->logonid = "proclogon";
    d->password = "procpw";
    d->serverid = "PROCSRV ";
    collector_at = d.get();
    distrib_anchor.push_back(std::move(d));

    env_vars.logonid = "envlogon";
    env_vars.serverid = std::string(40, 'S');
    env_vars.hostname = "host1";
    set_collector_identity();
    // Settings win and are cut to the field widths; empty settings take the
    // distributor's values.
    EXPECT_EQ(collector_at->logonid, "envlogon");
    EXPECT_EQ(collector_at->serverid, std::string(33, 'S'));
    EXPECT_EQ(env_vars.password, "procpw");
    EXPECT_EQ(field(machine_id.host), "host1" + std::string(59, ' '));
    EXPECT_EQ(field(machine_id.server), std::string(32, 'S'));
    EXPECT_EQ(field(machine_id.third), std::string(64, ' '));
}

TEST_F(StartupTest, StackLimitIsRaisedOrLoweredToTheMinimum) {
    struct rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
    ASSERT_TRUE(saved.rlim_max == RLIM_INFINITY || saved.rlim_max >= 16384000u);
    struct rlimit now{};
    // A small limit is raised.
    struct rlimit small = {1024000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &small), 0);
    adjust_stack_limit();
    getrlimit(RLIMIT_STACK, &now);
    EXPECT_EQ(now.rlim_cur, 8192000u);
    // A larger one stays.
    struct rlimit large = {16384000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &large), 0);
    adjust_stack_limit();
    getrlimit(RLIMIT_STACK, &now);
    EXPECT_EQ(now.rlim_cur, 16384000u);
    // An unlimited one is lowered (where the hard limit allows unlimited).
    if (saved.rlim_max == RLIM_INFINITY) {
        struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
        ASSERT_EQ(setrlimit(RLIMIT_STACK, &unlimited), 0);
        adjust_stack_limit();
        getrlimit(RLIMIT_STACK, &now);
        EXPECT_EQ(now.rlim_cur, 8192000u);
    }
    setrlimit(RLIMIT_STACK, &saved);
}

TEST_F(StartupTest, SignalHandlersFollowTheNoSignalsLevel) {
    auto disposition = [](int sig) {
        struct sigaction act{};
        sigaction(sig, nullptr, &act);
        return act.sa_handler;
    };
    const auto before_term = disposition(SIGTERM);
    const auto before_hup = disposition(SIGHUP);

    set_signal(1);
    EXPECT_TRUE(signals_installed());
    EXPECT_NE(disposition(SIGTERM), before_term);
    EXPECT_NE(disposition(SIGUSR2), SIG_DFL);
    EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
    set_signal(1);  // a second install changes nothing
    set_signal(0);
    EXPECT_FALSE(signals_installed());
    EXPECT_EQ(disposition(SIGTERM), before_term);
    EXPECT_EQ(disposition(SIGHUP), before_hup);

    env_vars.nosignals = 3;
    set_signal(1);
    EXPECT_NE(disposition(SIGINT), SIG_DFL);
    EXPECT_EQ(disposition(SIGUSR2), SIG_DFL);
    set_signal(0);

    env_vars.nosignals = 4;
    set_signal(1);
    EXPECT_FALSE(signals_installed());
    EXPECT_EQ(disposition(SIGTERM), before_term);
}

TEST_F(StartupTest, NonTerminatingSignalIsServicedAndReturns) {
    set_signal(1);
    std::raise(SIGUSR1);
    EXPECT_EQ(go_home, 0);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    service_signals();
    std::fflush(nullptr);
    std::string text = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
    EXPECT_NE(text.find("Received interupt (10). Returning"), std::string::npos) << text;
    EXPECT_EQ(go_home, 0);
}

TEST_F(StartupTest, TerminatingSignalRaisesGoHomeAndQuits) {
    EXPECT_EXIT(
        {
            interrupt_wait_seconds = 0;
            set_signal(1);
            std::raise(SIGTERM);
            if (!go_home) std::exit(3);
            service_signals();
            std::exit(4);  // not reached: the collector ends with status 0
        },
        ::testing::ExitedWithCode(0), "Received interupt \\(15\\). Quitting");
}
