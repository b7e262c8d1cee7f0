// The channel's objects taken away under a running collector: `ipcrm` on
// both segments and both semaphore sets, or the collector's named pipe
// deleted. The collector reports it, makes the channel again when its
// current wait for a request ends and serves the next agent; it neither
// dies nor spins while nobody asks (in pipe mode it also holds still after
// an agent has come and gone). A request that comes before the new channel is there fails
// with the channel's own message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "faults/fault_harness.h"

using namespace qvxtest;

namespace {

using Clock = std::chrono::steady_clock;

class ChannelRemoved : public ::testing::Test {
protected:
    void start(const char* channel) {
        c = std::make_unique<SqliteCollector>(channel);
        ASSERT_TRUE(c->made);
        // Without the row print-out, the output file keeps every message
        // of the run (the big cursor's rows would wrap it every pass).
        const std::string proc = read_file(c->run.dir.file("qvxproc.ctl"));
        const size_t nupa = proc.find("process nupa;");
        ASSERT_NE(nupa, std::string::npos);
        c->run.control("proc", proc.substr(0, nupa) + "end;\n");
        ASSERT_TRUE(c->start()) << c->run.output();
    }
    void TearDown() override { stop(); }
    void stop() {
        if (c && c->proc.pid > 0) {
            EXPECT_EQ(c->probe({"--timeout", "10", "SHUTDOWN"}).status, 0);
            EXPECT_EQ(wait_program(c->proc, 40), 0) << "the collector did not end in order";
            c->proc.pid = -1;
        }
    }

    // An agent gets its row within the given seconds, retrying while the
    // channel is not back; each failure must be one of the channel's own.
    void served_again(const std::string& after, double within_s) {
        const auto until = Clock::now() + std::chrono::duration<double>(within_s);
        RunResult r;
        for (;;) {
            r = c->probe({"--timeout", "3", "DBPAGES"});
            if (r.status == 0 || Clock::now() >= until) break;
            EXPECT_TRUE(r.status == 3 || r.status == 20 || r.status == 21) << after << ": " << r.status << r.err;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(r.status, 0) << after << ": " << r.err << c->run.output();
        EXPECT_NE(r.out.find("DBPAGES: 1 row"), std::string::npos) << after << ": " << r.out;
    }

    // CPU seconds the collector spends over a quiet stretch.
    double cpu_over(double seconds) {
        const double before = cpu_seconds(c->proc.pid);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return cpu_seconds(c->proc.pid) - before;
    }

    std::unique_ptr<SqliteCollector> c;
};

TEST_F(ChannelRemoved, SharedMemoryObjectsRemovedAreMadeAgain) {
    start("1");
    for (int round = 0; round < fault_count(3, 20); ++round) {
        const ChannelIds old = c->ids();
        ASSERT_GE(old.request_shm, 0);
        // As ipcrm does it: the semaphore sets go at once, the segments
        // when the last process detaches.
        ::shmctl(old.request_shm, IPC_RMID, nullptr);
        ::shmctl(old.data_shm, IPC_RMID, nullptr);
        ::semctl(old.request_sem, 0, IPC_RMID);
        ::semctl(old.data_sem, 0, IPC_RMID);

        EXPECT_LT(cpu_over(3), 0.3) << "round " << round << ": the collector spins without its channel";
        EXPECT_EQ(::kill(c->proc.pid, 0), 0) << "round " << round;
        const ChannelIds now = c->ids();
        EXPECT_NE(now.request_shm, old.request_shm) << "round " << round;
        EXPECT_TRUE(segment_exists(now.request_shm) && semaphores_exist(now.data_sem)) << "round " << round;
        served_again("objects removed, round " + std::to_string(round), 10);
        for (int id : {old.request_shm, old.data_shm}) EXPECT_FALSE(segment_exists(id)) << "round " << round;
    }
    // Each removal reported, and each round's new objects named: made by
    // the collector, or by the agent that came first and attached to by
    // the collector (the file is complete once the collector has ended).
    stop();
    const std::string out = c->run.output();
    EXPECT_TRUE(has_line(out, "USH0027E", "semop() failed: Identifier removed")) << out;
    EXPECT_TRUE(has_line(out, "CIR1835E", "Share memory generic error")) << out;
    EXPECT_GE(lines_with(out, "USH0034I").size() + lines_with(out, "USH0035I").size(),
              1u + static_cast<size_t>(fault_count(3, 20)))
        << out;
}

// Only the segments marked for removal: nothing fails yet, but a new agent
// could not attach them. The collector notices and makes new objects.
TEST_F(ChannelRemoved, SegmentsMarkedForRemovalAreReplaced) {
    start("1");
    const ChannelIds old = c->ids();
    ::shmctl(old.request_shm, IPC_RMID, nullptr);
    ::shmctl(old.data_shm, IPC_RMID, nullptr);
    served_again("segments removed", 10);
    EXPECT_NE(c->ids().request_shm, old.request_shm);
    EXPECT_LT(cpu_over(2), 0.3);
}

TEST_F(ChannelRemoved, CollectorPipeDeletedIsMadeAgain) {
    start("0");
    const std::string pipe = c->run.dir.path() + "/tmp/col_SRV_qvx_pipe";
    for (int round = 0; round < fault_count(3, 20); ++round) {
        ASSERT_TRUE(std::filesystem::remove(pipe)) << "round " << round;
        // Asked at once: the channel's message or, when the collector was
        // quicker, the rows.
        const RunResult early = c->probe({"--timeout", "3", "DBPAGES"});
        if (early.status != 0) {
            EXPECT_NE(early.err.find("no collector serves host testhost, type qvx, server SRV"), std::string::npos)
                << early.err;
        }
        // Made again when the service's current wait ends.
        const double cpu_before = cpu_seconds(c->proc.pid);
        struct stat st{};
        for (int i = 0; i < 100 && ::stat(pipe.c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(::stat(pipe.c_str(), &st), 0) << "round " << round << ": the pipe is not made again";
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_LT(cpu_seconds(c->proc.pid) - cpu_before + cpu_over(2), 0.3) << "round " << round;
        served_again("pipe deleted, round " + std::to_string(round), 5);
    }
}

} // namespace
