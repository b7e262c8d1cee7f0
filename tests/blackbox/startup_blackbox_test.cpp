// Start-up of the collector seen from outside: output file, line format,
// parse banners, errors of the control files and the final line.
#include <gtest/gtest.h>

#include <regex>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::regex kLineFormat(R"(^[A-Z]{3}[0-9]{4}[A-Z] \([0-9]{6}\) .*)");

} // namespace

TEST(StartupBlackbox, CleanStartWritesBannerParsesFilesAndEnds) {
    CollectorRun c;
    c.good_files();
    auto r = c.run();
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(c.dir.exists(c.output_name())) << "files: " << ::testing::PrintToString(c.dir.files());

    const std::string out = c.output();
    // Every line with an id and a time stamp has the documented layout.
    for (const auto& line : split_lines(out)) {
        if (line.size() > 8 && line[0] >= 'A' && line[0] <= 'Z' && line[7] != ' ' && line[8] == ' ' &&
            line[9] == '(') {
            EXPECT_TRUE(std::regex_match(line, kLineFormat)) << line;
        }
    }
    EXPECT_TRUE(has_line(out, "CAT2035I", "Time = "));
    EXPECT_FALSE(lines_with(out, "USH0100I").empty());
    EXPECT_TRUE(has_line(out, "CML1526I", "Stack: soft limit:"));
    EXPECT_TRUE(has_line(out, "PPC0745I", "-- Starting parse of PROCESS.CTL -- Time = "));
    EXPECT_TRUE(has_line(out, "UOI0025I", "qvxproc.ctl opened"));
    EXPECT_TRUE(has_line(out, "PPC1205I", "--  Process Parsing ended at "));
    EXPECT_TRUE(has_line(out, "PDC2045I", "-- Starting parse of DICT.CTL -- Time: "));
    EXPECT_TRUE(has_line(out, "PTC4740I", "--  Dict Control Parsing ended at "));
    EXPECT_FALSE(out.find("Parsing ended with errors") != std::string::npos);
    // The last line of the file is the end of the collector.
    auto lines = split_lines(out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(),
                                 std::regex(R"(GGN1505S \([0-9]{6}\) Time = [0-9]{4}/[0-9]{2}/[0-9]{2} )"
                                            R"([0-9]{2}:[0-9]{2}:[0-9]{2}, Collector ended)")))
        << lines.back();
    // Milestones and severe lines are copied to standard error.
    EXPECT_NE(r.err.find("Collector ended"), std::string::npos);
    EXPECT_NE(r.err.find("CAT2035I"), std::string::npos);
    EXPECT_EQ(r.err.find("PPC0745I"), std::string::npos);
}

TEST(StartupBlackbox, OutputFileNameFollowsTheSettings) {
    CollectorRun c;
    c.good_files();
    c.env["COLL_OUT"] = c.dir.path() + "/out";
    c.dir.write("out/.keep", "");
    auto r = c.run({"-rdbms", "PROD1", "-dbtype", "oracle"});
    EXPECT_EQ(r.status, 0);
    // Oracle's files carry the code "zeb": the "qvx" files are not seen.
    ASSERT_TRUE(c.dir.exists("out/testhost_racle_PROD1_col.out"));
    EXPECT_TRUE(has_line(c.dir.read("out/testhost_racle_PROD1_col.out"), "UOI0055E",
                         "Could not find a zebproc.ctl file"));
    c.dir.write("zebproc.ctl", kGoodProcess);
    c.dir.write("zebdict.ctl", kGoodDict);
    r = c.run({"-rdbms", "PROD1", "-dbtype", "oracle"});
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(c.dir.exists("out/testhost_racle_PROD1_col.out"));
    std::string out = c.dir.read("out/testhost_racle_PROD1_col.out");
    EXPECT_TRUE(has_line(out, "UOI0025I", "zebproc.ctl opened"));
    EXPECT_TRUE(has_line(out, "GGN1505S", "Collector ended"));
}

TEST(StartupBlackbox, BackupsRotateOnEveryStart) {
    CollectorRun c;
    c.good_files();
    c.env["COLL_NUMOUTBAK"] = "2";
    for (int i = 0; i < 3; ++i) ASSERT_EQ(c.run().status, 0);
    const std::string base = "testhost_vx_SRV_col.ou";
    EXPECT_FALSE(c.dir.exists(base + "3"));
    // Each generation is a complete run of its own.
    for (const char* last : {"t", "1", "2"}) {
        ASSERT_TRUE(c.dir.exists(base + last)) << last;
        std::string text = c.dir.read(base + last);
        EXPECT_TRUE(has_line(text, "CAT2035I", "Time = ")) << last;
        EXPECT_TRUE(has_line(text, "GGN1505S", "Collector ended")) << last;
    }
}

TEST(StartupBlackbox, WrappingStartsAFreshFileWithANotice) {
    CollectorRun c;
    c.good_files();
    c.env["COLL_WRAPLINES"] = "5";
    c.env["COLL_NUMOUTBAK"] = "3";
    ASSERT_EQ(c.run().status, 0);
    std::string current = c.output();
    auto lines = split_lines(current);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.front().rfind("CGN5000I", 0) == 0) << lines.front();
    EXPECT_NE(lines.front().find("       File wrapped -- "), std::string::npos);
    EXPECT_LE(lines.size() - 1, 5u);  // the notice, then at most the limit
    // A full file holds the limit of lines, after the notice when it has one.
    auto previous = split_lines(c.dir.read("testhost_vx_SRV_col.ou1"));
    ASSERT_FALSE(previous.empty());
    const size_t notice = previous.front().rfind("CGN5000I", 0) == 0 ? 1 : 0;
    EXPECT_EQ(previous.size() - notice, 5u);
}

// Control files with errors: the errors reach the output file, the
// collector ends in the orderly way, and what comes after the failed file
// is not read. (Each message of the parsers is the parser tests' own.)
TEST(StartupBlackbox, ControlFileErrorsAreAllReportedAndEndTheCollector) {
    using Lines = std::vector<std::pair<std::string, std::string>>;  // id (any when empty), text
    struct Case {
        const char* what;
        std::string proc, dict, coll;  // an empty one is not written
        Lines lines;
        const char* never;
    };
    const Case cases[] = {
        {"no process file", "", kGoodDict, "", {{"UOI0055E", "Could not find a qvxproc.ctl file"}}, "DICT.CTL"},
        {"process file",
         "process collector;\n  type local;\n  interval 123456;\n  hold maybe;\n  class 77;\n"
         "  continuous Y;\n  saturday_start 0800;\nend;\n",
         kGoodDict, "",
         {{"PPC1085E", "Invalid interval length (5)"}, {"PPC0780E", "Unknown keyword (saturday_start)"},
          {"", "Parsing ended with errors"}},
         "Starting parse of DICT.CTL"},
        {"dictionary",
         kGoodProcess,
         "name first;\n  type CHAR(10);\n  initial x;\nname first;\n  type BLOB;\n  initial y;\n"
         "name third;\n  type CHAR(2049);\n  initial z;\nend;\n",
         "",
         {{"PDC2135E", "ERR Length of 2049 exceeds maximum(2048)"}, {"PDC2180E", "Parsing ended with errors"}},
         nullptr},
        {"collect file", kGoodProcess, kGoodDict,
         "cursor FIRST;\n  INSERT INTO a.t (x, y) VALUES (:x, :y, :z);\n  interval 1234567;\n  limit 123456;\n"
         "  class 77;\n  saturday_start 800;\n  uuidbase " + std::string(40, 'u') + ";\n  if a = b;\n"
         "  interval 5;\n  endif;\ncursor SECOND;\n  INSERT INTO b.t (x) VALUES (:x);\n  INSERT INTO b.t (x) VALUES (:x);\n"
         "  fetch_exit nosuchexit;\nend;\n",
         {{"PCC0470E", "On INSERT, num of cols (2) is not num HVs (3)"},
          {"PCC0485E", "Fetch exit routine not known"}, {"PCC0755E", "Parsing ended with errors"}},
         "Start collecting"},
    };
    for (const Case& k : cases) {
        CollectorRun c;
        for (const auto& [base, text] : {std::pair{"proc", &k.proc}, {"dict", &k.dict}, {"coll", &k.coll}})
            if (!text->empty()) c.control(base, *text);
        const RunResult r = c.run();
        EXPECT_EQ(r.signal, 0) << k.what;
        EXPECT_EQ(r.status, 0) << k.what;
        const std::string out = c.output();
        for (const auto& [id, text] : k.lines) EXPECT_TRUE(has_line(out, id, text)) << k.what << ": " << id << " " << text;
        EXPECT_TRUE(has_line(out, "GGN1505S", "Collector ended")) << k.what;
        EXPECT_TRUE(!k.never || out.find(k.never) == std::string::npos) << k.what << ": " << k.never;
    }
}

TEST(StartupBlackbox, BadInputNeverCrashes) {
    struct Case {
        const char* name;
        std::string proc;
    };
    std::string junk;
    for (int i = 0; i < 70000; ++i) junk += static_cast<char>((i * 7919 + 13) % 256);
    const Case cases[] = {
        {"binary junk", junk},
        {"one huge line", std::string(10 * 1024 * 1024, 'p')},
        {"over-long statement", "process collector;\n type local;\n logon_id " +
                                    std::string(20000, 'x') + ";\n interval 60;\nend;\n"},
        {"unterminated quote", "process 'collector;\n type local;\n interval 60;\nend;\n"},
        {"name too long", "process " + std::string(40, 'n') + ";\nend;\n"},
        {"unbalanced parentheses", "process collector);\n type local;\n interval 60;\nend;\n"},
        {"empty file", ""},
    };
    for (const auto& k : cases) {
        CollectorRun c;
        c.control("dict", kGoodDict);
        c.control("proc", k.proc);
        auto r = c.run();
        EXPECT_EQ(r.signal, 0) << k.name;
        EXPECT_EQ(r.status, 0) << k.name;
        std::string out = c.output();
        EXPECT_TRUE(has_line(out, "GGN1505S", "Collector ended")) << k.name;
        EXPECT_TRUE(out.find("Parsing ended with errors") != std::string::npos ||
                    out.find("Must have a process named 'collector'") != std::string::npos)
            << k.name;
    }
}

TEST(StartupBlackbox, UnreadableOutputDirectoryFallsBackToStandardStreams) {
    CollectorRun c;
    c.good_files();
    c.env["COLL_OUT"] = c.dir.path() + "/no/such/dir";
    auto r = c.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("CAT1995E - Can't open message ouput file: "), std::string::npos);
    EXPECT_NE(r.err.find("'.out' open error all messages will go to stdout"), std::string::npos);
    // Information lines go to standard output, milestones to standard error.
    EXPECT_NE(r.out.find("Starting parse of PROCESS.CTL"), std::string::npos);
    EXPECT_NE(r.err.find("Collector ended"), std::string::npos);
}
