#include "channel/comm_pipe.h"
#include "channel/comm_dispatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/settings.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes le16(int v) {
    Bytes b(2);
    const int16_t x = static_cast<int16_t>(v);
    std::memcpy(b.data(), &x, 2);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A request assembled by hand, so the collector can be fed any length.
Bytes raw_request(int len, int name_len, const std::string& body) {
    return cat({le16(len), le16(name_len), bytes(body)});
}

class PipeChannel : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        reset_pipe_channel();
        env_vars.localtmpdir = dir.path();
        env_vars.serverid = "SRV";
        env_vars.db_type = "zeb";
        env_vars.hostname = "hst";
        env.unset("COLL_USESHM");
        wait_timeout = 1;
        comm_sleep = [this](unsigned s) { sleeps += static_cast<int>(s); };
    }
    void TearDown() override {
        if (w >= 0) ::close(w);
        reset_pipe_channel();
        qvxtest::reset_collector_state();
    }

    // The collector end, and a writer on its pipe as an agent would open it.
    void open_collector() {
        c = init_collector();
        ASSERT_NE(c, nullptr);
        w = ::open(c->coll_pipe.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(w, 0);
    }
    void feed(const Bytes& b) { ASSERT_EQ(::write(w, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
    int sleeps = 0;
    comm_anchor* c = nullptr;
    int w = -1;
};

// ------------------------------------------------------------ records

TEST_F(PipeChannel, RequestLayoutByteByByte) {
    const Bytes got = serialize_request("CURA", "/p/r", {"A", "", "BC"});
    // len 4+4+(4+1)+(1+1)+(2+1)+2 = 20
    const Bytes want = cat({le16(20), le16(4), bytes("CURA"), bytes("/p/r"), {0}, bytes("A"), {0},
                            bytes("BC"), {0}, {0, 0}});
    EXPECT_EQ(got, want);

    // Without parameters: name, path, its zero and the two closing zeros.
    EXPECT_EQ(serialize_request("X", "", {}), cat({le16(8), le16(1), bytes("X"), {0, 0, 0}}));
    // A longer name is cut to 8 characters.
    const Bytes cut = serialize_request("ABCDEFGHIJ", "p", {});
    EXPECT_EQ(cut, cat({le16(16), le16(8), bytes("ABCDEFGH"), bytes("p"), {0, 0, 0}}));
}

TEST_F(PipeChannel, StreamHeaderLayoutByteByByte) {
    const auto h = serialize_header({0x01020304, -2});
    int32_t rows, len;
    std::memcpy(&rows, h.data(), 4);
    std::memcpy(&len, h.data() + 4, 4);
    EXPECT_EQ(std::tie(rows, len), std::make_tuple(0x01020304, -2));
    const stream_header back = parse_header(h.data());
    EXPECT_EQ(std::tie(back.rows, back.len), std::make_tuple(0x01020304, -2));
}

TEST_F(PipeChannel, TimeoutValueFromEnvironment) {
    env.unset("WAIT_TIMEOUT");
    EXPECT_EQ(get_timeout_value("WAIT_TIMEOUT", 45), 45);
    const std::pair<const char*, int> cases[] = {{"", 45}, {"0", 45}, {"abc", 45}, {"30", 30},
                                                 {"600", 600}, {"601", 600}, {"900", 600}, {"-5", 600}};
    for (const auto& [value, want] : cases) {
        env.set("WAIT_TIMEOUT", value);
        EXPECT_EQ(get_timeout_value("WAIT_TIMEOUT", 45), want) << "WAIT_TIMEOUT=" << value;
    }
    // The first init fixes the time-out; later changes do not count.
    wait_timeout = 0;
    env.set("COLL_WAIT_TIMEOUT", "0");
    comm_anchor* c = init_collector();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(wait_timeout, 5);
    env.set("WAIT_TIMEOUT", "7");
    comm_anchor* p = init_probe();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(wait_timeout, 5);
    term_comm(p);
    term_comm(c);
}

TEST_F(PipeChannel, PipeNames) {
    EXPECT_EQ(collector_pipe_name(), dir.path() + "/col_SRV_zeb_pipe");
    EXPECT_EQ(agent_pipe_prefix(), dir.path() + "/prb_SRV_zeb_hst_");
    env_vars.serverid.clear();
    env_vars.hostname.clear();
    EXPECT_EQ(collector_pipe_name(), dir.path() + "/col_zeb_pipe");
    EXPECT_EQ(agent_pipe_prefix(), dir.path() + "/prb_zeb_");

    const std::regex tail(R"(prb_zeb_\d{8}_(\d{4})_pipe$)");
    pipe_count = 9998;
    std::vector<std::string> counters;
    for (int i = 0; i < 3; ++i) {
        std::smatch m;
        const std::string name = make_agent_pipe_name();
        ASSERT_TRUE(std::regex_search(name, m, tail)) << name;
        counters.push_back(m[1]);
    }
    EXPECT_EQ(counters, (std::vector<std::string>{"9999", "0000", "0001"}));
}

// -------------------------------------------------------- collector get

TEST_F(PipeChannel, CollectorReadsRequestWithParameters) {
    open_collector();
    EXPECT_EQ(c->anchor_type, 'C');
    struct stat st{};
    ASSERT_EQ(::stat(c->coll_pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // Nothing waiting: null and no error.
    EXPECT_EQ(get_probe_reqs(c), nullptr);
    EXPECT_EQ(c->error_code, 0);

    feed(serialize_request("CURA", "/reply/path", {"A", "B"}));
    curs_list* b = get_probe_reqs(c);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, "CURA");
    EXPECT_EQ(b->p_list, std::vector<std::string>{"/reply/path"});
    EXPECT_EQ(c->probe_pipe, "/reply/path");
    EXPECT_EQ(b->rows, 0);
    EXPECT_EQ(c->parm_count, 4);  // A, B and the two closing zeros
    EXPECT_EQ(std::vector<std::string>(c->parms.begin(), c->parms.begin() + 4),
              (std::vector<std::string>{"A", "B", "", ""}));

    // The next request replaces the parameters of the previous one.
    feed(serialize_request("CURB", "/r2", {}));
    b = get_probe_reqs(c);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, "CURB");
    EXPECT_EQ(c->parm_count, 2);
    EXPECT_EQ(c->parms[0], "");
    term_comm(c);
    EXPECT_FALSE(dir.exists("col_SRV_zeb_pipe")) << "term removes the collector pipe";
}

TEST_F(PipeChannel, CollectorRefusesGarbageLengths) {
    open_collector();

    // 300 is the longest accepted request.
    const std::string path(300 - 4 - 4 - 1 - 2, 'p');
    const Bytes at300 = serialize_request("CUR3", path, {});
    ASSERT_EQ(at300.size(), 300u);
    feed(at300);
    curs_list* b = get_probe_reqs(c);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(c->probe_pipe, path);

    // 301 is refused and dropped whole; the next request is served.
    Bytes at301 = raw_request(301, 4, std::string("CUR4") + std::string(301 - 8, 'q'));
    feed(at301);
    std::string out = qvxtest::captured([&] { EXPECT_EQ(get_probe_reqs(c), nullptr); });
    EXPECT_TRUE(qvxtest::has(out, "request length error, size=301")) << out;
    EXPECT_EQ(c->error_code, 0);
    feed(serialize_request("OK", "/r", {}));
    b = get_probe_reqs(c);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, "OK");

    // Negative and too short lengths.
    for (int len : {-1, 0, 3, 7}) {
        feed(raw_request(len, 1, "X"));
        qvxtest::captured([&] { EXPECT_EQ(get_probe_reqs(c), nullptr) << "len " << len; });
        unsigned char junk[64];
        while (::read(c->coll_fd.get(), junk, sizeof junk) > 0) {}
    }

    // A name of 9 characters, of none, one that a zero byte ends at once,
    // and a path with no terminating zero inside the record.
    const std::string name_error = "Pipe cursor length error. Pipe=" + c->coll_pipe;
    const std::pair<Bytes, std::string> refused[] = {
        {raw_request(4 + 9 + 2 + 2, 9, std::string("ABCDEFGHI") + std::string(4, '\0')), name_error},
        {raw_request(4 + 9 + 2 + 2, 0, std::string("ABCDEFGHI") + std::string(4, '\0')), name_error},
        {raw_request(4 + 9 + 2 + 2, -3, std::string("ABCDEFGHI") + std::string(4, '\0')), name_error},
        {raw_request(4 + 2 + 2 + 2, 2, std::string("\0A", 2) + std::string(4, '\0')), name_error},
        {raw_request(10, 2, "ABcdef"), "Pipe read error. Pipe=" + c->coll_pipe},
    };
    for (const auto& [request, error] : refused) {
        feed(request);
        EXPECT_EQ(get_probe_reqs(c), nullptr);
        EXPECT_EQ(c->error_code, 4);
        EXPECT_EQ(c->error_text, error);
    }

    // More parameters than slots: the slots are filled, nothing overruns.
    std::string many;
    for (int i = 0; i < 60; ++i) many += std::string(1, static_cast<char>('a' + i % 26)) + '\0';
    const Bytes req = raw_request(static_cast<int>(4 + 1 + 2 + many.size() + 2), 1,
                                  std::string("Z") + "p" + '\0' + many + std::string(2, '\0'));
    feed(req);
    ASSERT_NE(get_probe_reqs(c), nullptr);
    EXPECT_EQ(c->parm_count, kParmSlots);
    EXPECT_EQ(c->parms[39], "n");
    term_comm(c);
}

TEST_F(PipeChannel, CollectorRecreatesVanishedPipe) {
    c = init_collector();
    ASSERT_NE(c, nullptr);
    ::unlink(c->coll_pipe.c_str());
    c->probe_pipe = c->coll_pipe;  // its own pipe stands in for the reply path
    EXPECT_EQ(get_probe_reqs(c), nullptr);
    EXPECT_EQ(c->error_code, 0);
    EXPECT_EQ(::access(c->coll_pipe.c_str(), F_OK), 0) << "the pipe is made again";
    w = ::open(c->coll_pipe.c_str(), O_WRONLY | O_NONBLOCK);
    feed(serialize_request("NEW", "/r", {}));
    ASSERT_NE(get_probe_reqs(c), nullptr);
    term_comm(c);
}

// ------------------------------------------------------- collector put

TEST_F(PipeChannel, PutErrors) {
    comm_anchor* c = init_collector();
    ASSERT_NE(c, nullptr);
    // A reply pipe with no reader cannot be opened: the blocks come back.
    const std::string gone = dir.file("no_reader");
    ASSERT_EQ(::mkfifo(gone.c_str(), 0600), 0);
    curs_list b;
    b.name = "CUR";
    b.p_list = {gone};
    c->c_list.push_back(b);
    std::vector<curs_list>* left = put_request(c);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->size(), 1u);
    EXPECT_EQ(c->error_code, 3);
    EXPECT_EQ(c->error_text, "Open Probe pipe error " + std::to_string(ENXIO) + ". Pipe=" + gone);

    c->anchor_type = 'P';
    EXPECT_NE(put_request(c), nullptr);
    EXPECT_EQ(c->error_code, 4);
    EXPECT_EQ(c->error_text, "Invalid request type for probe.");
    c->anchor_type = 'x';
    EXPECT_NE(put_request(c), nullptr);
    EXPECT_EQ(c->error_text, "Invalid IPC anchor for put request.");
    EXPECT_EQ(get_request(c, nullptr), nullptr);
    EXPECT_EQ(c->error_code, 8);
    EXPECT_EQ(c->error_text, "Invalid IPC anchor for get request.");
    EXPECT_EQ(put_request(nullptr), nullptr);
    c->anchor_type = 'C';
    term_comm(c);
}

// ------------------------------------------------------------ agent end

TEST_F(PipeChannel, AgentTimesOutWhenNobodyAnswers) {
    comm_anchor* p = init_probe();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->anchor_type, 'P');
    // A collector pipe someone reads from but nobody answers on.
    ASSERT_EQ(::mkfifo(p->coll_pipe.c_str(), 0600), 0);
    const int r = ::open(p->coll_pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(r, 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(get_request(p, "CURA"), nullptr);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(p->error_code, 1);
    EXPECT_EQ(p->error_text, "Data Collector Wait Timeout. Wait Time=1");
    EXPECT_LT(took, std::chrono::seconds(3));
    // The request did go out.
    unsigned char buf[512];
    const ssize_t n = ::read(r, buf, sizeof buf);
    EXPECT_EQ(Bytes(buf, buf + std::max<ssize_t>(n, 0)), serialize_request("CURA", p->probe_pipe, {}));
    ::close(r);
    ::unlink(p->coll_pipe.c_str());

    // No collector at all: ten attempts, a second apart, then error 3.
    EXPECT_EQ(get_request(p, "CURB"), nullptr);
    EXPECT_EQ(p->error_code, 3);
    EXPECT_EQ(p->error_text, "Open Pipe error " + std::to_string(ENOENT) + ". Pipe=" + p->coll_pipe);
    EXPECT_EQ(sleeps, 10);
    const std::string own = p->probe_pipe;
    term_comm(p);
    EXPECT_NE(::access(own.c_str(), F_OK), 0) << "term removes the agent pipe";
}

TEST_F(PipeChannel, AgentRefusesGarbageReplies) {
    comm_anchor* p = init_probe();
    ASSERT_NE(p, nullptr);
    w = ::open(p->probe_pipe.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);
    auto header = [&](int32_t rows, int32_t len) {
        const auto h = serialize_header({rows, len});
        feed(Bytes(h.begin(), h.end()));
    };
    curs_list b;
    for (auto [rows, len] : {std::pair{-1, 10}, std::pair{2, -4}, std::pair{0x7fffffff, 0x7fffffff}}) {
        header(rows, len);
        EXPECT_EQ(read_reply(p, b), 4) << rows << "x" << len;
        EXPECT_EQ(p->error_text, "Pipe read error. Pipe=" + p->probe_pipe);
    }
    // Fewer row bytes than announced: the wait runs out.
    header(2, 4);
    feed(bytes("abcd"));
    EXPECT_EQ(read_reply(p, b), 1);
    EXPECT_EQ(p->error_text, "Data Collector Wait Timeout. Is collector still there?");
    // 200 MB announced, four bytes sent: the buffer holds one slice at most.
    header(200, 1 << 20);
    feed(bytes("abcd"));
    EXPECT_EQ(read_reply(p, b), 1);
    EXPECT_LE(b.data.capacity(), size_t{1} << 20);
    // A short header alone.
    feed(bytes("abc"));
    EXPECT_EQ(read_reply(p, b), 1);
    EXPECT_EQ(p->error_text, "Data Collector Wait Timeout. Wait Time=1");
    term_comm(p);
}

TEST_F(PipeChannel, ReaderGoneGivesWriteError) {
    comm_anchor* p = init_probe();
    ASSERT_NE(p, nullptr);
    struct sigaction before {};
    ::sigaction(SIGPIPE, nullptr, &before);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    set_signal(p, true);
    std::string out = qvxtest::captured([&] {
        EXPECT_EQ(write_request(p, fds[1], serialize_request("CUR", "/r", {})), 3);
    });
    set_signal(p, false);
    ::close(fds[1]);
    EXPECT_EQ(p->error_code, 3);
    EXPECT_EQ(p->error_text, "Write Pipe error " + std::to_string(EPIPE) + ". Pipe=" + p->coll_pipe);
    EXPECT_NE(pipe_error, 0);
    EXPECT_TRUE(qvxtest::has(out, "handle_pipe_error sig_val=" + std::to_string(SIGPIPE))) << out;

    struct sigaction after {};
    ::sigaction(SIGPIPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << "the previous disposition is back";

    // The collector's put to a reply pipe whose reader left ends quietly.
    comm_anchor* c = init_collector();
    ASSERT_NE(c, nullptr);
    const std::string reply = dir.file("reply");
    ASSERT_EQ(::mkfifo(reply.c_str(), 0600), 0);
    const int r = ::open(reply.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(r, 0);
    // Fill the reply pipe so the reader's departure is seen mid-write.
    curs_list b;
    b.name = "BIG";
    b.p_list = {reply};
    b.rows = 1;
    b.len = 1 << 20;
    b.data.assign(static_cast<size_t>(b.len), 'x');
    c->c_list.push_back(b);
    std::thread leaver([r] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::close(r);
    });
    qvxtest::captured([&] { EXPECT_EQ(put_request(c), nullptr); });
    leaver.join();
    EXPECT_EQ(c->error_code, 0);
    EXPECT_TRUE(c->c_list.empty());
    term_comm(c);
    term_comm(p);
}

// ------------------------------------------------------------ round trip

// The forked child plays the agent: two cursors with rows, then the same
// list again (resent as stored although the parameters changed) answered
// with no rows. Its exit status names the first check that failed.
int agent_child() {
    comm_anchor* p = init_probe();
    if (!p) return 10;
    p->parms[0] = "P1";
    p->parms[2] = "P3";
    std::vector<curs_list>* got = get_request(p, " CURA, CURB");
    if (!got) return 11;
    if (got->size() != 2) return 12;
    const curs_list& a = (*got)[0];
    const curs_list& b = (*got)[1];
    if (a.name != "CURA" || a.rows != 2 || a.len != 5) return 13;
    if (std::string(a.data.begin(), a.data.end()) != std::string("row1\0row2\0", 10)) return 14;
    if (b.name != "CURB" || b.rows != 1 || b.len != 3 || std::string(b.data.begin(), b.data.end()) != "xyz") return 15;
    p->parms[0] = "CHANGED";
    got = get_request(p, " CURA, CURB");
    if (!got || (*got)[0].rows != 0 || !(*got)[0].data.empty() || (*got)[1].rows != 0) return 16;
    term_comm(p);
    return 0;
}

TEST_F(PipeChannel, RoundTripWithForkedAgent) {
    wait_timeout = 3;
    comm_anchor* c = init_collector();
    ASSERT_NE(c, nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        comm_sleep = [](unsigned) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
        ::_exit(agent_child());
    }

    // Four requests: the first two answered with rows, the resent two
    // with none.
    std::vector<std::vector<std::string>> parms_seen;
    std::vector<std::string> names;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (names.size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::vector<curs_list>* blocks = get_request(c, nullptr);
        if (!blocks) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        curs_list& b = blocks->front();
        parms_seen.emplace_back(c->parms.begin(), c->parms.begin() + c->parm_count);
        names.push_back(b.name);
        if (names.size() <= 2) {
            std::tie(b.rows, b.len) = b.name == "CURA" ? std::pair{2, 5} : std::pair{1, 3};
            b.data = b.name == "CURA" ? Bytes{'r', 'o', 'w', '1', 0, 'r', 'o', 'w', '2', 0} : bytes("xyz");
        }
        ASSERT_EQ(put_request(c), nullptr) << c->error_text;
    }
    EXPECT_EQ(qvxtest::wait_child(pid, 5), 0) << "agent check that failed";
    EXPECT_EQ(names, (std::vector<std::string>{"CURA", "CURB", "CURA", "CURB"}));
    // Non-empty slots only, then the two closing zeros; the resent
    // requests still carry the first parameters.
    const std::vector<std::string> want{"P1", "P3", "", ""};
    ASSERT_EQ(parms_seen.size(), 4u);
    for (const auto& p : parms_seen) EXPECT_EQ(p, want);
    term_comm(c);
}

// ------------------------------------------------------------ dispatcher

// Calls that need no peer through the default channel, and the choice
// of channel.
TEST_F(PipeChannel, DispatcherWordsAndChannelChoice) {
    comm_anchor* c = qvxcomm("initc").anchor;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(qvxcomm("Get", c).blocks, nullptr);
    EXPECT_EQ(qvxcomm("shut", c).code, 0);
    EXPECT_EQ(qvxcomm("initsm").code, 0);
    EXPECT_EQ(qvxcomm("term", c).anchor, nullptr);

    EXPECT_TRUE(comm_uses_shm()) << "unset";
    for (const auto& [value, shm] : {std::pair{"1yes", true}, std::pair{"0", false}, std::pair{"no", false}}) {
        env.set("COLL_USESHM", value);
        EXPECT_EQ(comm_uses_shm(), shm) << value;
    }
}

TEST_F(PipeChannel, DispatcherReentryGuard) {
    // The call in progress finishes during the third second.
    qvxcomm_locked = 4;
    comm_sleep = [this](unsigned) {
        if (++sleeps == 3) qvxcomm_locked = 0;
    };
    std::string out = qvxtest::captured([&] {
        comm_anchor* c = qvxcomm("initc").anchor;
        EXPECT_NE(c, nullptr);
        EXPECT_EQ(qvxcomm_locked, 0);
        qvxcomm("term", c);
    });
    EXPECT_EQ(sleeps, 3);

    // A lock that never clears: 30 one-second waits, then the call runs.
    sleeps = 0;
    qvxcomm_locked = 4;
    comm_sleep = [this](unsigned s) { sleeps += static_cast<int>(s); };
    comm_anchor* c = nullptr;
    out = qvxtest::captured([&] { c = qvxcomm("initc").anchor; });
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(sleeps, 30);
    EXPECT_TRUE(qvxtest::has(out, "qvxcomm locked... entering wait (4,2)")) << out;
    EXPECT_TRUE(qvxtest::has(out, "qvxcomm locked... still waiting (29)")) << out;
    EXPECT_EQ(qvxcomm_locked, 0);

    // "shut" neither waits nor keeps the lock.
    sleeps = 0;
    qvxcomm_locked = 3;
    EXPECT_EQ(qvxcomm("shut", c).code, 0);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(qvxcomm_locked, 0);
    qvxcomm("term", c);
}

} // namespace
