// The fetch-exit cursors of the examples, run by the collector for real:
// file-system use from df, the load average from /proc/loadavg and the
// server's processes from ps, each checked against the same command's
// output taken by the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <string>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::string kExamples = std::string(QVX_SOURCE_DIR) + "/examples";

// Runs the blocks with the SQLite example's distributors, collecting and
// listing every 2 seconds, for 5 seconds (go_home); the output, in which
// every cursor's rows have been listed twice.
std::string collect(const std::string& blocks, const std::vector<std::string>& cursors) {
    CollectorRun c;
    c.control("proc", replaced_all(read_file(kExamples + "/sqlite/qvxproc.ctl"), "interval 5;", "interval 2;"));
    c.control("dict", read_file(kExamples + "/sqlite/qvxdict.ctl"));
    c.control("coll", replaced_all(blocks, "\n  interval ", "\n  go_home 5;\n  interval 2;\n;") + "end;\n");
    EXPECT_EQ(c.run({}, 60).status, 0);
    const std::string out = c.output();
    for (const std::string& name : cursors) {
        const size_t first = out.find("Nupa for " + name);
        EXPECT_TRUE(first != std::string::npos && out.find("Nupa for " + name, first + 1) != std::string::npos)
            << name << "\n" << out;
    }
    EXPECT_FALSE(has_line(out, "PCC0516W")) << out;
    return out;
}

std::vector<std::vector<std::string>> words_of(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    for (const std::string& line : split_lines(text)) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        if (!words.empty()) lines.push_back(words);
    }
    return lines;
}

std::string shell_output(const std::string& command) {
    return run_program("/bin/sh", {"-c", command}, {}, "/tmp").out;
}

TEST(FetchExitExample, DisksAreDfLinesWithPercentFreeAndFullMarks) {
    const std::string out = collect(cursor_block(kExamples + "/sqlite/qvxcoll.ctl", "DISKS"), {"DISKS"});
    const std::vector<Row> rows = nupa_rows(out, "DISKS");
    auto df = words_of(shell_output("df -P"));
    ASSERT_FALSE(df.empty());
    df.erase(df.begin());  // the heading
    EXPECT_EQ(rows.size(), df.size()) << out;
    for (const auto& line : df) {
        ASSERT_EQ(line.size(), 6u);
        const Row* r = find_row(rows, "mounted", line[5]);
        ASSERT_NE(r, nullptr) << line[5] << "\n" << out;
        EXPECT_EQ(r->at("filesystem"), line[0]);
        EXPECT_EQ(r->at("blocks"), line[1]);
        const double used = std::stod(r->at("used")), avail = std::stod(r->at("avail"));
        if (used + avail <= 0) continue;
        EXPECT_NEAR(std::stod(r->at("free_pct")), avail * 100 / (used + avail), 0.051) << line[5];
        EXPECT_EQ(r->at("state"), used * 100 / (used + avail) > 90 ? "FULL" : "OK") << line[5];
        // Usage may move a little between the collector's df and the test's.
        EXPECT_NEAR(used, std::stod(line[2]), std::max(1e4, used * 0.01)) << line[5];
    }
}

TEST(FetchExitExample, LoadAverageIsTheWholeLine) {
    const std::string out = collect(cursor_block(kExamples + "/sqlite/qvxcoll.ctl", "LOADAVG"), {"LOADAVG"});
    const std::vector<Row> rows = nupa_rows(out, "LOADAVG");
    ASSERT_EQ(rows.size(), 1u) << out;
    const std::string line = rows[0].at("loadavg");
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d+\.\d\d \d+\.\d\d \d+\.\d\d \d+/\d+ \d+)"))) << line;
    const auto now = words_of(read_file("/proc/loadavg"));
    const auto got = words_of(line);
    ASSERT_EQ(now.size(), 1u);
    ASSERT_EQ(got.size(), 1u);
    for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(std::stod(got[0][i]), std::stod(now[0][i]), 2.0) << line;
}

// The PostgreSQL example's process list, pointed at a process the test
// starts itself.
TEST(FetchExitExample, ServerProcessesComeFromPs) {
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sleep", "sleep", "120", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    const std::string block =
        replaced(cursor_block(kExamples + "/postgresql/qvxcoll.ctl", "PGPROCS"), "-C postgres", "-C sleep");
    const std::string out = collect(block, {"PGPROCS"});
    const std::string ps = shell_output("ps -p " + std::to_string(child) + " -o pid=,ppid=,rss=,comm=");
    kill(child, SIGTERM);
    wait_child(child);
    const auto mine = words_of(ps);
    ASSERT_EQ(mine.size(), 1u) << ps;
    const std::vector<Row> rows = nupa_rows(out, "PGPROCS");
    const Row* r = find_row(rows, "pid", mine[0][0]);
    ASSERT_NE(r, nullptr) << out;
    EXPECT_EQ(r->at("ppid"), mine[0][1]);
    EXPECT_EQ(r->at("command"), "sleep");
    EXPECT_NEAR(std::stod(r->at("rss_kb")), std::stod(mine[0][2]), 512);
}

// The script-exit cursor of the SQLite example: its script's lines are the
// rows, its message-form line goes to the output.
TEST(FetchExitExample, ScriptLinesFillTheInsertSelectColumns) {
    const std::string block = replaced(cursor_block(kExamples + "/sqlite/qvxcoll.ctl", "FIGURES"),
                                       "./host_figures.sh", kExamples + "/sqlite/host_figures.sh");
    const std::string out = collect(block, {"FIGURES"});
    const std::vector<Row> rows = nupa_rows(out, "FIGURES");
    ASSERT_EQ(rows.size(), 2u) << out;
    const Row* up = find_row(rows, "figure", "uptime");
    const Row* procs = find_row(rows, "figure", "processes");
    ASSERT_TRUE(up && procs) << out;
    const double now = std::stod(words_of(read_file("/proc/uptime"))[0][0]);
    EXPECT_NEAR(std::stod(up->at("amount")), now, 70) << out;
    EXPECT_GT(std::stoi(procs->at("amount")), 0);
    EXPECT_TRUE(has_line(out, "", "HFG0001I host figures collected")) << out;
    EXPECT_TRUE(find_row(rows, "figure", "HFG0001I") == nullptr);
}

} // namespace
