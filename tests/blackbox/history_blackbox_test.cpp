// The SQLite example's PAGEUSE cursor (AVG!, MAX!, HW! with history) in a
// running collector: qvxprobe reads its one summary row, the historian
// appends it to PAGEUSE.HST, and fails when the file cannot be opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

struct Collector {
    CollectorRun c;
    Spawned proc;
    ~Collector() {
        if (proc.pid <= 0) return;
        probe({"SHUTDOWN"});
        wait_program(proc, 30);
    }
    RunResult probe(std::vector<std::string> args) {
        args.insert(args.begin(), {"--control", c.dir.path()});
        return run_program(bin_path("qvxprobe"), args, c.env, c.dir.path(), 40);
    }
    // The "last status" line of the historian in a D-STATUS reply.
    std::string historian_status() {
        const std::string reply = probe({"D-STATUS"}).out;
        const size_t at = reply.find("last status", reply.find("distributor historian"));
        const auto w = at == std::string::npos ? std::vector<std::string>{}
                                               : words(reply.substr(at, reply.find('\n', at) - at));
        return w.size() == 3 ? w[2] : "<none>";
    }
};

TEST(HistoryRun, SummaryRowIsServedAndAppendedToTheHistoryFile) {
    Collector run;
    CollectorRun& c = run.c;
    c.env["COLL_USESHM"] = "0";
    const std::string db = c.dir.file("sample.db");
    ASSERT_EQ(run_program("/bin/bash", {kExampleDir + "/make-sample-db.sh", db}, c.env, c.dir.path()).status, 0);
    for (const char* base : {"proc", "dict", "coll"})
        c.control(base, read_file(kExampleDir + "/qvx" + base + ".ctl"));
    c.env["COLL_CONNECT"] = "sqlite:" + db;
    run.proc = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
    const std::string hst = c.dir.file("PAGEUSE.HST");
    ASSERT_TRUE(wait_for_text(hst, "\n", 40)) << c.output();

    // SQLite's figures for the same pages: the average cut to the values'
    // (integer) decimals, the largest, and the name of the first such page.
    const std::string used = "pgsize - unused";
    const std::vector<std::string> expected = {
        sqlite(db, "SELECT name FROM dbstat WHERE " + used + " = (SELECT MAX(" + used +
                       ") FROM dbstat) ORDER BY name, pageno LIMIT 1"),
        sqlite(db, "SELECT CAST(AVG(" + used + ") AS INTEGER) FROM dbstat"),
        sqlite(db, "SELECT MAX(" + used + ") FROM dbstat"), sqlite(db, "PRAGMA page_count")};
    const std::vector<std::string> reply = split_lines(run.probe({"PAGEUSE"}).out);
    ASSERT_GE(reply.size(), 3u);
    EXPECT_EQ(reply[0].rfind("PAGEUSE: 1 row of", 0), 0u) << reply[0];
    EXPECT_EQ(words(reply[2]), expected) << reply[2];
    for (const std::string& rec : split_lines(read_file(hst))) {
        EXPECT_EQ(rec.find_first_not_of("0123456789"), 14u) << rec;  // the pass time
        EXPECT_EQ(words(rec.substr(14)), expected) << rec;
    }
    EXPECT_EQ(run.historian_status(), "GOOD");

    std::filesystem::rename(hst, hst + ".old");
    std::filesystem::create_directory(hst);
    ASSERT_TRUE(wait_for_text(c.dir.file(c.output_name()), "CHI1630E", 40)) << c.output();
    EXPECT_TRUE(has_line(c.output(), "CHI1630E", "Can't open " + hst)) << c.output();
    EXPECT_EQ(run.historian_status(), "FAIL");
}

} // namespace
