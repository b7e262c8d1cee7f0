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
    for (std::string v : column_values(c, col)) {
        const size_t first = v.find_first_not_of(std::string(" \0", 2));
        const size_t last = v.find_last_not_of(std::string(" \0", 2));
        out.push_back(first == std::string::npos ? "" : v.substr(first, last - first + 1));
    }
    return out;
}

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
        qvxtest::sqlite(dir_.file("DEMO.db"),
                        "CREATE TABLE t(k INTEGER, name VARCHAR(6));"
                        "INSERT INTO t VALUES (1,'one'),(2,'two'),(3,'three');");
    }
    void TearDown() override {
        collector_at = nullptr;
        reset_database();
    }

    // A cursor over sql with the given columns.
    curs& sql_cursor(const std::string& name, const std::vector<std::string>& cols, const std::string& sql) {
        curs& c = make_cursor(name, cols);
        c.sel_piece = sql;
        return c;
    }
    // A cursor without SQL whose one row reads the column of another cursor.
    curs& reader(const std::string& name, curs& from, int16_t column) {
        curs& c = make_cursor(name, {from.cur_name + "." + from.cols[static_cast<size_t>(column)].name});
        c.no_sql = 1;
        c.cols[0].source = {&from, column};
        return c;
    }

    qvxtest::ScopedEnv env_;
    qvxtest::TempDir dir_;
    distrib collector;
};

} // namespace

TEST_F(ChainTest, PreCursorsRunFirstAndAFailureStopsTheRun) {
    curs& pre = sql_cursor("PRE", {"K"}, "select k as K from t");
    curs& bad = sql_cursor("BAD", {"K"}, "select k as K from missing_table");
    curs& c = sql_cursor("C", {"NAME"}, "select name as NAME from t");
    c.pre_cursor.ensure().entries = {{"PRE", &pre}};
    ASSERT_EQ(pre_prep_l_fetch(c, kTime), 0);
    EXPECT_EQ(pre.rows.size(), 3);
    EXPECT_EQ(c.rows.size(), 3);

    c.pre_cursor->entries = {{"PRE", &pre}, {"BAD", &bad}};
    const int32_t sample = c.sample_no;
    int rc = 0;
    captured([&] { rc = pre_prep_l_fetch(c, kTime); });
    EXPECT_NE(rc, 0);
    EXPECT_EQ(pre.rows.size(), 6);    // ran again
    EXPECT_EQ(c.sample_no, sample);   // not run
    EXPECT_EQ(c.rows.size(), 3);
}

TEST_F(ChainTest, PostCursorsReadTheRowThatScheduledThem) {
    curs& a = sql_cursor("A", {"K"}, "select k as K from t order by k");
    curs& b = reader("B", a, 0);
    a.post_cursors = {{&b, 3}, {&b, 1}, {&b, 9}};  // 9: no such row, the newest is read
    ASSERT_EQ(pre_prep_l_fetch(a, kTime), 0);
    EXPECT_EQ(values(b, "A.K"), (Texts{"3", "1", "3"}));
    EXPECT_TRUE(a.post_cursors.empty());
    EXPECT_EQ(a.reading_row, nullptr);
}

TEST_F(ChainTest, AFailingPostCursorDropsTheRestOfTheList) {
    curs& a = sql_cursor("A", {"K"}, "select k as K from t");
    curs& bad = sql_cursor("BAD", {"K"}, "select k as K from missing_table");
    curs& b = reader("B", a, 0);
    a.post_cursors = {{&bad, 1}, {&b, 2}};
    int rc = -1;
    const std::string out = captured([&] { rc = pre_prep_l_fetch(a, kTime); });
    EXPECT_EQ(rc, 0);  // the cursor's own run succeeded
    EXPECT_TRUE(has(out, "PFE3200E")) << out;
    EXPECT_TRUE(b.rows.empty());
    EXPECT_TRUE(a.post_cursors.empty());

    // The same after a pre-cursor, with that list's own id.
    curs& c = sql_cursor("C", {"K"}, "select k as K from t");
    c.pre_cursor.ensure().entries = {{"A", &a}};
    a.post_cursors = {{&bad, 1}, {&b, 2}};
    const std::string pre_out = captured([&] { rc = pre_prep_l_fetch(c, kTime); });
    EXPECT_TRUE(has(pre_out, "CFE3195E")) << pre_out;
    EXPECT_TRUE(b.rows.empty());
    EXPECT_EQ(c.rows.size(), 3);
}

TEST_F(ChainTest, IterationGivesOneSampleNumberedThroughout) {
    Select dsel;
    dsel.item("DNAME", 1, 4);
    curs& d = make_cursor("D", {"DNAME"});
    ASSERT_GT(fetch(d, &dsel, {{"aa"}, {"bb"}, {"cc"}}), 0);
    curs& c = sql_cursor("C", {"K", "D.DNAME"}, "select k as K from t where k < 3 order by k");
    c.cols[1].source = {&d, 0};
    c.iterate.ensure().driver = &d;
    c.sample_no = 4;
    ASSERT_EQ(run_cursor(c, kTime), 0);
    ASSERT_EQ(c.rows.size(), 6);
    int32_t n = 0;
    for (const row_data* r = c.rows.first(); r; r = r->next) {
        EXPECT_EQ(r->sample_no, 5);
        EXPECT_EQ(r->row_no, ++n);
    }
    EXPECT_EQ(c.sample_no, 5);
    EXPECT_EQ(values(c, "D.DNAME"), (Texts{"aa", "aa", "bb", "bb", "cc", "cc"}));
    EXPECT_EQ(values(c, "K"), (Texts{"1", "2", "1", "2", "1", "2"}));
    EXPECT_EQ(d.reading_row, nullptr);
    EXPECT_FALSE(c.iterating);
}

TEST_F(ChainTest, ABrokenIterationReportsAndKeepsWhatRan) {
    Select dsel;
    dsel.item("DNAME", 1, 4);
    curs& d = make_cursor("D", {"DNAME"});
    ASSERT_GT(fetch(d, &dsel, {{"aa"}, {"bb"}}), 0);
    curs& c = sql_cursor("C", {"K"}, "select k as K from missing_table");
    c.iterate.ensure().driver = &d;
    int rc = 0;
    const std::string out = captured([&] { rc = run_cursor(c, kTime); });
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(has(out, "Iteration broken for cursor D, cursor C rc=")) << out;
    EXPECT_EQ(d.reading_row, nullptr);
}

TEST_F(ChainTest, DecodesScheduleEachRowOnceAndCursorsRunningEachOtherEnd) {
    curs& a = sql_cursor("A", {"K", "NAME", "J"}, "select k as K, name as NAME, k as J from t order by k");
    curs& b = reader("B", a, 0);
    // Rows 2 and 3 match the first test, every row the second: each row
    // still schedules B once.
    ASSERT_EQ(parse_decode(a, "K > 1 run B"), 0);
    ASSERT_EQ(parse_decode(a, "NAME ~= 'x' run B"), 0);
    // C and A run each other.
    curs& c = sql_cursor("C", {"K"}, "select k as K from t where k = 1");
    ASSERT_EQ(parse_decode(a, "J = 3 run C"), 0);
    ASSERT_EQ(parse_decode(c, "K = 1 run A"), 0);
    ASSERT_EQ(edit_decode(), 0);

    ASSERT_EQ(pre_prep_l_fetch(a, kTime), 0);
    EXPECT_EQ(values(b, "A.K"), (Texts{"1", "2", "3"}));
    EXPECT_EQ(a.sample_no, 1);  // C's schedule of A was dropped
    EXPECT_EQ(c.sample_no, 1);
    EXPECT_TRUE(a.post_cursors.empty());
    EXPECT_TRUE(c.post_cursors.empty());

    // Started from C, the loop ends the same way.
    ASSERT_EQ(pre_prep_l_fetch(c, kTime), 0);
    EXPECT_EQ(c.sample_no, 2);
    EXPECT_EQ(a.sample_no, 2);
    EXPECT_EQ(b.rows.size(), 3);  // A ran as C's post-cursor: its own schedule of B was dropped
}

TEST_F(ChainTest, IterateWhereSkipsDrivingRows) {
    Select dsel;
    dsel.item("DNAME", 1, 4);
    curs& d = make_cursor("D", {"DNAME"});
    ASSERT_GT(fetch(d, &dsel, {{"aa"}, {"bb"}, {"cc"}}), 0);
    curs& c = sql_cursor("C", {"K", "D.DNAME"}, "select k as K from t where k < 3 order by k");
    c.cols[1].source = {&d, 0};
    c.iterate.ensure().driver = &d;
    ASSERT_EQ(parse_iterate_where(c, "DNAME ~= 'bb'"), 0);
    ASSERT_EQ(edit_iterate_where(), 0);
    ASSERT_EQ(run_cursor(c, kTime), 0);
    EXPECT_EQ(values(c, "D.DNAME"), (Texts{"aa", "aa", "cc", "cc"}));
    int32_t n = 0;
    for (const row_data* r = c.rows.first(); r; r = r->next) EXPECT_EQ(r->row_no, ++n);
}

TEST_F(ChainTest, ChainNamesBindOrReport) {
    curs& a = make_cursor("A", {"K"});
    curs& b = make_cursor("B", {"K"});
    struct Case {
        const char* clause;  // "p" pre_cursor, "i" iterate
        const char* name;
        int rc;
        const char* message;
    };
    const Case cases[] = {
        {"p", "B", 0, ""},
        {"p", "A", 1, "PPR3115E"},
        {"p", "NOPE", 1, "Pre_cursor NOPE not found for cursor A"},
        {"i", "B", 0, ""},
        {"i", "A", 1, "Can't iterate yourself in cursor A"},
        {"i", "NOPE", 1, "Iterator NOPE not found for cursor A"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.clause) + " " + k.name);
        a.pre_cursor.reset();
        a.iterate.reset();
        int rc = -1;
        std::string out;
        if (*k.clause == 'p') {
            ASSERT_EQ(parse_pre_cursor(a, k.name), 0);
            out = captured([&] { rc = edit_pre_cursors(); });
            if (k.rc == 0) {
                EXPECT_EQ(a.pre_cursor->entries[0].cursor, &b);
            }
        } else {
            ASSERT_EQ(parse_iterate(a, k.name), 0);
            out = captured([&] { rc = edit_iterates(); });
            if (k.rc == 0) {
                EXPECT_EQ(a.iterate->driver, &b);
            }
        }
        EXPECT_EQ(rc, k.rc);
        EXPECT_TRUE(has(out, k.message)) << out;
    }
    // A second iterate or iterate_where on one cursor is refused as read.
    EXPECT_TRUE(has(captured([&] { EXPECT_EQ(parse_iterate(a, "B"), 1); }), "PIT3125E"));
    ASSERT_EQ(parse_iterate_where(a, "K = 1"), 0);
    EXPECT_TRUE(has(captured([&] { EXPECT_EQ(parse_iterate_where(a, "K = 2"), 1); }), "PIT4475E"));
    // Its column must be one of the driving cursor's.
    a.iterate_where.reset();
    a.iterate->driver = &b;
    b.cols[0].name = "OTHER";
    ASSERT_EQ(parse_iterate_where(a, "K = 1"), 0);
    const std::string out = captured([&] { EXPECT_EQ(edit_iterate_where(), 1); });
    EXPECT_TRUE(has(out, "PIT4485E")) << out;
    EXPECT_TRUE(has(out, "ITERATE_WHERE edits failed")) << out;
}
