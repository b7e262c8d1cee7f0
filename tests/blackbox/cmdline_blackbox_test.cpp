// Command line, argument files, environment and dictionary seeding seen
// from outside.
#include <gtest/gtest.h>

#include "blackbox/harness.h"

using namespace qvxtest;

TEST(CmdlineBlackbox, VersionDumpNamesTheProgramAndExitsZero) {
    CollectorRun c;
    auto r = c.run({"-version"});
    EXPECT_EQ(r.status, 0);
    const std::string all = r.out + r.err;
    EXPECT_NE(all.find("program            vv check_in_date_time  devid compile__date_time stamp"),
              std::string::npos);
    EXPECT_NE(all.find("Dump headers for "), std::string::npos);
    EXPECT_NE(all.find("qvxcoll"), std::string::npos);
    EXPECT_NE(all.find("qvxrun"), std::string::npos);
    EXPECT_NE(all.find(std::string(60, '-')), std::string::npos);
    // No control file was read.
    EXPECT_EQ(all.find("PROCESS.CTL"), std::string::npos);
}

TEST(CmdlineBlackbox, ArgumentFilesExpandBeforeTheSettingsAreTaken) {
    CollectorRun c;
    c.good_files();
    c.dir.write("args1", "-rdbms \"FROM FILE\" @" + c.dir.file("args2") + "\n");
    c.dir.write("args2", "-logonid  scott\t-errlog /var/log/x.log\n");
    auto r = c.run({"-filein", c.dir.file("args1")});
    EXPECT_EQ(r.status, 0);
    // The server id from the file names the output file.
    ASSERT_TRUE(c.dir.exists("testhost_vx_FROM FILE_col.out"))
        << ::testing::PrintToString(c.dir.files());

    // A file that names itself, and a missing one, end the program with
    // the reading's own status.
    c.dir.write("loop", "-rdbms X @" + c.dir.file("loop") + "\n");
    EXPECT_EQ(c.run({"@" + c.dir.file("loop")}).status, 15);
    EXPECT_EQ(c.run({"-filein", c.dir.file("missing")}).status, 95);
}

TEST(CmdlineBlackbox, TraceShowsSettingsDisabledCursorsAndDictionary) {
    CollectorRun c;
    c.control("proc", kGoodProcess);
    c.control("dict",
              "name filter;\n type CHAR(30);\n initial %COLL_DISABLE_CURSOR_KF1 none;\n"
              "name other;\n type CHAR(10);\n initial %COLL_DISABLE_CURSOR_X;\n"
              "name absent;\n type CHAR(10);\n initial %COLL_DISABLE_CURSOR_Y dflt;\n"
              "name server;\n type CHAR(10);\n initial -rdbms;\n"
              "end;\n");
    c.env["COLL_DISABLE_CURSORS"] = " kf1 , x";
    auto r = c.run({"-dd"});
    EXPECT_EQ(r.status, 0);
    std::string out = c.output();
    EXPECT_TRUE(has_line(out, "CML1527T", "\t COLL_DISABLE_CURSORS=KF1,X"));
    EXPECT_TRUE(has_line(out, "CML1527T", "\t COLL_DISABLE_CURSOR_KF1=AND FIL.FILE_ID < 128"));
    EXPECT_TRUE(has_line(out, "CML1527T", "\t COLL_DISABLE_CURSOR_X=1"));
    EXPECT_TRUE(has_line(out, "CML1526T", "Environment Setting:"));
    EXPECT_TRUE(has_line(out, "CML1527T", "\t serverid=SRV"));
    EXPECT_TRUE(has_line(out, "CML1527T", "\t hostname=testhost"));
    // The dictionary picked up the variables and the seeded server id.
    EXPECT_TRUE(has_line(out, "PDC2164T", "Parm Name= rdbms, Value= SRV"));
    EXPECT_NE(out.find("Name = filter, Type = 0, len = 30, Initial = AND FIL.FILE_ID < 128"),
              std::string::npos);
    EXPECT_NE(out.find("Name = other, Type = 0, len = 10, Initial = 1"), std::string::npos);
    EXPECT_NE(out.find("Name = absent, Type = 0, len = 10, Initial = dflt"), std::string::npos);
    EXPECT_NE(out.find("Name = server, Type = 0, len = 10, Initial = SRV"), std::string::npos);
}

TEST(CmdlineBlackbox, CommandLineParameterWinsOverSettings) {
    CollectorRun c;
    c.control("proc", kGoodProcess);
    c.control("dict", "name server;\n type CHAR(10);\n initial -rdbms;\nend;\n");
    // A dictionary parameter given on the command line is found before the
    // seeded setting of the same name (pass 1 still takes -logonid).
    auto r = c.run({"-d", "-RDBMS", "fromcmd", "-logonid", "bob"});
    EXPECT_EQ(r.status, 0);
    auto out = c.dir.read("testhost_vx_fromcmd_col.out");
    EXPECT_NE(out.find("Name = server, Type = 0, len = 10, Initial = fromcmd"), std::string::npos);
    // Pass 1 runs before the output file is open: its echo goes to standard output.
    EXPECT_TRUE(has_line(r.out, "CPA1532T", "logonid=bob."));
    EXPECT_TRUE(has_line(r.out, "CPA1532T", "rdbms=fromcmd."));
}

TEST(CmdlineBlackbox, LogonDataComesFromProcessFileWhenNotSet) {
    CollectorRun c;
    c.control("proc",
              "process collector;\n type sql*net;\n logon_id fromproc;\n password secret;\n"
              " server_id PRODSRV;\n interval 60;\nend;\n");
    c.control("dict", "name who;\n type CHAR(20);\n initial %COLL_LOGON;\nend;\n");
    c.env.erase("COLL_SERVERID");
    auto r = c.run({"-dd"});
    EXPECT_EQ(r.status, 0);
    // Server id from PROCESS.CTL (blank-filled to 8) names nothing yet: the
    // output file was opened before; the dictionary sees the logon id.
    auto out = c.dir.read("testhost_vx_col.out");
    EXPECT_NE(out.find("Name = who, Type = 0, len = 20, Initial = fromproc"), std::string::npos);
    EXPECT_TRUE(has_line(out, "PDC2164T", "Parm Name= rdbms, Value= PRODSRV"));
}
