#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "support/guarded_settings.h"

#include "control/dict_parms.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <strings.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

using namespace qvx;

namespace {

using qvxtest::captured;
using qvxtest::has;

class EnvironmentTest : public testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        for (const char* name :
             {"COLL_DEBUG", "COLL_HOME", "COLL_CTL_HOME", "COLL_BINPATH", "COLL_SERVERID",
              "COLL_LOGON", "COLL_LOGONID", "COLL_PASSWORD", "COLL_VERSION", "COLL_VERSION_HOME",
              "COLL_PREFIX", "QVXLOGDIR", "COLL_PREFIX_LOCAL", "COLL_OUT", "COLL_DISABLE_CURSORS",
              "COLL_ERRORLOG", "COLL_DBVERSION", "MAXREADSZ_ERRORLOG", "COLL_USESHM", "COLL_DBHOME",
              "COLL_NOSIGNALS", "QVXCFGDIR", "QVX_T", "COLL_IPC_MODE", "COLL_PASSWORD_FILE"})
            env.unset(name);
        env.set("HOME", "/home/tester");
        env.set("PWD", "/work/dir");
        env.set("USER", "tester");
        env.set("COLL_HOSTNAME", "host1");
    }
    qvxtest::ScopedEnv env;
};

TEST_F(EnvironmentTest, GetenvModes) {
    env.set("QVX_T", "");  // empty counts as not set; an empty default is none
    EXPECT_EQ(u_getenv("QVX_T", -2, ""), std::nullopt);
    std::string out = captured([] { EXPECT_EQ(u_getenv("QVX_T", 1, "d1"), "d1"); });
    EXPECT_TRUE(has(out, "uen0010") && has(out, "\"QVX_T\" is not available") &&
                has(out, "uen0020") && has(out, "Using default of d1"));
    EXPECT_STREQ(std::getenv("QVX_T"), "");  // mode 1 does not export

    env.unset("QVX_T");
    out = captured([] { EXPECT_EQ(u_getenv("QVX_T", -1, "d2"), "d2"); });
    EXPECT_TRUE(has(out, "uen0015") && has(out, "Environment variable \"QVX_T\" not set"));
    EXPECT_STREQ(std::getenv("QVX_T"), "d2");

    my_trace_all[3] = 1;  // mode 0 reports only then
    out = captured([] {
        EXPECT_EQ(u_getenv("QVX_T", 1, "d3"), "d2");
        u_getenv("QVX_T", 0, nullptr);
        u_getenv("QVX_NOT_THERE", 0, nullptr);
        u_getenv("QVX_NOT_THERE", -2, "x");
    });
    EXPECT_TRUE(has(out, "uen0025") && has(out, "Env var QVX_T=d2."));
    EXPECT_TRUE(has(out, "uen0026") && has(out, "Env var QVX_NOT_THERE was not set."));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

TEST_F(EnvironmentTest, Putenv) {
    const char* first = u_putenv("QVX_T", "one");
    EXPECT_STREQ(u_putenv("QVX_T", "two"), "two");
    EXPECT_STREQ(first, "one");  // the replaced string stays valid
    EXPECT_STREQ(std::getenv("QVX_T"), "two");
    my_trace_all[0] = 1;
    std::string out = captured([] {
        EXPECT_STREQ(u_putenv("QVX_T", nullptr), "");  // just the name removes it
        EXPECT_EQ(u_putenv("A=B", "x"), nullptr);
    });
    EXPECT_EQ(std::getenv("QVX_T"), nullptr);
    EXPECT_TRUE(has(out, "uen0046") && has(out, "Set environment variable \"QVX_T\"."));
    EXPECT_TRUE(has(out, "uen0045") && has(out, "\"A=B\" could not be set."));
}

TEST_F(EnvironmentTest, DefaultsOfTheEnvironmentPass) {
    get_envs();
    const EnvVars& ev = env_vars;
    EXPECT_EQ(ev.home + ev.cwd + ev.tmproot, "/home/tester/work/dir/tmp");
    EXPECT_EQ(ev.coll_home + ev.ctl_home + ev.cfgdir, "/work/dir/work/dir/work/dir");
    EXPECT_EQ(ev.hostlogonid + ev.hostname + ev.db_type, "testerhost1qvx");
    EXPECT_EQ(ev.tmpdir + ev.localtmpdir, "/tmp/tester/tmp/tester");
    EXPECT_EQ(ev.coll_out, "/work/dir");  // local tmp equals tmp: the collector home
    EXPECT_EQ(ev.maxread, 20480000);
    EXPECT_TRUE(ev.nosignals_set && ev.nosignals == 0);

    SetUp();
    env.unset("HOME");
    for (auto [name, value] : {std::pair{"COLL_LOGONID", "l2"}, {"COLL_VERSION_HOME", "zeb"},
                               {"QVXLOGDIR", "/logs"}, {"COLL_PREFIX_LOCAL", "/local"},
                               {"MAXREADSZ_ERRORLOG", "1000"}, {"COLL_NOSIGNALS", "3"},
                               {"COLL_DISABLE_CURSORS", "kf1,x"}, {"COLL_CTL_HOME", "/ctl"}})
        env.set(name, value);
    get_envs();
    EXPECT_EQ(ev.home + " " + ev.logonid + " " + ev.db_type, "~ l2 zeb");
    EXPECT_EQ(ev.tmpdir + " " + ev.coll_out, "/logs/tester /local");  // local tmp differs
    EXPECT_EQ(ev.maxread + ev.nosignals, 1003);
    EXPECT_EQ(disable_cursors + " " + ev.cfgdir, "kf1,x /ctl");
}

TEST_F(EnvironmentTest, OptionsWinAndFirstNamesComeFirst) {
    for (auto [name, value] : {std::pair{"COLL_SERVERID", "ENV"}, {"COLL_LOGON", "l1"},
                               {"COLL_LOGONID", "l2"}, {"COLL_VERSION", "zep"},
                               {"COLL_VERSION_HOME", "zeb"}, {"COLL_PREFIX", "/envtmp"},
                               {"COLL_NOSIGNALS", "x1"}, {"COLL_DEBUG", "dde"}})
        env.set(name, value);
    env_vars.serverid = "OPT";
    env_vars.maxread = 5;
    env_vars.maxread_set = true;
    std::string out = captured([] { get_envs(); });
    EXPECT_TRUE(has(out, "uen0023") && !has(out, "uen0022"));  // bad COLL_NOSIGNALS only
    EXPECT_EQ(env_vars.serverid + env_vars.logonid + env_vars.db_type, "OPTl1zep");
    EXPECT_EQ(env_vars.localtmpdir, "/envtmp");
    EXPECT_EQ(env_vars.maxread + env_vars.nosignals, 5);
    EXPECT_EQ(trace_all + my_trace_all[0] + my_trace_all[1], 4);

    // COLL_DEBUG and HOME are read on the first call only.
    reset_settings();
    reset_trace_switches();
    get_envs();
    EXPECT_EQ(trace_all, 0);
    EXPECT_EQ(env_vars.home, "");
}

TEST_F(EnvironmentTest, MaxReadReportsAndCommandDefaults) {
    env.set("MAXREADSZ_ERRORLOG", "lots");
    env.unset("PWD");
    env.unset("COLL_HOSTNAME");
    std::string out = captured([] { get_envs(); });
    EXPECT_TRUE(has(out, "uen0022") && env_vars.maxread == 20480000);
    char cwd[4096];
    utsname un{};
    ASSERT_TRUE(getcwd(cwd, sizeof cwd) && uname(&un) == 0);
    EXPECT_EQ(env_vars.cwd + " " + env_vars.hostname, std::string(cwd) + " " + un.nodename);

    SetUp();
    my_trace_all[6] = 1;
    out = captured([] { get_envs(); });
    EXPECT_TRUE(has(out, "uen0021") && has(out, "'MAXREADSZ_ERRORLOG' not set, using default of 20480000"));
}

// The channel mode: octal digits only, no more than 0777, and the owner
// must keep reading and writing; anything else is refused, not guessed.
TEST_F(EnvironmentTest, ChannelModeIsOctalAndKeepsTheOwner) {
    EXPECT_EQ(parse_ipc_mode("0600"), 0600);
    EXPECT_EQ(parse_ipc_mode("660"), 0660);
    EXPECT_EQ(parse_ipc_mode("0777"), 0777);
    for (const char* bad : {"", "0400", "0200", "1777", "0800", "06000", "0x1f", " 600", "600 "})
        EXPECT_FALSE(parse_ipc_mode(bad).has_value()) << bad;

    get_envs();
    EXPECT_EQ(env_vars.ipc_mode, -1);
    EXPECT_TRUE(env_vars.refused.empty());

    SetUp();
    env.set("COLL_IPC_MODE", "0640");
    get_envs();
    EXPECT_EQ(env_vars.ipc_mode, 0640);

    SetUp();
    env.set("COLL_IPC_MODE", "644x");
    const std::string out = captured([] {
        get_envs();
        get_envs();  // a second pass neither repeats nor changes the refusal
    });
    EXPECT_EQ(env_vars.ipc_mode, -1);
    EXPECT_TRUE(has(out, "UEN0030E")) << out;
    EXPECT_EQ(out.find("UEN0030E"), out.rfind("UEN0030E"));
    EXPECT_EQ(env_vars.refused.rfind("COLL_IPC_MODE: ", 0), 0u) << env_vars.refused;
}

// The password file: first line only, owner-readable only; an option or
// COLL_PASSWORD given already wins and the file is left unread.
TEST_F(EnvironmentTest, PasswordFileIsReadOnlyWhenPrivate) {
    qvxtest::TempDir dir;
    const std::string file = dir.write("pw", "s3cret word\nsecond line\n");
    ::chmod(file.c_str(), 0600);
    env.set("COLL_PASSWORD_FILE", file);
    get_envs();
    EXPECT_EQ(env_vars.password, "s3cret word");
    EXPECT_TRUE(env_vars.refused.empty());

    for (mode_t open_mode : {0640, 0604}) {
        SetUp();
        env.set("COLL_PASSWORD_FILE", file);
        ::chmod(file.c_str(), open_mode);
        const std::string out = captured([] { get_envs(); });
        EXPECT_TRUE(env_vars.password.empty());
        EXPECT_TRUE(has(out, "UEN0032E") && has(out, "(chmod 600)")) << out;
        EXPECT_NE(env_vars.refused.find("COLL_PASSWORD_FILE: The password file '" + file + "' is readable by"),
                  std::string::npos);
    }

    const std::pair<std::string, const char*> unusable[] = {
        {dir.file("missing"), "UEN0031E"}, {dir.path(), "UEN0031E"}, {dir.write("empty", "\nword\n"), "UEN0033E"}};
    for (const auto& [path, id] : unusable) {
        SetUp();
        ::chmod(path.c_str(), 0700);
        env.set("COLL_PASSWORD_FILE", path);
        const std::string out = captured([] { get_envs(); });
        EXPECT_TRUE(has(out, id)) << path << ": " << out;
        EXPECT_FALSE(env_vars.refused.empty()) << path;
    }

    SetUp();
    ::chmod(file.c_str(), 0644);  // not even looked at: no refusal
    env.set("COLL_PASSWORD_FILE", file);
    env.set("COLL_PASSWORD", "given");
    const std::string out = captured([] { get_envs(); });
    EXPECT_EQ(env_vars.password, "given");
    EXPECT_TRUE(has(out, "UEN0034W")) << out;
    EXPECT_TRUE(env_vars.refused.empty());
}

} // namespace
