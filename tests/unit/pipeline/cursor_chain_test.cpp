// Cursors run with other cursors, over a SQLite file: pre-cursors, the
// post-cursor list and iterated runs.
#include <gtest/gtest.h>

#include "control/cursor_lists_clause.h"
#include "control/distributor.h"
#include "db/database.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/cursor_run.h"
#include "pipeline/decode_eval.h"
#include "row_fixture.h"
#include "runtime/settings.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;
using Texts = std::vector<std::string>;

namespace {

const std::string kTime = "20240102030405";

// One column over the stored rows, without the blanks and zero bytes
// around each value.
Texts values(const curs& c, const std::string& col) {
    Texts out;
    const std::string pad(" \0", 2);
    for (const std::string& v : column_values(c, col)) {
        const size_t first = v.find_first_not_of(pad);
        out.push_back(first == std::string::npos ? "" : v.substr(first, v.find_last_not_of(pad) - first + 1));
    }
    return out;
}

// Table t (k, name) holds (1, one), (2, two), (3, three).
class ChainTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        env_.unset("COLL_CONNECT");
        env_vars.coll_home = dir_.path();
        env_vars.serverid = "DEMO";
        collector.distrib_name = "collector";
        collector.type = 1;
        collector_at = &collector;
        qvxtest::sqlite(dir_.file("DEMO.db"), "CREATE TABLE t(k INTEGER, name VARCHAR(6));"
                                              "INSERT INTO t VALUES (1,'one'),(2,'two'),(3,'three');");
    }
    void TearDown() override {
        collector_at = nullptr;
        reset_database();
    }

    curs& sql_cursor(const std::string& name, const std::vector<std::string>& cols, const std::string& sql) {
        curs& c = make_cursor(name, cols);
        c.sel_piece = sql;
        return c;
    }
    // A cursor without SQL whose one row reads another cursor's column.
    curs& reader(const std::string& name, curs& from, int16_t column) {
        curs& c = make_cursor(name, {from.cur_name + "." + from.cols[static_cast<size_t>(column)].name});
        c.no_sql = 1;
        c.cols[0].source = {&from, column};
        return c;
    }
    // Driving cursor D (aa, bb, cc) and C iterating over it, two rows a step.
    curs& iterated(curs*& d, const char* sql, const std::string& suffix = "") {
        Select dsel;
        dsel.item("DNAME", 1, 4);
        d = &make_cursor("D" + suffix, {"DNAME"});
        EXPECT_GT(fetch(*d, &dsel, {{"aa"}, {"bb"}, {"cc"}}), 0);
        curs& c = sql_cursor("C" + suffix, {"K", "D.DNAME"}, sql);
        c.cols[1].source = {d, 0};
        c.iterate.ensure().driver = d;
        return c;
    }

    qvxtest::ScopedEnv env_;
    qvxtest::TempDir dir_;
    distrib collector;
    std::string out;
};

} // namespace

TEST_F(ChainTest, PreCursorsRunFirstAndAFailureStopsTheRun) {
    curs& pre = sql_cursor("PRE", {"K"}, "select k as K from t");
    curs& bad = sql_cursor("BAD", {"K"}, "select k as K from missing_table");
    curs& c = sql_cursor("C", {"NAME"}, "select name as NAME from t");
    c.pre_cursor.ensure().entries = {{"PRE", &pre}};
    ASSERT_EQ(pre_prep_l_fetch(c, kTime), 0);
    EXPECT_EQ(pre.rows.size() + c.rows.size(), 6);
    c.pre_cursor->entries = {{"PRE", &pre}, {"BAD", &bad}};
    int rc = 0;
    captured([&] { rc = pre_prep_l_fetch(c, kTime); });
    EXPECT_NE(rc, 0);
    EXPECT_EQ(pre.rows.size(), 6);  // ran again
    EXPECT_EQ(c.sample_no, 1);      // not run
}

TEST_F(ChainTest, PostCursorsReadTheRowThatScheduledThemAndStopAtAFailure) {
    curs& a = sql_cursor("A", {"K"}, "select k as K from t order by k");
    curs& b = reader("B", a, 0);
    curs& bad = sql_cursor("BAD", {"K"}, "select k as K from missing_table");
    a.post_cursors = {{&b, 3}, {&b, 1}, {&b, 9}};  // no row 9: the newest is read
    ASSERT_EQ(pre_prep_l_fetch(a, kTime), 0);
    EXPECT_EQ(values(b, "A.K"), (Texts{"3", "1", "3"}));
    EXPECT_EQ(a.reading_row, nullptr);

    // The same failure breaks the cursor's own list and a pre-cursor's.
    curs& c = sql_cursor("C", {"K"}, "select k as K from t");
    for (auto [run, id] : {std::pair{&a, "PFE3200E"}, {&c, "CFE3195E"}}) {
        c.pre_cursor.ensure().entries = {{"A", &a}};
        a.post_cursors = {{&bad, 1}, {&b, 2}};
        int rc = -1;
        out = captured([&] { rc = pre_prep_l_fetch(*run, kTime); });
        EXPECT_EQ(rc, 0);
        EXPECT_TRUE(has(out, id)) << out;
        EXPECT_EQ(b.rows.size(), 3);
        EXPECT_TRUE(a.post_cursors.empty());
    }
}

TEST_F(ChainTest, DecodesScheduleEachRowOnceAndCursorsRunningEachOtherEnd) {
    curs& a = sql_cursor("A", {"K", "NAME", "J"}, "select k as K, name as NAME, k as J from t order by k");
    curs& b = reader("B", a, 0);
    curs& c = sql_cursor("C", {"K"}, "select k as K from t where k = 1");
    // Rows 2 and 3 match both tests on B, each still schedules B once.
    ASSERT_EQ(parse_decode(a, "K > 1 run B"), 0);
    ASSERT_EQ(parse_decode(a, "NAME ~= 'x' run B"), 0);
    ASSERT_EQ(parse_decode(a, "J = 3 run C"), 0);  // A runs C, C runs A
    ASSERT_EQ(parse_decode(c, "K = 1 run A"), 0);
    captured([] { ASSERT_EQ(edit_decode(), 0); });
    ASSERT_EQ(pre_prep_l_fetch(a, kTime), 0);
    EXPECT_EQ(values(b, "A.K"), (Texts{"1", "2", "3"}));
    EXPECT_EQ(a.sample_no + c.sample_no, 2);  // C's schedule of A was dropped
    // Started from C: A runs once, and what A schedules is dropped.
    ASSERT_EQ(pre_prep_l_fetch(c, kTime), 0);
    EXPECT_EQ(a.sample_no + c.sample_no, 4);
    EXPECT_EQ(b.rows.size(), 3);
    EXPECT_TRUE(a.post_cursors.empty() && c.post_cursors.empty());
}

TEST_F(ChainTest, IterationGivesOneSampleNumberedThroughout) {
    const std::pair<const char*, Texts> cases[] = {
        {nullptr, {"aa", "aa", "bb", "bb", "cc", "cc"}},
        {"DNAME ~= 'bb'", {"aa", "aa", "cc", "cc"}},
    };
    for (const auto& [where, names] : cases) {
        curs* d = nullptr;
        curs& c = iterated(d, "select k as K from t where k < 3 order by k", where ? "W" : "");
        if (where) {
            ASSERT_EQ(parse_iterate_where(c, where), 0);
            captured([] { ASSERT_EQ(edit_iterate_where(), 0); });
        }
        c.sample_no = 4;
        ASSERT_EQ(run_cursor(c, kTime), 0);
        EXPECT_EQ(values(c, "D.DNAME"), names);
        EXPECT_EQ(values(c, "K")[1], "2");
        int32_t n = 0;
        for (const row_data* r = c.rows.first(); r; r = r->next)
            EXPECT_TRUE(r->sample_no == 5 && r->row_no == ++n) << r->sample_no << " " << r->row_no;
        EXPECT_EQ(d->reading_row, nullptr);
    }
}

TEST_F(ChainTest, AnIterationStopsWhenAStepFailsOrEmptiesTheDriver) {
    curs* d = nullptr;
    curs& c = iterated(d, "select k as K from t where k = 1");
    ASSERT_EQ(parse_decode(c, "K = 1 , 'hold delete cursor D'"), 0);
    captured([] { ASSERT_EQ(edit_decode(), 0); });
    ASSERT_EQ(captured([&] { EXPECT_EQ(run_cursor(c, kTime), 0); }).find("Iteration broken"), std::string::npos);
    EXPECT_TRUE(d->rows.empty());
    EXPECT_EQ(values(c, "D.DNAME"), (Texts{"aa"}));

    curs& broken = make_cursor("E", {"K"});
    broken.sel_piece = "select k as K from missing_table";
    broken.iterate.ensure().driver = &c;
    int rc = 0;
    out = captured([&] { rc = run_cursor(broken, kTime); });
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(has(out, "Iteration broken for cursor C, cursor E rc=")) << out;
    EXPECT_EQ(c.reading_row, nullptr);
}

TEST_F(ChainTest, ChainNamesBindOrReport) {
    curs& a = make_cursor("A", {"K"});
    curs& b = make_cursor("B", {"OTHER"});
    const std::tuple<int (*)(curs&, std::string_view), int (*)(), const char*, const char*> cases[] = {
        {parse_pre_cursor, edit_pre_cursors, "B", ""},
        {parse_pre_cursor, edit_pre_cursors, "A", "PPR3115E"},
        {parse_pre_cursor, edit_pre_cursors, "NOPE", "Pre_cursor NOPE not found for cursor A"},
        {parse_iterate, edit_iterates, "B", ""},
        {parse_iterate, edit_iterates, "A", "Can't iterate yourself in cursor A"},
        {parse_iterate, edit_iterates, "NOPE", "Iterator NOPE not found for cursor A"},
    };
    for (const auto& [parse, edit, name, message] : cases) {
        a.pre_cursor.reset();
        a.iterate.reset();
        ASSERT_EQ(parse(a, name), 0);
        int rc = -1;
        out = captured([&, edit = edit] { rc = edit(); });
        EXPECT_EQ(rc, *message ? 1 : 0) << name;
        EXPECT_TRUE(has(out, message)) << out;
    }
    EXPECT_EQ(a.iterate->driver, nullptr);
    EXPECT_TRUE(has(captured([&] { EXPECT_EQ(parse_iterate(a, "B"), 1); }), "PIT3125E"));
    a.iterate->driver = &b;
    ASSERT_EQ(parse_iterate_where(a, "K = 1"), 0);  // K is not a column of B
    EXPECT_TRUE(has(captured([&] { EXPECT_EQ(parse_iterate_where(a, "K = 2"), 1); }), "PIT4475E"));
    out = captured([&] { EXPECT_EQ(edit_iterate_where(), 1); });
    EXPECT_TRUE(has(out, "PIT4485E") && has(out, "ITERATE_WHERE edits failed")) << out;
}
