#include "channel/comm_dispatch.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "channel/comm_pipe.h"
#include "channel/serve_wait.h"
#include "runtime/settings.h"
#include "support/state.h"
#include "support/testenv.h"

namespace {

using namespace qvx;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class CommDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.localtmpdir = dir.path();  // every pipe is made in there
        wait_timeout = 1;
    }
    void TearDown() override { qvxtest::reset_collector_state(); }

    void use_pipes() { env.set("COLL_USESHM", "0"); }
    void use_shm() { env.set("COLL_USESHM", "1"); }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
};

// ------------------------------------------------------- shared pieces

TEST(CommAnchor, CursorListsSplitOnBlanksAndCommasInPiecesOfEight) {
    const std::string list = " CURA,,CURB  ABCDEFGHIJ,";
    std::vector<std::string> names;
    size_t pos = 0;
    for (std::string n = get_curs_name(list, pos); !n.empty(); n = get_curs_name(list, pos)) names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{"CURA", "CURB", "ABCDEFGH", "IJ"}));
    EXPECT_EQ(get_curs_name(list, pos), "") << "the end stays the end";
}

TEST(CommAnchor, AgentBlocksCarryTheFilledParameterSlotsAndAreKeptForTheSameList) {
    comm_anchor a;
    a.probe_pipe = "/tmp/reply";
    a.parms[0] = "P1";
    a.parms[3] = "P4";
    build_request_blocks(a, "CURA,CURB");
    ASSERT_EQ(a.c_list.size(), 2u);
    EXPECT_EQ(a.c_list[1].name, "CURB");
    EXPECT_EQ(a.c_list[1].pipe_buf, serialize_request("CURB", "/tmp/reply", {"P1", "P4"}));

    // The same list again: the blocks of the previous get, replies and all.
    a.c_list[0].rows = 7;
    build_request_blocks(a, "CURA,CURB");
    ASSERT_EQ(a.c_list.size(), 2u);
    EXPECT_EQ(a.c_list[0].rows, 7);

    // Only the first 99 characters of a list count.
    const std::string long_list = std::string(95, ' ') + "CURC" + ",CURD";
    build_request_blocks(a, long_list.c_str());
    ASSERT_EQ(a.c_list.size(), 1u);
    EXPECT_EQ(a.c_list[0].name, "CURC");
}

TEST(CommAnchor, RequestParametersFillFortySlotsAndClearTheRest) {
    comm_anchor a;
    std::vector<std::string> many;
    for (int i = 0; i < 45; ++i) many.push_back("p" + std::to_string(i));
    read_request_parms(a, serialize_request("CUR", "/r", many));
    EXPECT_EQ(a.parm_count, kParmSlots);
    EXPECT_EQ(a.parms[39], "p39");

    // A record cut short (no end to the reply path) leaves no parameter
    // of the previous one behind.
    auto cut = serialize_request("CUR", "/reply", {"X"});
    cut.resize(8);
    read_request_parms(a, cut);
    EXPECT_EQ(a.parm_count, 0);
    for (const auto& p : a.parms) EXPECT_EQ(p, "");
}

// -------------------------------------------------------- the dispatcher

TEST_F(CommDispatch, SharedMemoryCallsBuildNoPipes) {
    use_shm();
    comm_anchor* c = qvxcomm("initc").anchor;
    comm_anchor* p = qvxcomm("init").anchor;
    ASSERT_NE(c, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(c->coll_pipe, "COL");
    EXPECT_EQ(p->probe_pipe, "AGT");
    EXPECT_TRUE(dir.files().empty()) << "no pipe is made for the shared-memory transport";
    qvxcomm("term", c);
    qvxcomm("term", p);

    use_pipes();
    c = qvxcomm("initc").anchor;
    ASSERT_NE(c, nullptr);
    struct stat st {};
    ASSERT_EQ(::stat(c->coll_pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    qvxcomm("term", c);
    EXPECT_TRUE(dir.files().empty()) << "term removes the pipe again";
}

TEST_F(CommDispatch, TheLockIsHeldWhileTheTransportWorks) {
    use_pipes();
    comm_anchor* p = qvxcomm("init").anchor;
    ASSERT_NE(p, nullptr);
    // No collector: the agent's ten attempts to open its pipe sleep in
    // between, inside the call.
    std::vector<int> locks;
    comm_sleep = [&locks](unsigned) { locks.push_back(qvxcomm_locked); };
    EXPECT_EQ(qvxcomm("get", p, "CURA").blocks, nullptr);
    EXPECT_EQ(locks, std::vector<int>(10, 3));
    EXPECT_EQ(qvxcomm_locked, 0);
    EXPECT_EQ(p->error_code, 3);
    qvxcomm("term", p);
}

TEST_F(CommDispatch, AnInvalidWordIsRefusedBeforeAnyTransport) {
    use_shm();
    comm_anchor a;
    const std::string word(300, 'x');
    const std::string out = qvxtest::captured([&] { EXPECT_EQ(qvxcomm(word, &a).anchor, nullptr); });
    EXPECT_TRUE(qvxtest::has(out, "Invalid function code to QVXCOMM: xxx")) << out;
    EXPECT_FALSE(qvxtest::has(out, "QVXCOMM2")) << "the shared-memory words never see it";
    EXPECT_EQ(a.error_code, 12);
    // The text is cut where the channel's error texts are always cut.
    EXPECT_EQ(a.error_text, ("Invalid function code to QVXCOMM: " + word).substr(0, 199));
    // Words match whole, in any case: a blank too many is another word.
    a.error_code = 0;
    qvxtest::captured([&] { EXPECT_EQ(qvxcomm("init ", &a).anchor, nullptr); });
    EXPECT_EQ(a.error_code, 12);
}

// ------------------------------------------------------------- the waits

TEST_F(CommDispatch, PipeWaitSeesARequestWithoutTakingIt) {
    use_pipes();
    EXPECT_EQ(comm_wait_for_request(nullptr, 5.0), RequestWait::unavailable);
    comm_anchor* c = qvxcomm("initc").anchor;
    ASSERT_NE(c, nullptr);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm_wait_for_request(c, 0.2), RequestWait::timeout);
    EXPECT_GE(seconds_since(start), 0.15);

    const int w = ::open(c->coll_pipe.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);
    const auto request = serialize_request("CURA", "/r", {});
    ASSERT_EQ(::write(w, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(wait_for_request(c, 5.0));
    EXPECT_LT(seconds_since(start), 2.0);
    curs_list* b = get_probe_reqs(c);
    ASSERT_NE(b, nullptr) << "the wait left the request for the get";
    EXPECT_EQ(b->name, "CURA");
    ::close(w);
    qvxcomm("term", c);
}

TEST_F(CommDispatch, NothingToWaitOnMakesThePlainNap) {
    use_shm();
    comm_anchor* c = qvxcomm("initc").anchor;
    ASSERT_NE(c, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm_wait_for_request(c, 5.0), RequestWait::unavailable) << "shared memory not established";
    EXPECT_LT(seconds_since(start), 1.0);

    // The service naps the whole time instead, and reports no request.
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait_for_request(c, 0.3));
    EXPECT_GE(seconds_since(start), 0.25);

    use_pipes();
    comm_anchor agent;
    agent.anchor_type = 'P';
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait_for_request(&agent, 0.3));
    EXPECT_GE(seconds_since(start), 0.25);
    qvxcomm("term", c);
}

} // namespace
