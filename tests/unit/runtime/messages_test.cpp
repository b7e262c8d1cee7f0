// Message lines (prefixes, levels, destinations) and the output file
// (backups, wrapping, open failures, banner), and temporary file names.
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "runtime/version.h"
#include "support/state.h"
#include "support/testenv.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace qvx;
using qvxtest::read_file;
using qvxtest::split_lines;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Time stamps "(dddddd) " shown as "(hhmmss) ", so that lines compare.
std::string masked(std::string s) {
    for (size_t p = s.find('('); p != std::string::npos && p + 9 <= s.size(); p = s.find('(', p + 1))
        if (std::all_of(&s[p + 1], &s[p + 7], digit) && s.compare(p + 7, 2, ") ") == 0)
            s.replace(p + 1, 6, "hhmmss");
    return s;
}

// Every digit shown as '9' (dates).
std::string digits_masked(std::string s) {
    std::replace_if(s.begin(), s.end(), digit, '9');
    return s;
}

std::string captured_stderr() {
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env.unset("COLL_WRAPLINES");
        env.unset("COLL_NUMOUTBAK");
        env_vars.coll_out = dir.path();
        env_vars.hostname = "host";
        env_vars.db_type = "xora";
        env_vars.serverid = "SRV";
    }
    void TearDown() override { reset_messages(); }

    // Backup names end in the number in place of the "t" of col.out.
    std::string base() const { return dir.file("host_ora_SRV_col.ou"); }
    std::vector<std::string> file_lines() {
        close_PRINT();
        return split_lines(read_file(print_file_path()));
    }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
};

TEST_F(MessagesTest, PrintPrefixFollowsLevelAndId) {
    ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
    EXPECT_EQ(PRINT('w', "abc0001", "warn %d\n", 7), 25);
    PRINT('T', "abc0002", "trace\n");
    PRINT('-', "abc0003", "no prefix\n");
    PRINT('i', ".abc", "dotted\n");
    PRINT('i', nullptr, "null id\n");
    PRINT('i', " abc", "blank id\n");
    EXPECT_EQ(PRINT('h', "abc0004", "hidden\n"), 1);
    my_trace_all[0] = 1;
    PRINT('h', "abc0005", "shown\n");
    PRINT('-', nullptr, "%s", std::string(5000, 'x').c_str());
    PRINT('-', nullptr, "\n");
    PRINT('i', "fmt0001", "%s", "");
    auto lines = file_lines();
    std::transform(lines.begin(), lines.end(), lines.begin(), masked);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "ABC0001W (hhmmss) warn 7", "ABC0002T (hhmmss) trace", "no prefix", "abcdotted",
                         "null id", "blank id", "ABC0005T (hhmmss) shown", std::string(4000, 'x'),
                         "FMT0001I (hhmmss)  *** vsprintf error **** "}));
}

TEST_F(MessagesTest, UmsgOptionsAndLevels) {
    ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
    const int here = __LINE__ + 1;
    U_MSG("t", "utl0001", "position %s", "on");
    U_MSG("tTP", "utl0002", "bare\n");
    U_MSG("tu", "utl0003", "lower");
    U_MSG("tH", "utl0004", "no prefix");
    U_MSG("w", ".Dot", "dotted");
    EXPECT_EQ(U_MSG("t-", "utl0005", "suppressed"), 1);
    EXPECT_EQ(U_MSG("H3", "utl0006", "level 3 off"), 1);
    my_trace_all[3] = 1;
    u_msg(nullptr, "/a/b/qvxutil.cpp", 1801, "H3", "utl0007", "level 3 on");
    u_msg(nullptr, nullptr, 0, "X", "KQX1234W", "letter from id");
    u_msg("prog", nullptr, 0, "i", "utl0008", "no program");
    my_trace_all[6] = 1;
    u_msg("prog", nullptr, 0, "i", "utl0009", "with program");
    auto lines = file_lines();
    std::transform(lines.begin(), lines.end(), lines.begin(), masked);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "UTL0001T (hhmmss) MESSAGES_TEST(" + std::to_string(here) + ") position on",
                         "UTL0002T bare",
                         "utl0003T (hhmmss) messages_test(" + std::to_string(here + 2) + ") lower",
                         "no prefix", "Dotdotted", "UTL0007T (hhmmss) QVXUTIL(1801) level 3 on",
                         "KQX1234W (hhmmss) letter from id", "UTL0008I (hhmmss) no program",
                         "UTL0009I (hhmmss) prog with program"}));
}

TEST_F(MessagesTest, DestinationsWithAndWithoutFile) {
    ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
    CaptureStderr();
    PRINT('e', "dst0001", "to file and stderr\n");
    PRINT('i', "dst0002", "file only\n");
    EXPECT_EQ(masked(captured_stderr()), "DST0001E (hhmmss) to file and stderr\n");
    EXPECT_EQ(file_lines().size(), 2u);

    EXPECT_EQ(PRINT('@', "pfx> ", "ignored\n"), 0);
    CaptureStdout();
    CaptureStderr();
    PRINT('i', "dst0003", "out\n");
    PRINT('a', "dst0004", "milestone\n");
    u_msg(nullptr, nullptr, 0, "z", "dst0005", "unknown level");
    std::fflush(stdout);
    EXPECT_EQ(masked(testing::internal::GetCapturedStdout()), "pfx> DST0003I (hhmmss) out\n");
    EXPECT_EQ(masked(captured_stderr()), "DST0004I (hhmmss) milestone\nDST0005Z (hhmmss) unknown level\n");

    // A write that fails goes to standard error behind "+ ".
    reset_messages();
    env.set("COLL_NUMOUTBAK", "-5");
    std::filesystem::create_symlink("/dev/full", dir.file("full.out"));
    env_vars = EnvVars{};
    env_vars.coll_out = dir.path();
    ASSERT_NE(u_openPRINTfile("full.out"), nullptr);
    CaptureStderr();
    PRINT('t', "wrf0001", "lost\n");
    EXPECT_EQ(masked(captured_stderr()), "+ WRF0001T (hhmmss) lost\n");
}

struct BackupCase {
    const char* numoutbak;  // null: unset
    bool debug4;
    int kept;
};

class BackupTest : public MessagesTest, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupTest, KeepsTheNewestBackupsInOrder) {
    const BackupCase& c = GetParam();
    if (c.numoutbak) env.set("COLL_NUMOUTBAK", c.numoutbak);
    my_trace_all[4] = c.debug4;
    const int opens = c.kept + 3;
    for (int i = 1; i <= opens; ++i) {
        ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
        PRINT('-', nullptr, "%d\n", i);
    }
    close_PRINT();
    EXPECT_EQ(read_file(base() + "t"), std::to_string(opens) + "\n");
    for (int k = 1; k <= c.kept; ++k)
        EXPECT_EQ(read_file(base() + std::to_string(k)), std::to_string(opens - k) + "\n") << k;
    EXPECT_EQ(dir.files().size(), static_cast<size_t>(c.kept + 1));
}

INSTANTIATE_TEST_SUITE_P(Counts, BackupTest,
                         ::testing::Values(BackupCase{"12", false, 9}, BackupCase{"-12", false, 12},
                                           BackupCase{"-5", false, 0}, BackupCase{"0", true, 0},
                                           BackupCase{nullptr, false, 1},
                                           BackupCase{nullptr, true, 5}));

TEST_F(MessagesTest, WrapsPerWritingRoutine) {
    env.set("COLL_WRAPLINES", "3");
    ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
    for (int i = 1; i <= 6; ++i) PRINT('-', nullptr, "p%d\n", i);
    for (int i = 1; i <= 3; ++i) u_msg(nullptr, nullptr, 0, "-", nullptr, "u%d", i);
    close_PRINT();
    EXPECT_EQ(read_file(base() + "1"), "p1\np2\np3\n");
    EXPECT_EQ(digits_masked(read_file(base() + "t")),
              "CGN9999I (999999)        File wrapped -- 9999/99/99 99:99:99\n"
              "p9\np9\np9\nu9\nu9\nu9\n");
    ASSERT_NE(u_openPRINTfile(nullptr), nullptr);
    u_msg(nullptr, nullptr, 0, "-", nullptr, "u4");  // u_msg's own fourth line wraps
    EXPECT_EQ(file_lines().size(), 2u);
}

TEST_F(MessagesTest, FailedOpenRetriesOnceUnderColx) {
    env.set("COLL_NUMOUTBAK", "-5");
    std::filesystem::create_directory(base() + "t");
    CaptureStdout();
    EXPECT_NE(u_openPRINTfile(nullptr), nullptr);
    EXPECT_EQ(print_file_path(), dir.file("host_ora_SRV_colx.out"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CAT1995E - Can't open message ouput file: " + base() + "t\n");

    env_vars.coll_out = dir.file("missing");  // later failures give up silently
    CaptureStdout();
    EXPECT_EQ(u_openPRINTfile("col.out"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(print_file_open());
}

TEST_F(MessagesTest, Banner) {
    CaptureStderr();
    init_PRINT();
    EXPECT_NE(captured_stderr().find("CAT2015I"), std::string::npos);
    auto lines = file_lines();
    ASSERT_EQ(lines.size(), 5 + module_id_lines().size());
    EXPECT_NE(lines[1].find(std::string("Version ") + program_version()), std::string::npos);
    EXPECT_EQ(digits_masked(lines[4]), "CAT9999I (999999) Time = 9999/99/99 99:99:99");
    EXPECT_EQ(lines[5].rfind("USH0100I", 0), 0u);

    reset_messages();
    env_vars.coll_out = dir.file("missing");
    CaptureStdout();
    CaptureStderr();
    init_PRINT();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(masked(split_lines(captured_stderr())[0]),
              "CAT2014E (hhmmss) '.out' open error all messages will go to stdout");
}

TEST_F(MessagesTest, TemporaryNames) {
    env_vars.localtmpdir = dir.file("tmp/sub");
    const std::string lead = dir.file("tmp/sub/host_ora_SRV_");
    const std::string tail = "_" + std::to_string(getpid()) + "_req";
    EXPECT_EQ(digits_masked(u_createTempFileName("req", 't')), digits_masked(lead + "0000001" + tail));
    EXPECT_EQ(u_createTempFileName("x", 'N'), lead + "x");
    for (int i = 2; i <= 101; ++i) u_createTempFileName("req", 't');
    std::string again = u_createTempFileName("req", 't');  // counter back at 1
    EXPECT_EQ(again.substr(lead.size() + 6), "1" + tail);

    reset_messages();  // a directory that cannot be made: "." instead
    env_vars.localtmpdir = dir.write("plain", "") + "/sub";
    CaptureStdout();
    EXPECT_EQ(u_createTempFileName("f", 'n'), "./host_ora_SRV_f");
    EXPECT_EQ(masked(testing::internal::GetCapturedStdout()),
              "UTF0105W (hhmmss) Could not create path: " + env_vars.localtmpdir + ", using '.'\n");
}

} // namespace
