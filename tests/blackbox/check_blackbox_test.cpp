// qvxcoll --check, --help and --version seen from outside: findings with
// their message ids and places, one summary per control file, the exit
// status, and nothing made or opened on the way.
#include <gtest/gtest.h>

#include <filesystem>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

bool has_out_line(const std::string& out, const std::string& line) {
    for (const std::string& l : split_lines(out))
        if (l == line) return true;
    return false;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(CheckBlackbox, ValidFilesAreSummedUpAndNothingIsMadeOrOpened) {
    CollectorRun c;
    c.good_files();
    c.control("trac", "trace CPU;\nend;\n");
    // A logon would fail on this: the check does not log on.
    c.env["COLL_CONNECT"] = "sqlite:" + c.dir.file("no-such.db");
    const std::vector<std::string> before = c.dir.files();
    for (const char* word : {"--check", "-c"}) {
        RunResult r = c.run({word, "-logonid", "monitor"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const std::string d = c.dir.path();
        EXPECT_EQ(r.out, "FILE CHK0100I " + d + "/qvxproc.ctl PROCESS.CTL ok: 2 distributors\n"
                         "FILE CHK0100I " + d + "/qvxdict.ctl DICT.CTL ok: 2 dictionary elements\n"
                         "FILE CHK0100I " + d + "/qvxcoll.ctl COLLECT.CTL ok: 1 cursor, 2 columns\n"
                         "FILE CHK0100I " + d + "/qvxtrac.ctl TRACE.CTL ok: 1 cursor traced\n"
                         "RESULT CHK0300I - valid: 4 files, 0 warnings\n");
        EXPECT_EQ(r.err, "");
    }
    // No output file, no id, lock or pipe file, no database file.
    EXPECT_EQ(c.dir.files(), before);
    EXPECT_TRUE(entries(c.dir.path() + "/tmp").empty());
}

TEST(CheckBlackbox, ErrorsOfEveryFileAreListedWithTheirPlace) {
    CollectorRun c;
    c.control("proc",
              "process collector;\n"
              "  type local;\n"
              "  interval 60;\n"
              "process upa;\n"
              "  type local;\n"
              "end;\n");
    c.control("dict", kGoodDict);
    c.control("coll",
              "cursor CPU;\n"
              "  INSERT INTO os.cpu (busy) VALUES (:busy);\n"
              "  interval 5x;\n"
              "; a comment line\n"
              "  limit\n"
              "    1x;\n"
              "cursor TWO;\n"
              "  interval 5;\n"
              "end;\n");
    RunResult r = c.run({"--check"});
    EXPECT_EQ(r.status, 1);
    const std::string d = c.dir.path();
    const std::string& out = r.out;
    // The block's own checks point at its first line, not where it ended.
    EXPECT_TRUE(has_out_line(out, "ERROR PPC0915E " + d + "/qvxproc.ctl:4 No Process interval specified")) << out;
    EXPECT_TRUE(has_line(out, "FILE CHK0105E " + d + "/qvxproc.ctl PROCESS.CTL failed")) << out;
    // A failed PROCESS.CTL does not keep the other files from being read.
    EXPECT_TRUE(has_out_line(out, "FILE CHK0100I " + d + "/qvxdict.ctl DICT.CTL ok: 2 dictionary elements")) << out;
    EXPECT_TRUE(has_out_line(out, "ERROR PCC0511E " + d + "/qvxcoll.ctl:3 Value for interval is not a number: 5x"))
        << out;
    // A statement over two lines is placed at its first.
    EXPECT_TRUE(has_out_line(out, "ERROR PCC0511E " + d + "/qvxcoll.ctl:5 Value for limit is not a number: 1x"))
        << out;
    EXPECT_TRUE(has_out_line(out, "ERROR PCC0360E " + d + "/qvxcoll.ctl:7 Cursor (TWO). No model INSERT statement"))
        << out;
    EXPECT_TRUE(has_out_line(out, "ERROR PCC0755E " + d + "/qvxcoll.ctl:0 Parsing ended with errors")) << out;
    EXPECT_TRUE(has_line(out, "FILE CHK0105E " + d + "/qvxcoll.ctl COLLECT.CTL failed")) << out;
    EXPECT_TRUE(has_out_line(out, "FILE CHK0110I qvxtrac.ctl TRACE.CTL absent")) << out;
    EXPECT_TRUE(has_line(out, "RESULT CHK0305E - not valid: ")) << out;
    // Every line has its kind, an id with a level letter and a place.
    const std::regex shape(R"(^(ERROR|WARNING|FILE|RESULT) [A-Z]{3}[0-9]{4}[A-Z] \S+ .+$)");
    for (const std::string& line : split_lines(out)) EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_FALSE(c.dir.exists(c.output_name()));
}

TEST(CheckBlackbox, ConnectPreparesEverySelectWithoutRunningIt) {
    CollectorRun c;
    c.good_files();
    c.control("coll",
              "cursor GOOD;\n"
              "  INSERT INTO t_events (what) VALUES (:what);\n"
              "  interval 30;\n"
              "cursor MISSING;\n"
              "  INSERT INTO no_such (a) VALUES (:a);\n"
              "  interval 30;\n"
              "end;\n");
    const std::string db = c.dir.file("events.db");
    sqlite(db, "CREATE TABLE t_events (what TEXT);");
    c.env["COLL_CONNECT"] = "sqlite:" + db;
    RunResult r = c.run({"--check", "--connect"});
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string coll = c.dir.file("qvxcoll.ctl");
    EXPECT_TRUE(has_out_line(r.out, "LOGON CHK0200I COLL_CONNECT logged on to sqlite:" + db)) << r.out;
    EXPECT_TRUE(has_out_line(r.out, "SQL CHK0210I " + coll + ":1 GOOD prepares")) << r.out;
    EXPECT_TRUE(has_out_line(r.out, "SQL CHK0215E " + coll + ":4 MISSING does not prepare: -20001 no such table: no_such"))
        << r.out;

    // A file that is no database: the logon's failure and its message.
    c.env["COLL_CONNECT"] = "sqlite:" + c.dir.write("bogus.db", std::string(4096, 'x'));
    r = c.run({"--check", "--connect"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "LOGON CHK0205E COLL_CONNECT not logged on to sqlite:")) << r.out;
    EXPECT_NE(r.out.find("-20026 file is not a database"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("SQL "), std::string::npos) << r.out;
}

TEST(CheckBlackbox, HelpAndVersionAnswerAndStartNothing) {
    CollectorRun c;
    c.good_files();  // a run would start here and write its output file
    for (const char* word : {"--help", "-h"}) {
        RunResult r = c.run({word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out.rfind("usage: qvxcoll", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("--check"), std::string::npos);
    }
    RunResult v = c.run({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_TRUE(std::regex_match(v.out, std::regex(R"(qvxcoll [0-9]+\.[0-9]+\.[0-9]+ \(build [0-9]{14}\)\n)")))
        << v.out;
    RunResult alone = c.run({"--connect"});
    EXPECT_EQ(alone.status, 64);
    EXPECT_NE(alone.err.find("--connect goes with --check"), std::string::npos) << alone.err;
    EXPECT_FALSE(c.dir.exists(c.output_name())) << ::testing::PrintToString(c.dir.files());
}

} // namespace
