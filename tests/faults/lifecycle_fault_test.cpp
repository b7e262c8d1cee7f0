// Many lives of the collector, each asked by an agent and ended in one of
// three ways (SHUTDOWN request, SIGTERM, SIGKILL), on both channels in
// turn. Whatever the end, the next start serves; after the last orderly
// end no channel object, pipe, id or lock file, or zombie child is left.
//
// SIGTERM ends the collector after its two 10-second grace waits, so it
// is one life in ten; the long count runs in several lanes at once, each
// lane a collector identity of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <set>

#include "faults/fault_harness.h"

using namespace qvxtest;

namespace {

enum class End { shutdown, term, kill };

End end_of_life(int i) { return i % 10 == 5 ? End::term : i % 2 ? End::kill : End::shutdown; }
const char* channel_of_life(int i) { return i % 4 < 2 ? "0" : "1"; }

struct LaneResult {
    std::vector<std::string> failures;
    std::set<int> segments, semaphores;
    std::vector<std::string> left_files;
};

void note(LaneResult& r, int life, const std::string& what) {
    r.failures.push_back("life " + std::to_string(life) + ": " + what);
}

void one_life(SqliteCollector& c, int i, LaneResult& r) {
    c.run.env["COLL_USESHM"] = channel_of_life(i);
    if (!c.start()) return note(r, i, "no answer\n" + c.run.output());
    RunResult rows = c.probe({"DBPAGES"});
    if (rows.status != 0 || rows.out.find("DBPAGES: 1 row") == std::string::npos)
        note(r, i, "row request: " + rows.out + rows.err);
    const ChannelIds ids = c.ids();
    if (ids.request_shm >= 0) {
        r.segments.insert({ids.request_shm, ids.data_shm});
        r.semaphores.insert({ids.request_sem, ids.data_sem});
    }
    const End end = end_of_life(i);
    switch (end) {
        case End::shutdown:
            if (c.probe({"SHUTDOWN"}).status != 0) note(r, i, "SHUTDOWN not answered");
            break;
        case End::term: ::kill(c.proc.pid, SIGTERM); break;
        case End::kill: ::kill(c.proc.pid, SIGKILL); break;
    }
    const int status = wait_program(c.proc, 40);
    c.proc.pid = -1;
    if (end == End::kill ? status != -1 : status != 0) note(r, i, "exit status " + std::to_string(status));
}

LaneResult lane(int lives) {
    LaneResult r;
    SqliteCollector c;
    if (!c.made) return note(r, 0, "no sample database"), r;
    for (int i = 0; i < lives && r.failures.size() < 5; ++i) one_life(c, i, r);
    // The last lives end in order, one on each channel.
    one_life(c, 0, r);
    one_life(c, 2, r);
    // The lock file may stay, but naming no owner.
    for (const std::string& name : c.tmp_files())
        if (!name.ends_with("-lk") || !read_file(c.run.dir.path() + "/tmp/" + name).empty()) r.left_files.push_back(name);
    return r;
}

TEST(CollectorLives, EveryEndLeavesAChannelTheNextStartCanServe) {
    const int lanes = fault_count(1, 4);
    const int lives = fault_count(6, 1000) / lanes;
    std::vector<std::future<LaneResult>> running;
    for (int l = 0; l < lanes; ++l) running.push_back(std::async(std::launch::async, lane, lives));
    for (auto& f : running) {
        const LaneResult r = f.get();
        for (const std::string& failure : r.failures) ADD_FAILURE() << failure;
        for (int id : r.segments) EXPECT_FALSE(segment_exists(id)) << "segment " << id;
        for (int id : r.semaphores) EXPECT_FALSE(semaphores_exist(id)) << "semaphore set " << id;
        for (const std::string& name : r.left_files) ADD_FAILURE() << "left in the temporary directory: " << name;
    }
    EXPECT_EQ(zombie_children(), 0);
}

} // namespace
