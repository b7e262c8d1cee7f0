#include "channel/comm_shm.h"

#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "channel/serve_wait.h"
#include "runtime/settings.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using qvxtest::segment_exists;
using qvxtest::semset_exists;
using Bytes = std::vector<unsigned char>;

namespace {

int semval(int set, int sem) { return ::semctl(set, sem, GETVAL); }

std::string text_at(const unsigned char* base, size_t off, size_t width) {
    return std::string(reinterpret_cast<const char*>(base + off), width);
}

std::string padded(const std::string& s, size_t width) { return s + std::string(width - s.size(), '\0'); }

class ShmChannel : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.localtmpdir = dir.path();
        env_vars.serverid = "S" + std::to_string(::getpid());
        env_vars.db_type = "zeb";
        env_vars.hostname = "hst";
        env.unset("COLL_USESHM");
        wait_timeout = 2;
    }
    void TearDown() override {
        reset_shm_channel();
        qvxtest::reset_collector_state();
        expect_all_removed();
    }
    void expect_all_removed() {
        for (int id : segments) EXPECT_FALSE(segment_exists(id)) << "segment " << id << " left behind";
        for (int id : semsets) EXPECT_FALSE(semset_exists(id)) << "semaphore set " << id << " left behind";
    }
    // The collector end's read of the request segment, into the members.
    int get_request() { return shm_request_object()->GetRequest(name, got_id, got_params, got_text, 1); }
    // The agent end's read of the data segment, into the members.
    int get_data(const std::string& id) { return shm_data_object()->GetData(id, got_id, rows, len, data, 1); }

    // Establishes the channel and notes its objects for the leak check.
    void establish() {
        ASSERT_EQ(InitShare(env_vars.serverid), 0);
        note();
    }
    void note() {
        for (ShareCommObject* o : {shm_request_object(), shm_data_object()}) {
            ASSERT_NE(o, nullptr);
            segments.insert(o->ShmId());
            semsets.insert(o->SemId());
        }
    }
    unsigned char* req() { return shm_request_object()->Base(); }
    unsigned char* dat() { return shm_data_object()->Base(); }
    std::string id_path() { return shm_id_file_path(env_vars.serverid); }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
    std::set<int> segments;
    std::set<int> semsets;
    std::string name, got_id, got_text;
    std::vector<std::string> got_params;
    int32_t rows = 0, len = 0;
    Bytes data;
};

// ------------------------------------------------------------ layouts

TEST_F(ShmChannel, RequestSegmentLayout) {
    establish();
    shmid_ds ds{};
    ASSERT_EQ(::shmctl(shm_request_object()->ShmId(), IPC_STAT, &ds), 0);
    EXPECT_GE(ds.shm_segsz, 30892u);
    ASSERT_EQ(::shmctl(shm_data_object()->ShmId(), IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, 100000u);

    // Fresh objects: one attached process, time-out 45, sets at {1, 0}.
    EXPECT_EQ(shm_get32(req(), 0), 1);
    EXPECT_EQ(shm_get32(req(), 30880), 45);
    EXPECT_EQ(shm_get32(dat(), 0), 1);
    EXPECT_EQ(shm_get32(dat(), 12), 1);
    for (ShareCommObject* o : {shm_request_object(), shm_data_object()}) {
        EXPECT_EQ(semval(o->SemId(), 0), 1);
        EXPECT_EQ(semval(o->SemId(), 1), 0);
    }

    // 41 parameters, one of 25 characters; a name of 17.
    std::vector<std::string> params{"P0", std::string(25, 'x')};
    for (int i = 2; i < 41; ++i) params.push_back("p" + std::to_string(i));
    const std::string text = "DATA TEXT";
    std::string id;
    shm_put32(req(), 8, 77);
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(shm_request_object()->SendRequest("ABCDEFGHIJKLMNOPQ", params, id, &text, 1), 0);

    EXPECT_EQ(id.rfind("ABCDEFGHIJKLMNOPQ-", 0), 0u) << id;
    EXPECT_EQ(id.size(), 17u + 1 + 12 + 1 + 4) << id;
    EXPECT_EQ(text_at(req(), 12, 15), padded("ABCDEFGHIJKLMN", 15));
    EXPECT_EQ(text_at(req(), 27, 50), padded(id, 50));
    EXPECT_EQ(text_at(req(), 77, 20), padded("P0", 20));
    EXPECT_EQ(text_at(req(), 97, 20), padded(std::string(19, 'x'), 20)) << "cut to 19 characters";
    EXPECT_EQ(text_at(req(), 77 + 39 * 20, 20), padded("p39", 20)) << "the 40th slot is the last";
    EXPECT_EQ(text_at(req(), 877, 10), padded(text, 10));
    EXPECT_EQ(shm_get32(req(), 8), 0) << "cleared by the writer";
    EXPECT_GE(shm_get32(req(), 30884), before);
    EXPECT_EQ(semval(shm_request_object()->SemId(), 0), 0);
    EXPECT_EQ(semval(shm_request_object()->SemId(), 1), 1);

    // The collector end sees the same request and frees the segment.
    shm_put32(req(), 4, 5);
    ASSERT_EQ(get_request(), 0);
    EXPECT_EQ(name, "ABCDEFGHIJKLMN");
    EXPECT_EQ(got_id, id);
    EXPECT_EQ(got_text, text);
    ASSERT_EQ(got_params.size(), 40u);
    EXPECT_EQ(got_params[1], std::string(19, 'x'));
    EXPECT_EQ(got_params[39], "p39");
    EXPECT_EQ(shm_get32(req(), 4), 0) << "cleared by the reader";
    EXPECT_EQ(semval(shm_request_object()->SemId(), 0), 1);
    EXPECT_EQ(semval(shm_request_object()->SemId(), 1), 0);
}

TEST_F(ShmChannel, DataSegmentLayoutAndEmptyReply) {
    establish();
    ShareCommObject* d = shm_data_object();
    const Bytes sent{'a', 'b', 'c', 'd', 'e', 'f'};
    ASSERT_EQ(d->SendData("REQ-1", 2, 3, sent, 1), 0);
    EXPECT_EQ(shm_get32(dat(), 4), 0);
    EXPECT_EQ(shm_get32(dat(), 8), 0);
    EXPECT_EQ(shm_get32(dat(), 12), 0) << "reader not done yet";
    EXPECT_EQ(text_at(dat(), 16, 50), padded("REQ-1", 50));
    EXPECT_EQ(shm_get32(dat(), 68), 2);
    EXPECT_EQ(shm_get32(dat(), 72), 3);
    EXPECT_EQ(text_at(dat(), 76, 8), padded("abcdef", 8));
    EXPECT_NE(shm_get32(req(), 30888), -1) << "a reply is pending";

    ASSERT_EQ(get_data("REQ-1"), 0);
    EXPECT_EQ(std::tie(got_id, rows, len, data), std::make_tuple("REQ-1", 2, 3, sent));
    EXPECT_EQ(shm_get32(dat(), 12), 1);
    EXPECT_EQ(shm_get32(req(), 30888), -1);

    // No rows: rows 0, len as given, "NONE" on the wire, no data delivered.
    ASSERT_EQ(d->SendData("REQ-2", 0, 17, {}, 1), 0);
    EXPECT_EQ(shm_get32(dat(), 68), 0);
    EXPECT_EQ(shm_get32(dat(), 72), 17);
    EXPECT_EQ(text_at(dat(), 76, 6), padded("NONE", 6));
    ASSERT_EQ(get_data("REQ-2"), 0);
    EXPECT_EQ(std::tie(rows, len, data), std::make_tuple(0, 17, Bytes{}));
}

// -------------------------------------------------------------- id file

TEST_F(ShmChannel, IdFileCreatedThenAttachedByASecondProcess) {
    const std::string s = env_vars.serverid;
    EXPECT_EQ(id_path(), dir.path() + "/hst_eb_" + s + "_" + s + "_zeb_hst");
    EXPECT_EQ(shm_lock_file_path(s), id_path() + "-lk");
    establish();
    const int req_shm = shm_request_object()->ShmId();
    const int data_sem = shm_data_object()->SemId();
    const std::string ids = " " + std::to_string(req_shm) + " " + std::to_string(shm_request_object()->SemId()) +
                            " " + std::to_string(shm_data_object()->ShmId()) + " " + std::to_string(data_sem) + "\n";
    const std::string me = std::to_string(::getpid());
    EXPECT_EQ(qvxtest::read_file(id_path()), "-1 " + me + ids);
    EXPECT_EQ(qvxtest::read_file(id_path() + "-lk"), me + "\n");

    // A second process finds this one running and attaches.
    const pid_t pid = ::fork();
    if (pid == 0) {
        forget_shm_channel_after_fork();
        if (InitShare(s) != 0) ::_exit(1);
        if (shm_request_object()->ShmId() != req_shm || shm_data_object()->SemId() != data_sem) ::_exit(2);
        if (shm_get32(shm_request_object()->Base(), 0) != 2) ::_exit(3);
        const std::string want = me + " " + std::to_string(::getpid()) + ids;
        if (qvxtest::read_file(id_path()) != want) ::_exit(4);
        shut_comm();
        ::_exit(0);
    }
    EXPECT_EQ(qvxtest::wait_child(pid), 0);
    EXPECT_EQ(shm_get32(req(), 0), 1) << "the child detached";
    EXPECT_TRUE(segment_exists(req_shm)) << "not the last one out";
}

TEST_F(ShmChannel, StaleOrBrokenIdFilesAreReplaced) {
    // Objects of a dead owner (abandoned as a killed process leaves them).
    auto old_r = std::make_unique<ShareCommObject>(kShareRequest, reqseg::kSize);
    auto old_d = std::make_unique<ShareCommObject>(kShareData, dataseg::kSize);
    ASSERT_TRUE(old_r->IsGood() && old_d->IsGood());
    const std::vector<int> old_segs{old_r->ShmId(), old_d->ShmId()};
    const std::vector<int> old_sems{old_r->SemId(), old_d->SemId()};
    segments.insert(old_segs.begin(), old_segs.end());
    semsets.insert(old_sems.begin(), old_sems.end());
    old_r->Abandon();
    old_d->Abandon();
    old_r.reset();
    old_d.reset();
    const std::string dead = std::to_string(qvxtest::dead_pid());
    const std::string line = std::to_string(old_segs[0]) + " " + std::to_string(old_sems[0]) + " " +
                             std::to_string(old_segs[1]) + " " + std::to_string(old_sems[1]) + "\n";
    std::ofstream(id_path()) << "-1 " << dead << " " << line;

    establish();
    for (int id : old_segs) EXPECT_FALSE(segment_exists(id)) << "removed with ipcrm";
    for (int id : old_sems) EXPECT_FALSE(semset_exists(id));
    EXPECT_EQ(qvxtest::read_file(id_path()).rfind("-1 " + std::to_string(::getpid()) + " ", 0), 0u);

    // Garbage, empty, missing: new objects each time.
    const std::string me = std::to_string(::getpid());
    for (const std::string& content : {std::string("garbage"), std::string(), std::string("1 2 3"),
                                       me + " " + me + " 999999 999999 999999 999999\n", std::string("-")}) {
        const int before = shm_request_object()->ShmId();
        shut_comm();
        if (content == "-") ::unlink(id_path().c_str());
        else std::ofstream(id_path()) << content;
        establish();
        EXPECT_NE(shm_request_object()->ShmId(), before) << "id file '" << content << "'";
        EXPECT_EQ(qvxtest::read_file(id_path()).rfind("-1 " + me + " ", 0), 0u) << content;
    }
}

TEST_F(ShmChannel, SymlinkedLockFileIsRefused) {
    const std::string target = dir.write("target", "keep");
    ASSERT_EQ(::symlink(target.c_str(), (id_path() + "-lk").c_str()), 0);
    std::string out = qvxtest::captured([&] { EXPECT_EQ(InitShare(env_vars.serverid), -1); });
    EXPECT_TRUE(qvxtest::has(out, "Cannot open lock file: " + id_path() + "-lk")) << out;
    EXPECT_EQ(dir.read("target"), "keep");
    EXPECT_EQ(shm_request_object(), nullptr);

    // "initsm" that cannot establish ends the process with status 8.
    const pid_t pid = ::fork();
    if (pid == 0) {
        qvxtest::captured([] { qvxcomm("initsm"); });
        ::_exit(0);
    }
    EXPECT_EQ(qvxtest::wait_child(pid), 8);
}

// ------------------------------------------------------------ late rules

TEST_F(ShmChannel, LateRequestsAndStaleReplies) {
    establish();
    std::string id;
    ASSERT_EQ(shm_request_object()->SendRequest("CUR", {}, id, nullptr, 1), 0);
    shm_put32(req(), reqseg::kWriteTime, static_cast<int32_t>(std::time(nullptr) - 46));
    std::string out = qvxtest::captured([&] { EXPECT_EQ(get_request(), -1); });
    EXPECT_TRUE(qvxtest::has(out, "Request '" + id + "' received too late to process")) << out;
    EXPECT_EQ(semval(shm_request_object()->SemId(), 0), 1) << "the segment is free again";

    // A reply to a request that old is not sent.
    out = qvxtest::captured([&] { EXPECT_EQ(shm_data_object()->SendData(id, 1, 2, {'x', 'y'}, 1), 0); });
    EXPECT_TRUE(qvxtest::has(out, "Data for Request '" + id + "' are too late to send")) << out;
    EXPECT_EQ(semval(shm_data_object()->SemId(), 1), 0);

    // A reply unread for 31 seconds is cleaned by the next send ...
    shm_put32(req(), reqseg::kWriteTime, static_cast<int32_t>(std::time(nullptr)));
    ASSERT_EQ(shm_data_object()->SendData("OLD", 1, 1, {'o'}, 1), 0);
    shm_put32(req(), reqseg::kCheckTime, static_cast<int32_t>(std::time(nullptr) - 31));
    out = qvxtest::captured([&] { EXPECT_EQ(shm_data_object()->SendData("NEW", 1, 1, {'n'}, 1), 0); });
    EXPECT_TRUE(qvxtest::has(out, "Cleaning share memory, Data for cursor OLD is cleaned")) << out;
    EXPECT_EQ(text_at(dat(), 16, 4), padded("NEW", 4));

    // ... or by a check; a fresh one is left alone.
    EXPECT_EQ(shm_data_object()->Check(), 0);
    shm_put32(req(), reqseg::kCheckTime, static_cast<int32_t>(std::time(nullptr) - 31));
    EXPECT_EQ(shm_data_object()->Check(), 1);
    EXPECT_EQ(shm_get32(dat(), 12), 1);
    EXPECT_EQ(shm_get32(req(), reqseg::kCheckTime), -1);
    EXPECT_EQ(semval(shm_data_object()->SemId(), 0), 1);
    EXPECT_EQ(semval(shm_data_object()->SemId(), 1), 0);
}

// ------------------------------------------------------------ bad input

TEST_F(ShmChannel, GarbageInTheSegments) {
    establish();
    comm_anchor* c = qvxcomm2("initc").anchor;
    ASSERT_NE(c, nullptr);
    // Every text field without a terminator, then 'filled' posted by hand.
    std::memset(req() + 4, 0xAB, reqseg::kTimeout - 4);
    shm_put32(req(), reqseg::kTimeout, -7);
    shm_put32(req(), reqseg::kWriteTime, static_cast<int32_t>(std::time(nullptr)));
    ASSERT_EQ(shm_request_object()->SemOp(kSemAvailable, -1, 0), 0);
    ASSERT_EQ(shm_request_object()->SemOp(kSemFilled, 1, 0), 0);
    std::vector<curs_list>* blocks = qvxcomm2("get", c).blocks;
    ASSERT_NE(blocks, nullptr) << c->error_text;
    EXPECT_EQ(blocks->front().name, std::string(8, '\xAB'));
    EXPECT_EQ(c->request_id, std::string(49, '\xAB'));
    EXPECT_EQ(c->parm_count, kParmSlots);  // no room left for the two closing zeros
    EXPECT_EQ(c->parms[0], std::string(19, '\xAB'));
    qvxcomm2("term", c);

    // Replies with impossible sizes are dropped whole.
    for (auto [bad_rows, bad_len] : {std::pair{-5, 10}, std::pair{3, -1}, std::pair{0x7fffffff, 0x7fffffff}}) {
        shm_put32(dat(), dataseg::kRows, bad_rows);
        shm_put32(dat(), dataseg::kLen, bad_len);
        ASSERT_EQ(shm_data_object()->SemOp(kSemFilled, 1, 0), 0);
        qvxtest::captured([&] { EXPECT_EQ(get_data("X"), -1); });
        EXPECT_TRUE(data.empty());
        EXPECT_EQ(semval(shm_data_object()->SemId(), 1), 0);
    }
}

TEST_F(ShmChannel, AgentKilledHoldingTheRequestSemaphore) {
    establish();
    comm_anchor* p = qvxcomm2("init").anchor;
    ASSERT_NE(p, nullptr);
    wait_timeout = 1;
    const int set = shm_request_object()->SemId();
    // 'available' taken, 'filled' never posted.
    ASSERT_EQ(shm_request_object()->SemOp(kSemAvailable, -1, 0), 0);
    std::string out = qvxtest::captured([&] { EXPECT_EQ(qvxcomm2("get", p, "CURA").blocks, nullptr); });
    EXPECT_EQ(p->error_code, 20);
    EXPECT_EQ(p->error_text, "Share memory time out");
    EXPECT_TRUE(qvxtest::has(out, "SendRequest: share memory inconsistency occurs")) << out;
    EXPECT_EQ(semval(set, 1), 1) << "'filled' released to break the deadlock";

    // After 180 seconds without a good send the agent resets both sets first.
    ASSERT_EQ(::semctl(set, 1, SETVAL, 0), 0);
    last_succeed_sent_req_tm = std::time(nullptr) - 181;
    qvxcomm2("get", p, "CURB");
    EXPECT_EQ(p->error_code, 20) << "no collector answers";
    EXPECT_EQ(text_at(req(), 12, 5), padded("CURB", 5)) << "the request went out";
    EXPECT_EQ(semval(set, 1), 1);
    qvxcomm2("term", p);
}

TEST_F(ShmChannel, ObjectsRemovedUnderTheCollector) {
    establish();
    comm_anchor* c = qvxcomm2("initc").anchor;
    ASSERT_NE(c, nullptr);
    wait_timeout = 1;
    const int old_set = shm_request_object()->SemId();
    const int old_seg = shm_request_object()->ShmId();
    ASSERT_EQ(std::system(("ipcrm -s " + std::to_string(old_set)).c_str()), 0);

    qvxtest::captured([&] { EXPECT_EQ(get_request(), -1); });
    EXPECT_FALSE(shm_request_object()->IsGood());
    EXPECT_EQ(shm_wait_for_request(0.1), RequestWait::posted) << "the next get is to find out";

    // The next get builds the channel again and then serves normally.
    qvxtest::captured([&] { EXPECT_EQ(qvxcomm2("get", c).blocks, nullptr); });
    note();
    EXPECT_EQ(c->error_code, 20) << c->error_text;
    EXPECT_NE(shm_request_object()->SemId(), old_set);
    EXPECT_FALSE(segment_exists(old_seg));
    std::string sent;
    ASSERT_EQ(shm_request_object()->SendRequest("AGAIN", {"v"}, sent, nullptr, 1), 0);
    std::vector<curs_list>* blocks = qvxcomm2("get", c).blocks;
    ASSERT_NE(blocks, nullptr) << c->error_text;
    EXPECT_EQ(blocks->front().name, "AGAIN");
    EXPECT_EQ(c->request_id, sent);
    EXPECT_EQ(c->parms[0], "v");
    qvxcomm2("term", c);
}

// ------------------------------------------------------------ round trip

// The agent: one get naming two cursors, the big one in three chunks.
int agent_child(const Bytes& big) {
    forget_shm_channel_after_fork();
    comm_anchor* p = qvxcomm("init").anchor;
    if (!p) return 10;
    p->parms[0] = "P1";
    p->parms[3] = "P4";
    std::vector<curs_list>* got = qvxcomm("get", p, "BIG,EMPTY").blocks;
    if (!got || got->size() != 2) {
        std::fprintf(stderr, "agent: %d %s\n", p->error_code, p->error_text.c_str());
        return 11;
    }
    const curs_list& b = (*got)[0];
    if (b.name != "BIG" || b.rows != 1000 || b.len != 250) return 12;
    if (b.data != big) return 13;
    const curs_list& e = (*got)[1];
    if (e.name != "EMPTY" || e.rows != 0 || e.len != 8 || !e.data.empty()) return 14;
    qvxcomm("term", p);
    qvxcomm("shut");
    return 0;
}

TEST_F(ShmChannel, RoundTripWithForkedAgent) {
    Bytes big(250000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 % 251);
    wait_timeout = 10;
    qvxcomm("initsm");
    note();
    comm_anchor* c = qvxcomm("initc").anchor;
    ASSERT_NE(c, nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(agent_child(big));

    std::vector<std::string> names;
    std::vector<std::vector<std::string>> parms;
    for (int served = 0, passes = 0; served < 2 && passes < 20; ++passes) {
        if (!wait_for_request(c, 1.0)) continue;
        std::vector<curs_list>* blocks = qvxcomm("get", c).blocks;
        if (!blocks) continue;
        curs_list& b = blocks->front();
        names.push_back(b.name);
        parms.emplace_back(c->parms.begin(), c->parms.begin() + c->parm_count);
        if (b.name == "BIG") {
            b.rows = 1000;
            b.len = 250;
            b.data = big;
        } else {
            b.rows = 0;
            b.len = 8;
        }
        EXPECT_EQ(qvxcomm("put", c).blocks, nullptr);
        EXPECT_EQ(c->error_code, 0) << c->error_text;
        ++served;
    }
    EXPECT_EQ(qvxtest::wait_child(pid), 0) << "agent check that failed";
    EXPECT_EQ(names, (std::vector<std::string>{"BIG", "EMPTY"}));
    const std::vector<std::string> want{"P1", "P4", "", ""};
    for (const auto& p : parms) EXPECT_EQ(p, want);
    EXPECT_EQ(shm_get32(req(), 0), 1) << "the agent detached";

    // The last one out removes everything.
    qvxcomm("term", c);
    EXPECT_EQ(qvxcomm("shut").code, 0);
    EXPECT_EQ(shm_request_object(), nullptr);
    expect_all_removed();
}

TEST_F(ShmChannel, KilledPeerDoesNotKeepObjectsAlive) {
    establish();
    const pid_t pid = ::fork();
    if (pid == 0) {
        forget_shm_channel_after_fork();
        ::_exit(InitShare(env_vars.serverid) == 0 ? 0 : 1);  // leaves without detaching
    }
    ASSERT_EQ(qvxtest::wait_child(pid), 0);
    EXPECT_EQ(shm_get32(req(), 0), 2) << "its count stays";
    shut_comm();
    expect_all_removed();
}

// ------------------------------------------------------------ dispatcher

TEST_F(ShmChannel, DispatcherWordsAndReplyMatching) {
    std::string out = qvxtest::captured([&] { EXPECT_EQ(qvxcomm2("fetch").code, 0); });
    EXPECT_TRUE(qvxtest::has(out, "Invalid function code to QVXCOMM2: fetch")) << out;
    comm_anchor* c = qvxcomm("INITC").anchor;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->anchor_type, 'C');
    EXPECT_EQ(c->probe_pipe, "AGT");
    EXPECT_EQ(c->coll_pipe, "COL");
    c->anchor_type = 'x';
    EXPECT_EQ(qvxcomm("get", c).blocks, nullptr);
    EXPECT_EQ(c->error_code, 8);
    EXPECT_EQ(c->error_text, "Invalid IPC anchor for get request.");
    qvxcomm("term", c);

    // An agent that finds only someone else's reply goes on waiting and
    // then gives up.
    establish();
    wait_timeout = 1;
    ASSERT_EQ(shm_data_object()->SendData("OTHER-1", 1, 1, {'z'}, 1), 0);
    comm_anchor* p = qvxcomm("init").anchor;
    ASSERT_NE(p, nullptr);
    out = qvxtest::captured([&] { EXPECT_EQ(qvxcomm("get", p, "MINE").blocks, nullptr); });
    EXPECT_TRUE(qvxtest::has(out, "Get Data for OTHER-1, not for MINE-")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Continue waiting...")) << out;
    EXPECT_EQ(p->error_code, 20);
    EXPECT_EQ(p->request_id.rfind("MINE-", 0), 0u);
    qvxcomm("term", p);

    // The wait for a request does not take it.
    EXPECT_EQ(shm_wait_for_request(0.05), RequestWait::posted) << "MINE is still there";
    c = qvxcomm("initc").anchor;
    ASSERT_NE(qvxcomm("get", c).blocks, nullptr);
    EXPECT_EQ(c->c_list.front().name, "MINE");
    EXPECT_EQ(shm_wait_for_request(0.05), RequestWait::timeout);
    EXPECT_FALSE(wait_for_request(c, 0.05));
    qvxcomm("term", c);

    // Pipes chosen: the shared memory stays out of it.
    env.set("COLL_USESHM", "0");
    EXPECT_EQ(qvxcomm("shut").code, 0);
    EXPECT_NE(shm_request_object(), nullptr);
}

} // namespace
