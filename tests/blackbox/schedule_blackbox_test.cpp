// The scheduling loop seen from outside: collection passes, bypasses,
// sleeps and the two orderly ends (own stop time and SIGTERM).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const char* const kFastProcess =
    "process collector;\n"
    "  type local;\n"
    "  interval 2;\n"
    "sleep 1;\n"
    "end;\n";

size_t count_lines(const std::string& text, const std::string& id, const std::string& part) {
    size_t n = 0;
    for (const auto& line : lines_with(text, id))
        if (line.find(part) != std::string::npos) ++n;
    return n;
}

} // namespace

TEST(ScheduleBlackbox, RunsPassesBypassesSleepsAndStopsAtItsOwnTime) {
    CollectorRun c;
    c.control("proc", kFastProcess);
    c.control("dict", kGoodDict);
    c.control("coll",
              "cursor CPU;\n"
              "  INSERT INTO os.cpu (busy, idle) VALUES (:busy, :idle);\n"
              "  interval 2;\n"
              "  limit 10;\n"
              "cursor DISK;\n"
              "  INSERT INTO os.disk (name) VALUES (:name);\n"
              "  interval 2;\n"
              "  limit 10;\n"
              "  class 3;\n"
              "  go_home 7;\n"
              "end;\n");
    auto r = c.run({"-d"}, 60);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "PCC0280I", "-- Starting parse of COLLECT.CTL -- Time = "));
    EXPECT_TRUE(has_line(out, "CML1530I", "Start collecting. -------------------------------"));
    const size_t passes = count_lines(out, "CGN1520T", " for CPU");
    EXPECT_GE(passes, 3u);
    EXPECT_LE(passes, 5u);
    EXPECT_GE(count_lines(out, "CGN1517T", "Bypassing cursor DISK, why = class"), 3u);
    EXPECT_EQ(count_lines(out, "CGN1520T", " for DISK"), 0u);
    EXPECT_GE(count_lines(out, "CGN1532T", "Go to sleep for "), 3u);
    EXPECT_TRUE(has_line(out, "CGN1524I", "Quit request received. "));
    auto lines = split_lines(out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().rfind("GGN1505S", 0) == 0) << lines.back();
    // Quit by its own stop time: no interrupt, no exit-handler line.
    EXPECT_EQ(out.find("Received interupt"), std::string::npos);
    EXPECT_EQ(r.err.find("Exiting collector at"), std::string::npos);
}

TEST(ScheduleBlackbox, SigtermEndsTheCollectorInTheOrderlyWay) {
    CollectorRun c;
    c.control("proc", kFastProcess);
    c.control("dict", kGoodDict);
    c.control("coll",
              "cursor CPU;\n"
              "  INSERT INTO os.cpu (busy, idle) VALUES (:busy, :idle);\n"
              "  interval 2;\n"
              "  limit 10;\n"
              "  go_home 300;\n"
              "end;\n");
    Spawned p = spawn_program(bin_path("qvxcoll"), {}, c.env, c.dir.path());
    ASSERT_TRUE(wait_for_text(c.dir.file(c.output_name()), "Start collecting.", 30));
    // Let it fall asleep between passes, then stop it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(p.pid, SIGTERM);
    const int status = wait_program(p, 60);
    EXPECT_EQ(status, 0);
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "CIR5005I", "Received interupt (15). Quitting."));
    EXPECT_TRUE(has_line(out, "GGN1505S", "Collector ended"));
    EXPECT_EQ(out.find("Quit request received"), std::string::npos);
}
