#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "control/reader.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using qvxtest::TempDir;

namespace {

struct Collected {
    std::vector<std::string> statements;
    std::vector<std::string> echoed;
    int too_long = 0;
    std::string pending;
};

Collected read_all(const std::string& text) {
    TempDir dir;
    std::string path = dir.write("x.ctl", text);
    FILE* f = std::fopen(path.c_str(), "r");
    Collected c;
    {
        StatementReader reader(f, [&](const std::string& line) { c.echoed.push_back(line); });
        for (;;) {
            auto r = reader.next();
            if (r == StatementReader::Result::end_of_file) break;
            if (r == StatementReader::Result::too_long) {
                ++c.too_long;
                continue;
            }
            c.statements.push_back(reader.buffer());
        }
        c.pending = reader.pending();
    }
    std::fclose(f);
    return c;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
    }
};

} // namespace

TEST_F(ReaderTest, StatementsSpanLinesAndEndAtSemicolon) {
    auto c = read_all("name   abc\n   type\nchar(8); trailing junk ; more\n; a comment;\nend;\n");
    ASSERT_EQ(c.statements.size(), 2u);
    // Leading blanks of each line skipped, each line end one blank, four blanks appended.
    EXPECT_EQ(c.statements[0], "name   abc type char(8)    ");
    EXPECT_EQ(c.statements[1], "end    ");
    EXPECT_TRUE(c.pending.empty());
}

TEST_F(ReaderTest, CommentsEmptyStatementsAndDosLineEnds) {
    auto c = read_all(";; comment\r\n;\r\n   ;\r\nprocess collector;\r\n\r\n;tail comment");
    ASSERT_EQ(c.statements.size(), 1u);
    EXPECT_EQ(c.statements[0], "process collector    ");
}

TEST_F(ReaderTest, UnendedStatementIsPendingAtEndOfFile) {
    auto c = read_all("name a;\nname b\ntype char(2)\n");
    ASSERT_EQ(c.statements.size(), 1u);
    EXPECT_EQ(c.pending, "name b type char(2) ");
}

TEST_F(ReaderTest, EchoesLinesOnlyWhenTracing) {
    auto quiet = read_all("a;\nb;\n");
    EXPECT_TRUE(quiet.echoed.empty());
    trace_something = 1;
    auto loud = read_all("a;\n;comment\n" + std::string(300, 'x') + ";\n");
    ASSERT_EQ(loud.echoed.size(), 2u);
    EXPECT_EQ(loud.echoed[0], "a;\n");
    EXPECT_EQ(loud.echoed[1].size(), 256u);  // cut to 255 characters plus the line end
}

TEST_F(ReaderTest, OverlongStatementIsSkippedAndReadingGoesOn) {
    std::string big(StatementReader::kMaxText + 1, 'x');
    auto c = read_all("first;\n" + big + "\nstill the long one;\nlast;\n");
    EXPECT_EQ(c.too_long, 1);
    ASSERT_EQ(c.statements.size(), 2u);
    EXPECT_EQ(c.statements[0], "first    ");
    EXPECT_EQ(c.statements[1], "last    ");
}

TEST_F(ReaderTest, StatementExactlyAtTheLimitFits) {
    std::string text(StatementReader::kMaxText, 'y');
    auto c = read_all(text + ";\n");
    ASSERT_EQ(c.statements.size(), 1u);
    EXPECT_EQ(c.statements[0].size(), kStatementBufferSize);
}

TEST_F(ReaderTest, HugeSingleLineStaysBounded) {
    std::string junk(10 * 1024 * 1024, 'z');
    junk[5000] = '\0';
    junk[7000] = '\x01';
    auto c = read_all(junk);
    EXPECT_EQ(c.too_long, 1);
    EXPECT_TRUE(c.statements.empty());
    EXPECT_TRUE(c.pending.empty());
}

TEST_F(ReaderTest, DatabaseTypeCodes) {
    EXPECT_EQ(db_type_code("Oracle"), "zeb");
    EXPECT_EQ(db_type_code("SYBASE"), "zep");
    EXPECT_EQ(db_type_code("informix"), "zec");
    EXPECT_EQ(db_type_code("sqlserver"), "zef");
    EXPECT_EQ(db_type_code("rdx"), "zek");
    EXPECT_EQ(db_type_code("ZEH99"), "zeh");
    EXPECT_EQ(db_type_code("qvx"), "qvx");
    EXPECT_EQ(db_type_code("db2"), "unk");
    EXPECT_EQ(db_type_code(""), "und");
    EXPECT_EQ(control_file_levels("zej"), (std::vector<std::string>{"zej", "zeb"}));
    EXPECT_EQ(control_file_levels("zem"), (std::vector<std::string>{"zem", "xxx", "yyy", "zzz"}));
    EXPECT_EQ(control_file_levels("zep"), (std::vector<std::string>{"zep"}));
}

TEST_F(ReaderTest, SearchOrderPrefersServerDirectoryThenControlHome) {
    TempDir home, ctl;
    env_vars.coll_home = home.path();
    env_vars.ctl_home = ctl.path();
    env_vars.serverid = "SRV";
    env_vars.db_type = "qvx";
    ctl.write("qvxdict.ctl", "ctl");
    home.write("qvxdict.ctl", "home");
    home.write("SRV_qvxdict.ctl", "prefixed");
    home.write("SRV/qvxdict.ctl", "subdir");

    std::string path;
    auto first = u_openInputFile("dict", &path);
    ASSERT_TRUE(first);
    EXPECT_EQ(path, home.file("SRV/qvxdict.ctl"));
    std::remove(home.file("SRV/qvxdict.ctl").c_str());
    ASSERT_TRUE(u_openInputFile("dict", &path));
    EXPECT_EQ(path, home.file("SRV_qvxdict.ctl"));
    std::remove(home.file("SRV_qvxdict.ctl").c_str());
    ASSERT_TRUE(u_openInputFile("dict", &path));
    EXPECT_EQ(path, home.file("qvxdict.ctl"));
    std::remove(home.file("qvxdict.ctl").c_str());
    ASSERT_TRUE(u_openInputFile("dict", &path));
    EXPECT_EQ(path, ctl.file("qvxdict.ctl"));
    std::remove(ctl.file("qvxdict.ctl").c_str());
    EXPECT_FALSE(u_openInputFile("dict", &path));
}

TEST_F(ReaderTest, FallbackCodeAndDirectoriesDoNotCount) {
    TempDir home;
    env_vars.coll_home = home.path();
    env_vars.db_type = "zeg";
    home.write("zebproc.ctl/inner", "a directory named like the file");
    EXPECT_FALSE(u_openInputFile("proc"));
    home.write("zebcoll.ctl", "fallback");
    std::string path;
    ASSERT_TRUE(u_openInputFile("coll", &path));
    EXPECT_EQ(path, home.file("zebcoll.ctl"));
}
