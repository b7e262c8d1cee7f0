// Hold and release replacements: which cursors each option holds or
// releases, with which reason, and what is left to the collection loop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "control/decode_clause.h"
#include "pipeline/cursor_run.h"
#include "pipeline/decode_eval.h"
#include "row_fixture.h"
#include "runtime/run_requests.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

// Five cursors A to E in list order; the actions are C's.
class ActionTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        cursors.clear();
        out.clear();
        for (const char* name : {"A", "B", "C", "D", "E"}) {
            curs& c = make_cursor(name, {});
            c.held = 'N';
            qvxtest::give_rows(c, 2);
            cursors.push_back(&c);
        }
    }
    curs& at(char name) { return *cursors[static_cast<size_t>(name - 'A')]; }

    int act(char who, const std::string& text) {
        int rc = -1;
        out += captured([&] { rc = special_decode(at(who), text.data(), text.size()); });
        return rc;
    }
    // Per cursor A..E: '.' running, 'b' held for the below-reason, 'n'
    // for the named-reason, 'B' for both; lower-case 'x' after emptying.
    std::string states() {
        std::string s;
        for (curs* c : cursors) {
            char k = '.';
            if (c->held == 'Y') k = c->hold_reasons[0] && c->hold_reasons[1] ? 'B' : (c->hold_reasons[0] ? 'b' : 'n');
            if (c->held == 'Y' && !c->hold_reasons[0] && !c->hold_reasons[1]) k = '?';
            s += k;
            if (c->rows.empty()) s += 'x';
        }
        return s;
    }

    std::vector<curs*> cursors;
    std::string out;
};

TEST_F(ActionTest, HoldAndReleaseOptions) {
    const struct {
        std::vector<std::string> actions;  // all by C, in order
        std::string states;
    } cases[] = {
        {{"hold next"}, "...n."},
        {{"hold previous"}, ".n..."},
        {{"hold  me"}, "..n.."},
        {{"hold below"}, "...bb"},
        {{"hold cursor a E"}, "n...n"},
        {{"HOLD,NEXT,PREVIOUS"}, ".n.n."},
        {{"hold next", "release next"}, "....."},
        {{"hold previous", "release previous"}, "....."},
        {{"hold cursor a e", "release cursor e"}, "n...."},
        {{"hold below", "release below"}, "....."},
        // a cursor held for both reasons runs again only when both are gone
        {{"hold below next", "release next"}, "...bb"},
        {{"hold below next", "release below"}, "...n."},
        // delete empties the cursors of the options after it only
        {{"hold next delete previous"}, ".nx.n."},
        {{"hold delete below"}, "...bxbx"},
        // each option once
        {{"hold next next previous"}, ".n.n."},
    };
    for (const auto& k : cases) {
        SetUp();
        for (const std::string& a : k.actions) EXPECT_EQ(act('C', a), 1) << a;
        EXPECT_EQ(states(), k.states) << k.actions.back() << "\n" << out;
    }
}

TEST_F(ActionTest, OneBelowHoldAtATime) {
    ASSERT_EQ(act('D', "hold below"), 1);
    EXPECT_EQ(states(), "....b");
    // Another below-hold is ignored, and so is every option after it.
    ASSERT_EQ(act('B', "hold below previous"), 1);
    EXPECT_EQ(states(), "....b");
    ASSERT_EQ(act('B', "hold next"), 1);
    EXPECT_EQ(states(), "..n.b");
    // The below-hold is the collector's: any cursor's release ends it,
    // for the cursors below that one.
    ASSERT_EQ(act('B', "release below next"), 1);
    EXPECT_EQ(states(), ".....");
    // A release with no below-hold in force is ignored, with what follows.
    ASSERT_EQ(act('B', "hold next"), 1);
    ASSERT_EQ(act('B', "release below next"), 1);
    EXPECT_EQ(states(), "..n..");
    ASSERT_EQ(act('A', "hold below"), 1);
    EXPECT_EQ(states(), ".bBbb");
    EXPECT_TRUE(has(out, "Holding cursors below A due to decode")) << out;
}

TEST_F(ActionTest, PlainReplacementsAreNotActions) {
    for (const char* text : {"hold", "hold me", "holdnext", "next hold", "keep next cursor", "hold-next"})
        EXPECT_EQ(act('C', text), 0) << text;
    EXPECT_EQ(states(), ".....");
}

TEST_F(ActionTest, UnknownOptionsAreReportedAndSkipped) {
    EXPECT_EQ(act('C', "hold bogus next"), 1);
    EXPECT_TRUE(has(out, "Unknown hold option 1:bogus, cursor C")) << out;
    EXPECT_EQ(act('C', "release me next"), 1);
    EXPECT_TRUE(has(out, "Unknown release option:me, cursor C")) << out;
    EXPECT_EQ(act('C', "hold cursor nosuch b"), 1);
    EXPECT_TRUE(has(out, "Unknown hold option 2:nosuch, cursor C")) << out;
    EXPECT_EQ(states(), ".n...");
}

TEST_F(ActionTest, MessagesOnlyWhenEitherCursorIsTraced) {
    act('C', "hold next");
    EXPECT_FALSE(has(out, "Holding next cursor")) << out;
    at('D').trace = 1;
    act('C', "release next");
    EXPECT_TRUE(has(out, "Releasing next cursor (D) due to decode in C")) << out;
    at('D').trace = 0;
    at('C').trace = 1;
    act('C', "hold previous");
    EXPECT_TRUE(has(out, "Holding previous cursor (B) due to decode in C")) << out;
}

TEST_F(ActionTest, ResetdbAsksForARestart) {
    EXPECT_EQ(act('C', "release resetdb"), 1);
    EXPECT_EQ(db_logon_state, kLogonRenew);
    EXPECT_TRUE(restart_request);
    EXPECT_TRUE(has(out, "Reconnecting to database because of decode in cursor C")) << out;
}

// Through a row: an action leaves the value as it was.
TEST_F(ActionTest, ActionsLeaveTheValue) {
    Select sel;
    sel.item("V", 2, 4);
    curs& c = make_cursor("F", {"V"});
    ASSERT_EQ(parse_decode(c, "V > 5 , 'hold previous'"), 0);
    ASSERT_EQ(parse_decode(c, "V DEFAULT 'hold'"), 0);
    captured([] { EXPECT_EQ(edit_decode(), 0); });
    ASSERT_GT(fetch(c, &sel, {Row{"9"}, Row{"1"}}), 0);
    EXPECT_EQ(column_values(c, "V"), (std::vector<std::string>{"   9", "hold"}));
    EXPECT_EQ(states(), "....n");
}

} // namespace
