#include "control/distributor.h"

#include <gtest/gtest.h>

#include <tuple>

#include "control/dict_parms.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

using ctltest::H;
using ctltest::Spans;
using ctltest::span;

// A date as PROCESS.CTL writes it, days from today.
std::string date_from_today(long days) {
    std::string t = secs_to_date(now_relative() + days * 86400);
    return t.substr(0, 4) + "/" + t.substr(4, 2) + "/" + t.substr(6, 2);
}

const char* kCollector = "process collector;\ntype local;\nlogon_id scott;\npassword tiger;\ninterval 60;\n";

class DistributorTest : public ctltest::ParseTest {
protected:
    int parse(const std::string& text) { return parse_file("qvxproc.ctl", text, parse_distributor); }
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
    EXPECT_TRUE(said("PPC1210", "Caution! - collector has a time offset"));
    EXPECT_FALSE(said("PPC1210", "Parsing ended with errors"));
}

TEST_F(DistributorTest, Holidays) {
    std::string text = std::string(kCollector) + "holiday " + date_from_today(-1) + ";\n";
    for (int i = 1; i <= 100; ++i) text += "holiday " + date_from_today(i) + ";\n";
    ASSERT_EQ(parse(text + "end;"), 0) << out;
    EXPECT_TRUE(said("PPC0980", "Comment: Holiday is in the past"));
    EXPECT_EQ(collector_at->holidays[0], today_relative_date() + 1);
    EXPECT_EQ(collector_at->holidays[99], today_relative_date() + 100);

    EXPECT_EQ(parse(text + "holiday " + date_from_today(101) + ";\nend;"), 1);
    EXPECT_TRUE(said("PPC0985", "Exceeded 50 holidays"));

    EXPECT_EQ(parse(std::string(kCollector) +
                    "holiday 2030-01-01;\nholiday 2030/01/011;\nholiday 2030/13/01;\nholiday 20x0/01/01;\n"
                    "end;"),
              1);
    EXPECT_TRUE(said("PPC0970", "Invalid holiday date format (YYYY/MM/DD)"));
    EXPECT_TRUE(said("PPC0975", "Invalid holiday date length (10)"));
    EXPECT_TRUE(said("PPC1250", "2030/13/01"));
    EXPECT_TRUE(said("PPC1250", "20x0/01/01"));
}

TEST_F(DistributorTest, FileWithoutCollectorIsRefused) {
    EXPECT_EQ(parse("process upa;\ninterval 5;\nend;"), 1);
    EXPECT_TRUE(said("PPC1230", "Must have a process named 'collector'"));
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
        {"PPC1085E", "Invalid interval length (5)"},
        {"PPC1160", "Continuous is valid only at the collector"}, {"PPC1010E", "Class exceeds range"},
        {"PPC1245", "class is not a number: x"}, {"PPC1245", "interval is not a number: abc"},
        {"PPC1090", "Invalid sleep length (5)"}, {"PPC1155E", "Hold is not YES/NO"},
        {"PPC1000", "Unrecognized type:bogus"}, {"PPC0995", "Duplicate type specifi" "cation"},
        {"PPC1065", "Incorrect length for saturday_start (4)"}, {"PPC1255", "saturday_start"},
        {"PPC1040", "Duplicate sunday_start specifi" "cation"},
        {"PPC1120", "Excessive length for logon_id"}, {"PPC1110", "Excessive length for password"},
        {"PPC1100", "Excessive length for server_id"},
        {"PPC1125", "Excessive length for Machine_id"}, {"PPC1260", "Invalid time_offset"},
        {"PPC1170", "Send_false is valid only for the evaluator"}, {"PPC1080", "Duplicate interval"},
        {"PPC1015", "Warning - Class repeditively specified"},
        {"PPC1265", "sunday_start without its end"}, {"PPC1210", "Parsing ended with errors"},
    };
    for (const auto& [id, text] : expected) EXPECT_TRUE(said(id, text)) << id << " " << text;
}

TEST_F(DistributorTest, ErrorsThatStopTheFile) {
    const std::string c = kCollector;
    // Each file holds an error that stops the reading before "class 99".
    const struct { std::string file; const char* id; const char* text; } cases[] = {
        {c + "saturday_start 0800;\nclass 99;\nend;", "PPC0780E", "Unknown keyword (saturday_start)"},
        {"interval 5;\nprocess collector;\nclass 99;", "PPC0890", "First word must be 'process'"},
        {"process collector;\nprocess upa;\nclass 99;\nend;", "PPC0900", "No Process type specified"},
        {"process collector;\nprocess upa;\nclass 99;\nend;", "PPC0915", "No Process interval specified"},
        {"process collector;\ntype sql*net;\ninterval 5;\nend;\nclass 99;", "PPC0920",
         "Server_id required for sql*net"},
        {c + "process;\nclass 99;", "PPC0940", "No Process name supplied"},
        {c + "process " + std::string(25, 'n') + ";\nclass 99;", "PPC0945",
         "Process name exceeeds 24 characters"},
        {c + "class 3 );\nclass 99;\nend;", "PPC0955", "Parsing failed : Syntax error"},
        {c + "machine_id host(;\nclass 99;\nend;", "PPC1180", "Parentheses do not balance"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(parse(k.file), 1) << k.file;
        EXPECT_TRUE(said(k.id, k.text)) << k.file << out;
        EXPECT_FALSE(said("PPC1010", "Class exceeds range")) << k.file;
        EXPECT_TRUE(said("PPC1210", "Parsing ended with errors")) << k.file;
    }
    EXPECT_EQ(parse(kCollector), 1);
    EXPECT_TRUE(said("PPC1185", "Missing end statement"));
}

TEST_F(DistributorTest, DuplicateProcessNameEndsAtOnce) {
    EXPECT_EQ(parse(std::string(kCollector) + "process collector;\ninterval 5;\nend;"), 1);
    EXPECT_TRUE(said("PPC0950", "Duplicate process name: collector"));
    EXPECT_FALSE(said("PPC1205", "Process Parsing ended"));
}

TEST_F(DistributorTest, OptionalLogonDataAndEvaluator) {
    my_trace_all[0] = 1;  // level h messages show only then
    ASSERT_EQ(parse("process collector;\ntype local;\ninterval 60;\n"
                    "process evaluator;\ninterval 60;\nsend_false Y;\nend;"),
              0)
        << out;
    EXPECT_TRUE(said("PPC0905", "No Process logon id specified"));
    EXPECT_TRUE(said("PPC0910", "No Process password specified"));
    EXPECT_TRUE(evaluator_defined);
    EXPECT_EQ(find_distributor("evaluator")->send_false, 1);

    reset_distributors();
    EXPECT_TRUE(distrib_anchor.empty() && !collector_at && !evaluator_defined && sleep_time == 0 &&
                machine_id.host[0] == ' ');
}

TEST_F(DistributorTest, KeywordsAsShownOrAllUpperCase) {
    for (const char* w : {"Sunday_end", "SUNDAY_END"}) EXPECT_EQ(distrib_key_word(w), 9);
    for (const char* w : {"sunday_end", "Sunday_en", "Process"}) EXPECT_EQ(distrib_key_word(w), 0);
    EXPECT_EQ(distrib_key_word("PROCESS"), 1);
}

TEST_F(DistributorTest, InitDistEndsTheCollectorOnFailure) {
    EXPECT_EQ(parse_file("qvxproc.ctl", std::string(kCollector) + "end;", init_dist), 0);
    EXPECT_NE(collector_at, nullptr);
    dir.write("qvxproc.ctl", "process upa;\ninterval 5;\nend;");
    EXPECT_EXIT(init_dist(), testing::ExitedWithCode(0), "");
}

} // namespace
