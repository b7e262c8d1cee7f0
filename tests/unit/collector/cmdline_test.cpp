#include "collector/cmdline.h"

#include "control/dict_parms.h"
#include "runtime/environment.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <functional>
#include <strings.h>

using namespace qvx;
using qvxtest::TempDir;

namespace {

using qvxtest::captured;
using qvxtest::has;

std::vector<std::string> prog(std::vector<std::string> args) {
    args.insert(args.begin(), "qvxcoll");
    return args;
}
struct Argv {
    explicit Argv(std::vector<std::string> a) : args(prog(std::move(a))) {
        for (auto& s : args) ptrs.push_back(s.data());
    }
    std::vector<std::string> args;
    std::vector<char*> ptrs;
};
void pass1(std::vector<std::string> args) {
    Argv a(std::move(args));
    parse_argv(static_cast<int>(a.ptrs.size()), a.ptrs.data());
}

class CmdlineTest : public testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
    }
    TempDir dir;
};

TEST_F(CmdlineTest, Pass1OptionsTraceLettersAndParameters) {
    // The server id by abbreviation, any case and glued; "-rd" is too short.
    pass1({"-rdb", "S1", "-rd", "V", "-dbt", "ora", "-logo", "u", "-logs", "/h", "loose", "-RDBMS",
           "S2", "-custom", "-x", "-rdbmsS3", "-last"});
    EXPECT_EQ(env_vars.serverid, "S3");
    // pass 1 "logsdir" is the collector home
    EXPECT_EQ(env_vars.db_type + env_vars.logonid + env_vars.coll_home, "orau/h");
    std::string parms;
    for (const auto& p : dict_parms()) parms += p.name + "=" + p.value + ";";
    EXPECT_EQ(parms, "rd=V;custom=-x;last=;");
    EXPECT_EQ(trace_all, 0);

    // Settings are echoed only after a trace letter; "-dbhome" is a trace
    // letter here; reading stops at "-version".
    std::string out = captured([] {
        pass1({"-ctl", "/c1", "-dxd", "-ctl", "/c2", "-vvv", "-dbhome", "/db", "-ver", "-err", "e"});
    });
    EXPECT_EQ(env_vars.ctl_home + env_vars.errorlog, "/c2");
    EXPECT_EQ(trace_all, 1);
    EXPECT_EQ(my_trace_all[0] + 2 * my_trace_all[1] + 4 * my_trace_all[2] + 8 * my_trace_all[3], 7);
    EXPECT_TRUE(has(out, "cpa1532") && has(out, "d=dxd.") && has(out, "ctldir=/c2."));
    EXPECT_FALSE(has(out, "/c1"));
    EXPECT_EQ(dict_parms().size(), 3u);
}

TEST_F(CmdlineTest, DebugLevelSetter) {
    set_debug_levels("-ddd");
    EXPECT_EQ(trace_all + trace_something, 2);
    EXPECT_EQ(std::vector<int16_t>(my_trace_all, my_trace_all + 10),
              (std::vector<int16_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    reset_trace_switches();
    set_debug_levels("azzzzzzzzz");
    EXPECT_EQ(trace_all, 0);
    EXPECT_EQ(std::vector<int16_t>(my_trace_all, my_trace_all + 10),
              (std::vector<int16_t>{23, 23, 23, 23, 23, 23, 23, 23, 23, 0}));
    set_debug_levels("DEc3d");  // upper-case D does not switch tracing on
    EXPECT_EQ(trace_all, 0);
    EXPECT_EQ(std::vector<int16_t>(my_trace_all, my_trace_all + 10),
              (std::vector<int16_t>{2, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CmdlineTest, Pass2TableStartAndStops) {
    parseDDBCmdline(prog({"-LOGIN", "lg", "-passw", "pw", "-serverid", "SRV", "-logs", "/out",
                          "-ltemp", "/lt", "-temp", "/t", "-dbver", "15", "-console", "-initf",
                          "i.txt", "-rdbmsGLUED", "-errlog", "-logo", "-ser", "X", "-dbhome", "/d"}));
    EXPECT_EQ(env_vars.logonid + env_vars.password + env_vars.serverid, "lgpwGLUED");
    // pass 2 "logsdir" is the output directory
    EXPECT_EQ(env_vars.coll_out + env_vars.localtmpdir + env_vars.tmpdir, "/out/lt/t");
    EXPECT_TRUE(env_vars.console && env_vars.initfile == "i.txt" && env_vars.db_version == "15");
    // "-errlog" takes no option as its value; "-logo" is "log" with "o"
    // glued on; "-ser" is too short for "serverid" and ends the pass.
    EXPECT_EQ(env_vars.errorlog, "o");
    EXPECT_EQ(env_vars.db_home, "");

    // A short program name counts as an argument; a dictionary parameter
    // ends pass 2 while pass 1 reads past it.
    SetUp();
    parseDDBCmdline({"coll", "-rdbms", "S"});
    EXPECT_EQ(env_vars.serverid, "");
    parseDDBCmdline({"-rdbms", "S"});
    EXPECT_EQ(env_vars.serverid, "S");
    SetUp();
    parseDDBCmdline(prog({"-myparm", "x", "-rdbms", "S"}));
    EXPECT_EQ(env_vars.serverid, "");
    pass1({"-myparm", "x", "-rdbms", "S"});
    EXPECT_EQ(env_vars.serverid, "S");
}

TEST_F(CmdlineTest, Pass2MaxReadVersionAndDebug) {
    parseDDBCmdline(prog({"-maxread", "4096"}));
    EXPECT_EQ(env_vars.maxread, 4096);
    for (const char* bad : {"12k", "4294967296", "-5"}) {
        SetUp();
        std::string out = captured([&] { parseDDBCmdline(prog({"-maxr", bad})); });
        EXPECT_FALSE(env_vars.maxread_set) << bad;
        EXPECT_TRUE(has(out, "cpa1534")) << bad;
    }

    Pass2Result r = parseDDBCmdline(prog({"-d", "-ver", "f1", "f2", "-x", "f3"}));
    EXPECT_TRUE(r.version && r.debug);
    EXPECT_EQ(r.version_args, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(my_trace_all[0], 0);  // the dump ends the process: no levels

    // "-d" through both passes: pass 1 sets trace_all, pass 2 levels 0..8.
    SetUp();
    captured([] {
        pass1({"-d"});
        parseDDBCmdline(prog({"-d"}));
    });
    EXPECT_EQ(trace_all, 1);
    EXPECT_EQ(my_trace_all[8] + my_trace_all[9], 23);
}

TEST_F(CmdlineTest, ArgumentFilesExpandInPlace) {
    const std::string inner = dir.write("inner", "-password 'p w'\r\n-ddd\n");
    const std::string outer =
        dir.write("outer", "-rdbms \"my server\"\t-logonid\n@" + inner + "\n\"\" -errlog 'open");
    std::vector<std::string> args = prog({"-DDDx", "-ctl", "/c", "-filein", outer, "-dd"});
    EXPECT_EQ(parseCmdline(args), 0);
    EXPECT_EQ(args, prog({"-ctl", "/c", "-rdbms", "my server", "-logonid", "-password", "p w", "",
                          "-errlog", "open", "-dd"}));
    EXPECT_EQ(trace_all, 1);  // from the nested "-ddd", which came last
    EXPECT_EQ(my_trace_all[1] + my_trace_all[2], 1);
}

TEST_F(CmdlineTest, ArgumentFileLimitAndErrors) {
    for (int i = 1; i <= 10; ++i)
        dir.write("f" + std::to_string(i), i < 10 ? "@" + dir.file("f" + std::to_string(i + 1)) : "-e");
    std::vector<std::string> args = prog({"@" + dir.file("f1")});
    EXPECT_EQ(parseCmdline(args), 0);  // ten files are allowed
    EXPECT_EQ(args, prog({"-e"}));

    std::string self = dir.file("self"), many;
    for (int i = 0; i < 2000; ++i) many += "-x @" + self + "\n";
    dir.write("self", many);
    args = prog({"-filein", self});
    std::string out = captured([&] { EXPECT_EQ(parseCmdline(args), 15); });
    EXPECT_TRUE(has(out, "utf0015") && has(out, "Nested file " + self + " exceded max of 10 files"));

    const std::pair<std::string, std::string> unreadable[] = {
        {"@" + dir.file("missing"), "\"" + dir.file("missing") + "\" errno=2 "},
        {"-filein", "Include file \"<unknown>\""},
        {"@" + dir.path(), "Include file \"" + dir.path() + "\""},
        {"@/dev/zero", "Include file \"/dev/zero\""},
    };
    for (const auto& [arg, text] : unreadable) {
        args = prog({"-rdbms", "S", arg});
        out = captured([&] { EXPECT_EQ(parseCmdline(args), 95) << arg; });
        EXPECT_TRUE(has(out, "utf0010") && has(out, text)) << out;
    }
}

TEST_F(CmdlineTest, DDBGetenvExitStatuses) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Argv missing({"@" + dir.file("missing")}), looping({"@" + dir.write("self", "@" + dir.file("self"))}),
        version({"-version", "/nonexistent/program"});
    EXPECT_EXIT(DDB_getenv(2, missing.ptrs.data()), testing::ExitedWithCode(95), "");
    EXPECT_EXIT(DDB_getenv(2, looping.ptrs.data()), testing::ExitedWithCode(15), "");
    EXPECT_EXIT(DDB_getenv(3, version.ptrs.data()), testing::ExitedWithCode(0), "");

}

} // namespace
