// A decode that asks for a new database session: the collector commits,
// reports the reconnection, restarts itself (a new image of the same
// program, the same process) and comes back up collecting.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";

// The FLAG cursor asks for a restart while its table says RESET.
const char* const kColl =
    "cursor FLAG;\n"
    "  INSERT INTO flags (state) VALUES (:state^8);\n"
    "  interval 2;\n"
    "  limit 10;\n"
    "  samples 1;\n"
    "  decode state = 'RESET' , 'hold resetdb';\n"
    "end;\n";

// The output file and its backups, oldest first.
std::string all_output(const CollectorRun& c) {
    const std::string current = c.dir.file(c.output_name());
    std::string text;
    for (int n = 9; n >= 1; --n) {
        const std::string backup = current.substr(0, current.size() - 1) + std::to_string(n);
        if (std::filesystem::exists(backup)) text += read_file(backup);
    }
    return text + c.output();
}

TEST(DecodeRestart, ResetdbRestartsTheCollectorWhichComesBackCollecting) {
    CollectorRun c;
    const std::string db = c.dir.file("flags.db");
    sqlite(db, "CREATE TABLE flags (state TEXT); INSERT INTO flags VALUES ('RESET');");
    // The example's distributors, collecting and listing every 2 seconds.
    std::string proc = read_file(kExampleDir + "/qvxproc.ctl");
    for (size_t at = proc.find("interval 5;"); at != std::string::npos; at = proc.find("interval 5;"))
        proc.replace(at, 11, "interval 2;");
    c.control("proc", proc);
    c.control("dict", read_file(kExampleDir + "/qvxdict.ctl"));
    c.control("coll", kColl);
    c.env["COLL_CONNECT"] = "sqlite:" + db;
    c.env["COLL_NUMOUTBAK"] = "9";

    Spawned p = spawn_program(bin_path("qvxcoll"), {}, c.env, c.dir.path());
    bool restarted = false;
    for (int i = 0; i < 150 && !restarted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        restarted = has_line(all_output(c), "CGN1522S", "Restarting collector");
    }
    ASSERT_TRUE(restarted) << all_output(c);
    sqlite(db, "UPDATE flags SET state = 'OK'");
    // Time for a restart under way to finish and for the image after it
    // to collect and list its row (the example's "nupa" distributor writes
    // every cursor's rows); the output is complete once it has ended.
    std::this_thread::sleep_for(std::chrono::seconds(8));
    kill(p.pid, SIGTERM);
    EXPECT_EQ(wait_program(p, 30), 0);
    const std::string last = c.output();
    EXPECT_TRUE(has_line(last, "CPR1895I", "n=state,l=8,o=0,ll=8:OK")) << last;
    EXPECT_TRUE(has_line(last, "CML1530I", "Start collecting.")) << last;
    EXPECT_FALSE(has_line(last, "CGN1522S")) << "the last image restarted again\n" << last;

    const std::string all = all_output(c);
    EXPECT_TRUE(has_line(all, "CDE4467I", "Reconnecting to database because of decode in cursor FLAG")) << all;
    // The restart came after the reconnection was asked for, and a new
    // image started: the collector's start-up is in the output twice or
    // more.
    EXPECT_LT(all.find("Reconnecting to database because of decode"), all.find("Restarting collector"));
    const std::string started = "Start collecting.";
    const size_t first = all.find(started);
    ASSERT_NE(first, std::string::npos) << all;
    EXPECT_NE(all.find(started, first + 1), std::string::npos) << all;
}

} // namespace
