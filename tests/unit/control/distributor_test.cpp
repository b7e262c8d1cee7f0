#include "control/distributor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <tuple>

#include "control/dict_parms.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;

namespace {

constexpr long H = 3600;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// A date as PROCESS.CTL writes it, days from today.
std::string date_from_today(long days) {
    std::string t = secs_to_date(now_relative() + days * 86400);
    return t.substr(0, 4) + "/" + t.substr(4, 2) + "/" + t.substr(6, 2);
}

using Spans = std::vector<std::pair<long, long>>;
Spans span(const std::vector<OpRange>& list) {
    Spans v;
    for (const auto& r : list) v.emplace_back(r.start, r.end);
    return v;
}

const char* kCollector = "process collector;\ntype local;\nlogon_id scott;\npassword tiger;\ninterval 60;\n";

class DistributorTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.coll_home = dir.path();
        env_vars.coll_out = dir.path();
        env_vars.tmpdir = env_vars.localtmpdir = dir.path();
        env_vars.db_type = "qvx";
    }
    void TearDown() override {
        qvxtest::reset_collector_state();
    }

    // Parses the text as PROCESS.CTL; the messages of all outputs, lower-cased.
    int parse(const std::string& text) {
        dir.write("qvxproc.ctl", text);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int rc = parse_distributor();
        std::fflush(stdout);
        std::fflush(stderr);
        out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        if (print_file_open()) out += qvxtest::read_file(print_file_path());
        out = lower(out);
        return rc;
    }
    // True when one line of the output holds both the id and the text.
    bool said(const std::string& id, const std::string& text) const {
        for (const auto& line : qvxtest::split_lines(out))
            if (line.find(id) != std::string::npos && line.find(lower(text)) != std::string::npos)
                return true;
        return false;
    }

    qvxtest::TempDir dir;
    std::string out;
};

TEST_F(DistributorTest, CompleteFileBuildsTheDistributors) {
    std::string machine(64, 'm');
    ASSERT_EQ(parse(";; comment line\nprocess collector;\n TYPE sql*net;\nlogon_id scott;\n"
                    "password tiger;\nserver_id DB1;\ninterval 30;\nclass 3;\nCLASS 50;\n"
                    "continuous Yes;\nsleep 45;\nmachine_id " + machine + ";\n"
                    "process upa interval 5 hold N;\nprocess db-watch;\ntype CTLIB;\ninterval 9999;\n"
                    "Mon_Fri_start 2200;\nMon_Fri_end 0200;\nSunday_end 1200;\nSunday_start 0900;\n"
                    "holiday " + date_from_today(3) + ";\nend;\n"),
              0) << out;
    ASSERT_EQ(distrib_anchor.size(), 3u);
    distrib* c = find_distributor("collector");
    ASSERT_EQ(c, collector_at);
    EXPECT_EQ(std::tie(c->type, c->logonid, c->password, c->serverid, c->interval, c->continuous),
              std::make_tuple(int16_t{2}, "scott", "tiger", "DB1     ", 30, 'Y'));
    EXPECT_EQ(c->class_sw[0] + c->class_sw[3] + c->class_sw[50] - c->class_sw[4], 3);
    EXPECT_EQ(sleep_time, 45);
    EXPECT_EQ(std::string(machine_id.host.data(), 64), machine);
    // Day kinds without ranges get the whole day, so the window is today's.
    for (const auto& list : c->ranges)
        EXPECT_EQ(span(list), (Spans{{0, 86400}}));
    EXPECT_EQ(c->window_start, static_cast<uint32_t>(today_relative_date() * 86400));

    distrib* w = find_distributor("db-watch");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->type, 4);
    EXPECT_EQ(span(w->ranges[kMonFri]), (Spans{{22 * H, 26 * H}}));
    EXPECT_EQ(span(w->ranges[kSunday]), (Spans{{9 * H, 12 * H}}));
    EXPECT_EQ(w->holidays[0], today_relative_date() + 3);
    EXPECT_EQ(find_distributor("upa")->hold, 'N');
}

TEST_F(DistributorTest, TimeOffsetShiftsLaterWindowsAndCollectorIsCautioned) {
    ASSERT_EQ(parse("process collector;\ntype local;\ninterval 60;\ntime_offset -0130;\n"
                    "Saturday_start 0800;\nSaturday_end 1000;\nend;"), 0) << out;
    EXPECT_EQ(span(collector_at->ranges[kSaturday]), (Spans{{9 * H + 1800, 11 * H + 1800}}));
    EXPECT_TRUE(said("ppc1210", "Caution! - collector has a time offset"));
    EXPECT_FALSE(said("ppc1210", "Parsing ended with errors"));
}

TEST_F(DistributorTest, Holidays) {
    std::string text = std::string(kCollector) + "holiday " + date_from_today(-1) + ";\n";
    for (int i = 1; i <= 100; ++i) text += "holiday " + date_from_today(i) + ";\n";
    ASSERT_EQ(parse(text + "end;"), 0) << out;
    EXPECT_TRUE(said("ppc0980", "Comment: Holiday is in the past"));
    EXPECT_EQ(collector_at->holidays[0], today_relative_date() + 1);
    EXPECT_EQ(collector_at->holidays[99], today_relative_date() + 100);

    EXPECT_EQ(parse(text + "holiday " + date_from_today(101) + ";\nend;"), 1);
    EXPECT_TRUE(said("ppc0985", "Exceeded 50 holidays"));

    EXPECT_EQ(parse(std::string(kCollector) +
                    "holiday 2030-01-01;\nholiday 2030/01/011;\nholiday 2030/13/01;\nholiday 20x0/01/01;\n"
                    "end;"),
              1);
    EXPECT_TRUE(said("ppc0970", "Invalid holiday date format (YYYY/MM/DD)"));
    EXPECT_TRUE(said("ppc0975", "Invalid holiday date length (10)"));
    EXPECT_TRUE(said("ppc1250", "2030/13/01"));
    EXPECT_TRUE(said("ppc1250", "20x0/01/01"));
}

TEST_F(DistributorTest, FileWithoutCollectorIsRefused) {
    EXPECT_EQ(parse("process upa;\ninterval 5;\nend;"), 1);
    EXPECT_TRUE(said("ppc1230", "Must have a process named 'collector'"));
    EXPECT_EQ(collector_at, nullptr);
}

TEST_F(DistributorTest, StatementErrorsAreAllReportedInOneRun) {
    int rc = parse(std::string(kCollector) +
                   "process upa;\ninterval 12345;\ncontinuous Y;\nclass 51;\nclass x;\n"
                   "interval abc;\nsleep 10000;\nhold maybe;\ntype bogus;\ntype local;\ntype dial;\n"
                   "Saturday_start 800;\nSaturday_start 08x0;\nSunday_start 0900;\nSunday_start 1000;\n"
                   "logon_id " + std::string(34, 'l') + ";\npassword " + std::string(101, 'p') + ";\n"
                   "server_id " + std::string(34, 's') + ";\nmachine_id " + std::string(65, 'h') + ";\n"
                   "time_offset 130;\nsend_false Y;\ninterval 5;\ninterval 6;\nclass 2;\nclass 2;\nend;");
    EXPECT_EQ(rc, 1);
    const std::pair<const char*, const char*> expected[] = {
        {"ppc1085", "Invalid interval length (5)"},
        {"ppc1160", "Continuous is valid only at the collector"}, {"ppc1010", "Class exceeds range"},
        {"ppc1245", "class is not a number: x"}, {"ppc1245", "interval is not a number: abc"},
        {"ppc1090", "Invalid sleep length (5)"}, {"ppc1155", "Hold is not YES/NO"},
        {"ppc1000", "Unrecognized type:bogus"}, {"ppc0995", "Duplicate type specifi" "cation"},
        {"ppc1065", "Incorrect length for saturday_start (4)"}, {"ppc1255", "saturday_start"},
        {"ppc1040", "Duplicate sunday_start specifi" "cation"},
        {"ppc1120", "Excessive length for logon_id"}, {"ppc1110", "Excessive length for password"},
        {"ppc1100", "Excessive length for server_id"},
        {"ppc1125", "Excessive length for Machine_id"}, {"ppc1260", "Invalid time_offset"},
        {"ppc1170", "Send_false is valid only for the evaluator"}, {"ppc1080", "Duplicate interval"},
        {"ppc1015", "Warning - Class repeditively specified"},
        {"ppc1265", "sunday_start without its end"}, {"ppc1210", "Parsing ended with errors"},
    };
    for (const auto& [id, text] : expected) EXPECT_TRUE(said(id, text)) << id << " " << text;
}

TEST_F(DistributorTest, ErrorsThatStopTheFile) {
    const std::string c = kCollector;
    // Each file holds an error that stops the reading before "class 99".
    const struct { std::string file; const char* id; const char* text; } cases[] = {
        {c + "saturday_start 0800;\nclass 99;\nend;", "ppc0780", "Unknown keyword (saturday_start)"},
        {"interval 5;\nprocess collector;\nclass 99;", "ppc0890", "First word must be 'process'"},
        {"process collector;\nprocess upa;\nclass 99;\nend;", "ppc0900", "No Process type specified"},
        {"process collector;\nprocess upa;\nclass 99;\nend;", "ppc0915", "No Process interval specified"},
        {"process collector;\ntype sql*net;\ninterval 5;\nend;\nclass 99;", "ppc0920",
         "Server_id required for sql*net"},
        {c + "process;\nclass 99;", "ppc0940", "No Process name supplied"},
        {c + "process " + std::string(25, 'n') + ";\nclass 99;", "ppc0945",
         "Process name exceeeds 24 characters"},
        {c + "class 3 );\nclass 99;\nend;", "ppc0955", "Parsing failed : Syntax error"},
        {c + "machine_id host(;\nclass 99;\nend;", "ppc1180", "Parentheses do not balance"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(parse(k.file), 1) << k.file;
        EXPECT_TRUE(said(k.id, k.text)) << k.file << out;
        EXPECT_FALSE(said("ppc1010", "Class exceeds range")) << k.file;
        EXPECT_TRUE(said("ppc1210", "Parsing ended with errors")) << k.file;
    }
    EXPECT_EQ(parse(kCollector), 1);
    EXPECT_TRUE(said("ppc1185", "Missing end statement"));
}

TEST_F(DistributorTest, DuplicateProcessNameEndsAtOnce) {
    EXPECT_EQ(parse(std::string(kCollector) + "process collector;\ninterval 5;\nend;"), 1);
    EXPECT_TRUE(said("ppc0950", "Duplicate process name: collector"));
    EXPECT_FALSE(said("ppc1205", "Process Parsing ended"));
}

TEST_F(DistributorTest, OptionalLogonDataAndEvaluator) {
    my_trace_all[0] = 1;  // level h messages show only then
    ASSERT_EQ(parse("process collector;\ntype local;\ninterval 60;\n"
                    "process evaluator;\ninterval 60;\nsend_false Y;\nend;"),
              0)
        << out;
    EXPECT_TRUE(said("ppc0905", "No Process logon id specified"));
    EXPECT_TRUE(said("ppc0910", "No Process password specified"));
    EXPECT_TRUE(evaluator_defined);
    EXPECT_EQ(find_distributor("evaluator")->send_false, 1);

    reset_distributors();
    EXPECT_TRUE(distrib_anchor.empty());
    EXPECT_EQ(collector_at, nullptr);
    EXPECT_FALSE(evaluator_defined);
    EXPECT_EQ(sleep_time, 0);
    EXPECT_EQ(machine_id.host[0], ' ');
}

TEST_F(DistributorTest, KeywordsAsShownOrAllUpperCase) {
    for (const char* w : {"Sunday_end", "SUNDAY_END"}) EXPECT_EQ(distrib_key_word(w), 9);
    for (const char* w : {"sunday_end", "Sunday_en", "Process"}) EXPECT_EQ(distrib_key_word(w), 0);
    EXPECT_EQ(distrib_key_word("PROCESS"), 1);
}

TEST_F(DistributorTest, InitDistEndsTheCollectorOnFailure) {
    dir.write("qvxproc.ctl", std::string(kCollector) + "end;");
    testing::internal::CaptureStdout();
    EXPECT_EQ(init_dist(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(collector_at, nullptr);
    dir.write("qvxproc.ctl", "process upa;\ninterval 5;\nend;");
    EXPECT_EXIT(init_dist(), testing::ExitedWithCode(0), "");
}

} // namespace
