// Column functions and history in the running collector: the SQLite
// example's PAGEUSE cursor (AVG!, MAX!, HW! over the pages of the file)
// read by qvxprobe as one summary row, the historian appending that row to
// PAGEUSE.HST, and the historian's status when the file cannot be opened.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

// The "last status" of the named distributor in a printed D-STATUS reply.
std::string last_status(const std::string& reply, const std::string& distributor) {
    bool inside = false;
    for (const std::string& line : split_lines(reply)) {
        if (line.rfind("distributor ", 0) == 0) inside = line == "distributor " + distributor;
        const std::vector<std::string> w = words(line);
        if (inside && w.size() == 3 && w[0] == "last" && w[1] == "status") return w[2];
    }
    return "<none>";
}

class HistoryRun : public ::testing::Test {
protected:
    void SetUp() override {
        c.env["COLL_USESHM"] = "0";
        db = c.dir.file("sample.db");
        RunResult made = run_program("/bin/bash", {kExampleDir + "/make-sample-db.sh", db}, c.env, c.dir.path());
        ASSERT_EQ(made.status, 0) << made.err;
        for (const char* base : {"proc", "dict", "coll"})
            c.control(base, read_file(kExampleDir + "/qvx" + base + ".ctl"));
        c.env["COLL_CONNECT"] = "sqlite:" + db;
        collector = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
    }
    void TearDown() override {
        if (collector.pid > 0) {
            probe({"SHUTDOWN"});
            wait_program(collector, 30);
        }
    }

    RunResult probe(std::vector<std::string> args) {
        args.insert(args.begin(), {"--control", c.dir.path()});
        return run_program(bin_path("qvxprobe"), args, c.env, c.dir.path(), 40);
    }

    CollectorRun c;
    std::string db;
    Spawned collector;
};

TEST_F(HistoryRun, SummaryRowIsServedAndAppendedToTheHistoryFile) {
    const std::string hst = c.dir.file("PAGEUSE.HST");
    ASSERT_TRUE(wait_for_text(hst, "\n", 40)) << c.output();

    // The figures SQLite gives for the same pages: AVG! cut to the decimals
    // of the values (none), MAX! with the name of the first fullest page.
    const std::string used = "pgsize - unused";
    const std::string avg = sqlite(db, "SELECT CAST(AVG(" + used + ") AS INTEGER) FROM dbstat");
    const std::string max = sqlite(db, "SELECT MAX(" + used + ") FROM dbstat");
    const std::string name = sqlite(db, "SELECT name FROM dbstat WHERE " + used + " = (SELECT MAX(" + used +
                                            ") FROM dbstat) ORDER BY name, pageno LIMIT 1");
    const std::string pages = sqlite(db, "PRAGMA page_count");
    const std::vector<std::string> expected = {name, avg, max, pages};

    RunResult row = probe({"PAGEUSE"});
    ASSERT_EQ(row.status, 0) << row.err;
    const std::vector<std::string> lines = split_lines(row.out);
    ASSERT_GE(lines.size(), 3u) << row.out;
    EXPECT_EQ(lines[0].rfind("PAGEUSE: 1 row of", 0), 0u) << row.out;
    EXPECT_EQ(words(lines[2]), expected) << row.out;

    // Each record: the 14-digit time of the historian's pass, then the row.
    const std::vector<std::string> records = split_lines(read_file(hst));
    ASSERT_FALSE(records.empty());
    for (const std::string& rec : records) {
        ASSERT_GT(rec.size(), 14u);
        EXPECT_EQ(rec.find_first_not_of("0123456789"), 14u) << rec;
        EXPECT_EQ(words(rec.substr(14)), expected) << rec;
    }
    EXPECT_EQ(last_status(probe({"D-STATUS"}).out, "historian"), "GOOD");

    // A history file that cannot be opened: reported, and the historian
    // fails.
    std::filesystem::rename(hst, hst + ".old");
    std::filesystem::create_directory(hst);
    const std::string out_path = c.dir.file(c.output_name());
    ASSERT_TRUE(wait_for_text(out_path, "CHI1630E", 40)) << c.output();
    EXPECT_TRUE(has_line(c.output(), "CHI1630E", "Can't open " + hst)) << c.output();
    EXPECT_EQ(last_status(probe({"D-STATUS"}).out, "historian"), "FAIL");
}

} // namespace
