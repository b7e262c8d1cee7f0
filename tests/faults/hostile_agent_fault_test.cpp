// Agents that break the rules: records cut short or longer than they say,
// a request word of 10,000 bytes, 40 parameters of 1,000 bytes, a reader
// that never reads its reply, an agent killed in the middle of a reply.
// After each the collector has written its message and the next agent,
// one that keeps the rules, is served at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "faults/fault_harness.h"

using namespace qvxtest;

namespace {

using Clock = std::chrono::steady_clock;

class HostileAgent : public ::testing::Test {
protected:
    void start(const char* channel) {
        c = std::make_unique<SqliteCollector>(channel);
        ASSERT_TRUE(c->made);
        ASSERT_TRUE(c->start()) << c->run.output();
    }
    void TearDown() override {
        if (c && c->proc.pid > 0) {
            EXPECT_EQ(c->probe({"SHUTDOWN"}).status, 0);
            EXPECT_EQ(wait_program(c->proc, 40), 0) << "the collector did not end in order";
            c->proc.pid = -1;
        }
    }

    std::string tmp(const std::string& name) const { return c->run.dir.path() + "/tmp/" + name; }

    void send(const std::vector<unsigned char>& bytes) {
        const int fd = ::open(tmp("col_SRV_qvx_pipe").c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        // A writer that may fill the pipe: the collector reads as it goes.
        size_t done = 0;
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (done < bytes.size() && Clock::now() < until) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(fd);
        EXPECT_EQ(done, bytes.size());
    }

    // The message the collector writes for what an agent did.
    bool logged(const std::string& text) { return wait_for_text(c->run.dir.file(c->run.output_name()), text, 15); }

    // A well-behaved agent gets its row, within the given seconds.
    void served(const std::string& after, double within_s) {
        const auto t = Clock::now();
        RunResult r = c->probe({"--timeout", "30", "DBPAGES"});
        const double took = std::chrono::duration<double>(Clock::now() - t).count();
        EXPECT_EQ(r.status, 0) << after << ": " << r.err << c->run.output();
        EXPECT_NE(r.out.find("DBPAGES: 1 row"), std::string::npos) << after << ": " << r.out;
        EXPECT_LT(took, within_s) << after;
    }

    std::unique_ptr<SqliteCollector> c;
};

TEST_F(HostileAgent, BrokenPipeRecordsAreReportedAndTheNextAgentIsServed) {
    start("0");
    const std::string reply = tmp("reply_pipe");
    ASSERT_EQ(::mkfifo(reply.c_str(), 0600), 0);

    // A record cut in half: the writer goes away after half the bytes.
    auto whole = pipe_request("DBPAGES", reply, {"p"});
    send(std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() / 2));
    EXPECT_TRUE(logged("Pipe read error"));
    served("a record cut in half", 3);

    // A length field past the end of what is written.
    send(pipe_request("DBPAGES", reply, {}, 200));
    served("a length past the end", 3);

    // A request word of 10,000 bytes; 40 parameters of 1,000 bytes (more
    // than the 16-bit length field can say).
    send(pipe_request(std::string(10000, 'W'), reply, {}));
    EXPECT_TRUE(logged("request length error, size=10"));
    served("a 10,000-byte word", 3);
    send(pipe_request("DBPAGES", reply, std::vector<std::string>(40, std::string(1000, 'p'))));
    served("40 parameters of 1,000 bytes", 3);

    // A reply "pipe" that is a file of the collector's user, directly or
    // through a link: never written, the request fails with its message.
    const std::string victim = c->run.dir.write("victim.txt", "keep me\n");
    const std::string link = tmp("reply_link");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    for (const std::string& path : {victim, link}) {
        send(pipe_request("DBPAGES", path, {}));
        EXPECT_TRUE(logged("Open Probe pipe error 6. Pipe=" + path)) << path;
        served("a reply path that is no pipe", 3);
    }
    EXPECT_EQ(read_file(victim), "keep me\n");

    const std::string out = c->run.output();
    EXPECT_TRUE(has_line(out, "COM0203E", "request length error, size=10")) << out;
}

TEST_F(HostileAgent, PipeReaderThatNeverReadsOrDiesHoldsNobodyUp) {
    start("0");
    // A reply pipe held open and never read, for a reply of about 1 MB.
    const std::string reply = tmp("reply_pipe");
    ASSERT_EQ(::mkfifo(reply.c_str(), 0600), 0);
    const int reader = ::open(reply.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    send(pipe_request("BIG", reply, {}));
    served("a reader that never reads", 12);
    ::close(reader);

    // An agent killed while the reply flows.
    Spawned agent = c->probe_in_background({"BIG"});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::kill(agent.pid, SIGKILL);
    wait_program(agent, 10);
    served("an agent killed mid-reply", 12);
    EXPECT_EQ(zombie_children(), 0);
}

TEST_F(HostileAgent, SharedMemoryReaderThatStopsOrDiesHoldsNobodyUp) {
    c = std::make_unique<SqliteCollector>("1");
    ASSERT_TRUE(c->made);
    // BIG traced: the collector writes when it starts returning its rows.
    c->run.control("trac", "trace BIG;\nend;\n");
    ASSERT_TRUE(c->start()) << c->run.output();
    // A reader stopped (never reading) in the middle of a reply of many
    // chunks, then killed. It is stopped once the reply is on its way: a
    // reader stopped while it attaches (which a busy machine can make
    // last longer than a fixed pause) is another case.
    Spawned stopped = c->probe_in_background({"BIG"});
    ASSERT_TRUE(logged("Returning Cur BIG")) << c->run.output();
    ::kill(stopped.pid, SIGSTOP);
    served("a reader that stopped reading", 25);
    ::kill(stopped.pid, SIGKILL);
    wait_program(stopped, 10);

    Spawned killed = c->probe_in_background({"BIG"});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::kill(killed.pid, SIGKILL);
    wait_program(killed, 10);
    served("an agent killed mid-reply", 25);
}

} // namespace
