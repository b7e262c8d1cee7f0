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

TEST_F(ReaderTest, StatementsCommentsLimitsAndPendingText) {
    std::string junk(10 * 1024 * 1024, 'z');  // one huge line stays bounded
    junk[5000] = '\0';
    junk[7000] = '\x01';
    const std::string at_limit(StatementReader::kMaxText, 'y');
    const struct {
        std::string text;
        std::vector<std::string> statements;
        int too_long;
        std::string pending;
    } cases[] = {
        // Leading blanks of each line skipped, each line end one blank, four
        // blanks appended; text after ";" on its line dropped.
        {"name   abc\n   type\nchar(8); trailing junk ; more\n; a comment;\nend;\n",
         {"name   abc type char(8)    ", "end    "}, 0, ""},
        {";; comment\r\n;\r\n   ;\r\nprocess collector;\r\n\r\n;tail comment", {"process collector    "}, 0, ""},
        {"name a;\nname b\ntype char(2)\n", {"name a    "}, 0, "name b type char(2) "},
        {"first;\n" + std::string(StatementReader::kMaxText + 1, 'x') + "\nstill the long one;\nlast;\n",
         {"first    ", "last    "}, 1, ""},
        {at_limit + ";\n", {at_limit + "    "}, 0, ""},
        {junk, {}, 1, ""},
    };
    for (const auto& k : cases) {
        const Collected c = read_all(k.text);
        EXPECT_EQ(c.statements, k.statements) << k.text.substr(0, 40);
        EXPECT_EQ(c.too_long, k.too_long) << k.text.substr(0, 40);
        EXPECT_EQ(c.pending, k.pending) << k.text.substr(0, 40);
    }
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

TEST_F(ReaderTest, DatabaseTypeCodes) {
    const std::pair<const char*, const char*> codes[] = {
        {"Oracle", "zeb"}, {"SYBASE", "zep"}, {"informix", "zec"}, {"sqlserver", "zef"}, {"rdx", "zek"},
        {"ZEH99", "zeh"},  {"qvx", "qvx"},    {"db2", "unk"},      {"", "und"}};
    for (const auto& [type, code] : codes) EXPECT_EQ(db_type_code(type), code) << type;
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

    // Each found file is removed in turn to uncover the next.
    std::string path;
    for (const std::string& want : {home.file("SRV/qvxdict.ctl"), home.file("SRV_qvxdict.ctl"),
                                    home.file("qvxdict.ctl"), ctl.file("qvxdict.ctl")}) {
        ASSERT_TRUE(u_openInputFile("dict", &path)) << want;
        EXPECT_EQ(path, want);
        std::remove(want.c_str());
    }
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
