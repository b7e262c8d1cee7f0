// The collector's request service end to end over the pipe channel: a
// forked agent asks, do_upa answers.
#include "channel/serve_requests.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

#include "channel/status_images.h"
#include "control/dictionary.h"
#include "control/distributor.h"
#include "pipeline/percent_cursor.h"
#include "db/server_status.h"
#include "pipeline/virtual_cursors.h"
#include "runtime/clock.h"
#include "collector/lifecycle.h"
#include "runtime/exit_path.h"
#include "runtime/signals.h"
#include "collector/schedule.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"
#include "unit/pipeline/row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::has;

namespace {

struct Reply {
    bool answered = false;
    int32_t rows = -1;
    int32_t len = -1;
    std::string data;
    int error = 0;
};

class RequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.localtmpdir = env_vars.tmpdir = dir.path();
        env_vars.coll_home = env_vars.coll_out = dir.path();
        env_vars.serverid = "R" + std::to_string(::getpid());
        env_vars.db_type = "qvx";
        env_vars.hostname = "host";
        env.set("COLL_USESHM", "0");
        env.set("WAIT_TIMEOUT", "5");
    }
    void TearDown() override { qvxtest::reset_collector_state(); }

    // The agent runs in a child: one request, the reply sent back through
    // a pipe. The collector serves passes until the child is done; the
    // results of the passes are kept.
    Reply ask(const std::string& name, const std::vector<std::string>& parms = {}) {
        int link[2];
        EXPECT_EQ(::pipe(link), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(link[0]);
            comm_anchor* a = qvxcomm("init").anchor;
            std::string out;
            int32_t head[3] = {-1, -1, 99};
            if (a) {
                for (size_t i = 0; i < parms.size() && i < a->parms.size(); ++i) a->parms[i] = parms[i];
                std::vector<curs_list>* got = qvxcomm("get", a, name.c_str()).blocks;
                head[2] = a->error_code;
                if (got && !got->empty()) {
                    head[0] = got->front().rows;
                    head[1] = got->front().len;
                    out.assign(got->front().data.begin(), got->front().data.end());
                }
                qvxcomm("term", a);
            }
            [[maybe_unused]] ssize_t n = ::write(link[1], head, sizeof head);
            n = ::write(link[1], out.data(), out.size());
            ::_exit(0);
        }
        ::close(link[1]);
        passes.clear();
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
            const int rc = do_upa();
            if (rc != kNoRequest) passes.push_back(rc);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Reply r;
        int32_t head[3];
        if (::read(link[0], head, sizeof head) == sizeof head) {
            r = {head[0] >= 0, head[0], head[1], "", head[2]};
            char buf[65536];
            for (ssize_t n; (n = ::read(link[0], buf, sizeof buf)) > 0;) r.data.append(buf, static_cast<size_t>(n));
        }
        ::close(link[0]);
        return r;
    }

    curs& filled(const std::string& name, const std::vector<Row>& rows) {
        Select s;
        s.item("T", 1, 4).item("N", 2, 6);
        curs& c = make_cursor(name, {"T", "INT!N"});
        c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        fetch(c, &s, rows);
        return c;
    }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
    std::vector<int> passes;
};

TEST_F(RequestsTest, StatusRequestsAnswerWithTheRecordImages) {
    filled("ONE", {Row{"ab", "12"}});
    filled("TWO", {Row{"cd", "3"}});
    for (const char* name : {"upa", "nupa"}) {
        auto d = std::make_unique<distrib>();
        d->distrib_name = name;
        distrib_anchor.push_back(std::move(d));
    }

    Reply c = ask("C-STATUS");
    ASSERT_TRUE(c.answered);
    EXPECT_EQ(std::tie(c.rows, c.len), std::make_tuple(2, 456));
    ASSERT_EQ(c.data.size(), 2u * 456u);
    const CursorImage second = cursor_image(*cur_anchor[1]);
    EXPECT_EQ(0, std::memcmp(c.data.data() + 456, second.data(), 456));
    EXPECT_EQ(passes, std::vector<int>{0});

    Reply d = ask("D-STATUS");
    ASSERT_TRUE(d.answered);
    EXPECT_EQ(std::tie(d.rows, d.len), std::make_tuple(2, 784));
    const DistribImage first = distrib_image(*distrib_anchor[0]);
    EXPECT_EQ(0, std::memcmp(d.data.data(), first.data(), 784));
}

TEST_F(RequestsTest, CursorRowsInTheSendLayoutAndFailuresAnswerEmpty) {
    curs& one = filled("ONE", {Row{"ab", "12"}, Row{"cdef", "-3"}});
    Reply r = ask("ONE");
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(std::tie(r.rows, r.len), std::make_tuple(2, one.row_size));
    ASSERT_EQ(r.data.size(), 2u * static_cast<size_t>(r.len));
    int32_t n = 0;
    std::memcpy(&n, r.data.data() + r.len + one.cols[1].row_offset, 4);
    EXPECT_EQ(n, -3);
    EXPECT_EQ(r.data.substr(0, 2), "ab");

    // Unknown cursor: an empty reply, the pass fails, the next one serves.
    Reply unknown = ask("NOSUCH");
    EXPECT_TRUE(unknown.answered || unknown.rows == 0);
    EXPECT_EQ(unknown.rows, 0);
    EXPECT_EQ(passes, std::vector<int>{-1});
    EXPECT_EQ(ask("ONE").rows, 2);

    // A window that has not started: no rows, and the pass is good.
    curs& later = filled("LATER", {Row{"z", "1"}});
    later.demand = 1;
    const long now = now_relative();
    later.window_start = static_cast<uint32_t>(now + 3600);
    later.window_end = static_cast<uint32_t>(now + 7200);
    EXPECT_EQ(ask("LATER").rows, 0);
    EXPECT_EQ(passes, std::vector<int>{0});
}

TEST_F(RequestsTest, ParametersReachThePercentParmColumns) {
    ASSERT_EQ(create_percent_cursor(), 0);
    auto parm = [](const char* name) {
        const columns* col = find_pcnt_col(name);
        return col && col->binding.value_ptr ? std::string(col->binding.value_ptr, static_cast<size_t>(col->length))
                                     : std::string("<unset>");
    };
    ask("C-STATUS", {"first", "second", "third", "fourth"});
    EXPECT_EQ(parm("%parm3"), "fourth");
    // One parameter: the first column takes it, the next two the empty
    // texts of the closing zeros, the fourth keeps its value.
    ask("C-STATUS", {"A"});
    EXPECT_EQ(parm("%parm0"), "A");
    EXPECT_EQ(parm("%parm1"), "");
    EXPECT_EQ(parm("%parm2"), "");
    EXPECT_EQ(parm("%parm3"), "fourth");

    // A cursor reading %parm0 sees the value of the latest request, in
    // the variable's width of 16 whatever the parameter's length.
    curs& c = make_cursor("P", {"%parm0"});
    fetch(c, nullptr, {Row{}});
    EXPECT_EQ(column_text(c, *c.rows.last(), "%parm0"), "A" + std::string(15, ' '));
    set_request_parms(std::vector<std::string>{"a parameter longer than 16"}, 1);
    fetch(c, nullptr, {Row{}});
    EXPECT_EQ(column_text(c, *c.rows.last(), "%parm0"), "a parameter long");
}

// A demand cursor collected for a request shows its parameter at the
// parameter's own length, longer or shorter than the variable's 16 and
// than the request before.
TEST_F(RequestsTest, DemandCursorRepliesWithTheParameterAtItsLength) {
    ASSERT_EQ(create_percent_cursor(), 0);
    curs& c = make_cursor("ECHO", {"%parm0"});
    c.demand = 1;
    c.no_sql = 1;
    c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
    for (const std::string parm : {"abc", "a parameter longer than sixteen", "x"}) {
        Reply r = ask("ECHO", {parm});
        ASSERT_TRUE(r.answered) << parm;
        EXPECT_EQ(std::tie(r.rows, r.len, r.data), std::make_tuple(1, static_cast<int32_t>(parm.size()), parm));
    }
    EXPECT_EQ(passes, (std::vector<int>{0}));
}

TEST_F(RequestsTest, RetraceAndShutdownAreAnsweredThenActedOn) {
    Reply r;
    std::string out = qvxtest::captured([&] { r = ask("RETRACE"); });
    EXPECT_TRUE(r.answered && r.rows == 0);
    EXPECT_TRUE(retrace_request);
    EXPECT_TRUE(has(out, "CIR1850I")) << out;
    EXPECT_TRUE(has(out, "Reseting trace.")) << out;
    EXPECT_FALSE(go_home);

    out = qvxtest::captured([&] { r = ask("SHUTDOWN"); });
    EXPECT_TRUE(r.answered && r.rows == 0);
    EXPECT_TRUE(go_home);
    EXPECT_TRUE(has(out, "SHUTDOWN request recieved.")) << out;
}

TEST_F(RequestsTest, NoRequestAndTracedPasses) {
    my_trace_all[0] = 1;
    int rc = 0;
    const std::string out = qvxtest::captured([&] { rc = do_upa(); });
    EXPECT_EQ(rc, kNoRequest);
    EXPECT_TRUE(upa_channel_open());
    EXPECT_TRUE(has(out, "Check UPA request queue...")) << out;
    EXPECT_TRUE(has(out, " No requests!")) << out;
    EXPECT_EQ(term_upa_channel(), 0);
    EXPECT_FALSE(upa_channel_open());
}

TEST_F(RequestsTest, VirtualCursorsShowDictionaryElements) {
    auto element = [](const char* name, int16_t type, int16_t len, std::optional<std::string> init) {
        auto e = std::make_unique<dict_element>();
        e->name = name;
        e->data_type = type;
        e->length = len;
        e->initial = std::move(init);
        dict_anchor.push_back(std::move(e));
    };
    element("SITE", 0, 8, "north");
    element("COUNT", 2, 6, "42");
    element("SQLRC", 0, 8, std::nullopt);
    curs& v = make_cursor("SERVSTAT", {"SITE", "COUNT", "SQLRC"});
    v.virtual_cur = 1;
    ASSERT_EQ(init_virtuals(), 0);
    EXPECT_EQ(v.demand, 1);
    EXPECT_EQ(v.rows.size(), 1);
    EXPECT_EQ(v.length, 9 + 7 + 9);
    EXPECT_EQ(column_text(v, *v.rows.first(), "SITE"), "north   ");
    EXPECT_EQ(column_text(v, *v.rows.first(), "COUNT"), "    42");
    ASSERT_NE(servstatus, nullptr);
    EXPECT_EQ(servstatus_len, 8);
    set_status(-1034);

    Reply r = ask("SERVSTAT");
    ASSERT_EQ(r.rows, 1);
    EXPECT_EQ(r.data.substr(0, 8), "north   ");
    EXPECT_NE(r.data.find("-1034"), std::string::npos);

    // A column without an element fails the start.
    curs& bad = make_cursor("V2", {"NOSUCH"});
    bad.virtual_cur = 1;
    const std::string out = qvxtest::captured([&] { EXPECT_EQ(init_virtuals(), 1); });
    EXPECT_TRUE(has(out, "Host var not matched: V2.NOSUCH (6)")) << out;
}

} // namespace
