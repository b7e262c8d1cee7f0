// Sample ageing and dummy rows: cursors read from a COLLECT.CTL and run
// against a SQLite file whose table changes between runs, so that the
// copies, the math and decodes over the target and the dummy rows are
// seen as a collection leaves them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/distributor.h"
#include "db/database.h"
#include "model/cursor_list.h"
#include "pipeline/age_to.h"
#include "pipeline/cursor_run.h"
#include "pipeline/dummy_rows.h"
#include "pipeline/edit_passes.h"
#include "pipeline/row_store.h"
#include "row_fixture.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using qvxtest::captured;
using qvxtest::has;
using Texts = std::vector<std::string>;

namespace {

// Source S over table t, its target OLD, and COLLECT.CTL text around them.
constexpr const char* kSource =
    "cursor S;\n"
    "  INSERT INTO qvx.t (n, up) VALUES (:N, :UP);\n"
    "  insert_select SELECT n AS N, n AS UP FROM t ORDER BY n;\n"
    "  age_to OLD;\n"
    "  trace;\n";
constexpr const char* kTarget =
    "cursor OLD;\n"
    "  INSERT INTO qvx.t (n) VALUES (:N);\n";

// Without the blanks around it and the zero bytes a text value ends with.
std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(std::string(" \0", 2)) - a + 1);
}

class AgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state_in(dir.path());
        env_vars.serverid = "DEMO";
        collector.distrib_name = "collector";
        collector.type = 1;
        collector_at = &collector;
        sql("CREATE TABLE t (n INTEGER, name TEXT);");
    }
    void TearDown() override {
        collector_at = nullptr;
        reset_database();
        qvxtest::reset_collector_state();
    }

    void sql(const std::string& text) { qvxtest::sqlite(dir.file("DEMO.db"), text); }
    void table(const std::vector<int>& values) {
        std::string text = "DELETE FROM t;";
        for (int v : values) text += "INSERT INTO t VALUES (" + std::to_string(v) + ", 'x');";
        sql(text);
    }

    // Reads the COLLECT.CTL and runs the edit passes; their result.
    int load(const std::string& text) {
        dir.write("qvxcoll.ctl", text + "end;\n");
        return said([] { return load_cursors(); });
    }
    // One run of the cursor over the table's current rows.
    int run(const char* name, const std::vector<int>& values) {
        table(values);
        return said([&] { return run_cursor(*find_cursor(name), "20240102030405"); });
    }
    // What fn wrote, to the standard streams and to the message output.
    int said(const std::function<int()>& fn) {
        close_PRINT();
        int rc = -1;
        out = captured([&] { rc = fn(); });
        if (print_file_open()) out += qvxtest::read_file(print_file_path());
        return rc;
    }
    Texts values(const char* cursor, const char* column) {
        Texts v;
        for (const std::string& s : rowtest::column_values(*find_cursor(cursor), column)) v.push_back(trimmed(s));
        return v;
    }

    qvxtest::TempDir dir;
    distrib collector;
    std::string out;
};

TEST_F(AgeTest, TheTargetShowsThePreviousSample) {
    // The target shares the first sample, then trails by one run; a fetch
    // without rows changes neither (a first one leaves the first copy
    // due). The same with `empty`, which the copy does instead of the run.
    const struct {
        std::vector<int> table;
        Texts source, target;
        const char* trace;  // what the copy says
    } steps[] = {
        {{1, 2}, {"1", "2"}, {"1", "2"}, "PostCopying 2 records from S to OLD"},
        {{3}, {"3"}, {"1", "2"}, "Skipping Copying"},
        {{}, {"3"}, {"1", "2"}, ""},
        {{4, 5, 6}, {"4", "5", "6"}, {"3"}, "PreCopying 1 records from S to OLD"},
    };
    for (const char* option : {"", "  empty;\n"}) {
        ASSERT_EQ(load(std::string(kSource) + option + kTarget), 0) << out;
        EXPECT_FALSE(has(out, "not applied")) << out;
        if (*option) {
            ASSERT_EQ(run("S", {}), 0);
        }
        for (const auto& st : steps) {
            ASSERT_EQ(run("S", st.table), 0) << out;
            EXPECT_EQ(values("S", "N"), st.source) << option << st.table.size();
            EXPECT_EQ(values("OLD", "N"), st.target) << option << st.table.size();
            EXPECT_TRUE(has(out, st.trace)) << out;
        }
        const curs& old = *find_cursor("OLD");
        EXPECT_EQ(old.rows.last()->sample_no, old.sample_no);  // its rows are its current sample
        EXPECT_EQ(old.sample_no, *option ? 3 : 2);             // the run that fetched 3
    }
}

TEST_F(AgeTest, AnIteratedSourceHandsOverWholeRuns) {
    // One collection per row of D (two rows): every run is one sample.
    ASSERT_EQ(load(std::string(kSource) + "  iterate D;\n" + kTarget +
                   "cursor D;\n  INSERT INTO qvx.t (n) VALUES (:N);\n  insert_select SELECT n AS N FROM t;\n"),
              0)
        << out;
    ASSERT_EQ(run("D", {5, 6}), 0);
    ASSERT_EQ(run("S", {1}), 0);
    EXPECT_EQ(values("OLD", "N"), (Texts{"1", "1"}));
    ASSERT_EQ(run("S", {2}), 0);
    EXPECT_EQ(values("S", "N"), (Texts{"2", "2"}));
    EXPECT_EQ(values("OLD", "N"), (Texts{"1", "1"}));
}

TEST_F(AgeTest, RowsSharedAfterTheFirstCopyAreFreedOnce) {
    // Run under ASan too: a row freed by one side while the other still
    // shows it, or freed by both, is caught there.
    for (const bool trim : {true, false}) {
        ASSERT_EQ(load(std::string(kSource) + kTarget), 0) << out;
        curs* s = find_cursor("S");
        const curs& old = *find_cursor("OLD");
        ASSERT_EQ(run("S", {7}), 0);
        EXPECT_EQ(old.rows.first(), s->rows.first());  // one chain, seen by both
        if (trim) {
            // The source's trim before its next fetch leaves the target copies.
            s->time_limit = 1;
            ASSERT_EQ(run("S", {}), 0);
            EXPECT_EQ(s->rows.size(), 0);
        } else {
            // Deleting the source leaves the rows to the target.
            std::erase_if(cur_anchor, [&](const auto& p) { return p.get() == s; });
        }
        EXPECT_EQ(values("OLD", "N"), Texts{"7"}) << trim;
    }
}

TEST_F(AgeTest, MathAndDecodesOverTheTargetWaitForTheFirstCopy) {
    // R: change since the previous sample (the initial value until the
    // target holds one); UP becomes 1 when N grew, and keeps N before.
    std::string text = kSource;
    text.replace(text.find("(n, up) VALUES (:N, :UP)"), 24, "(n, up, r) VALUES (:N, :UP, :R)");
    text = text +
                             "  math initial 7 decimal 0 R N - OLD.N;\n"
                             "  decode UP > OLD.N , 1;\n" +
                             kTarget;
    ASSERT_EQ(load(text), 0) << out;
    EXPECT_TRUE(has(out, "Age_to editing successful")) << out;
    const struct {
        int n;
        const char *r, *up;
    } steps[] = {{5, "7", "5"}, {9, "4", "1"}, {3, "-6", "3"}};
    for (const auto& st : steps) {
        ASSERT_EQ(run("S", {st.n}), 0) << out;
        EXPECT_EQ(values("S", "R"), Texts{st.r}) << st.n;
        EXPECT_EQ(values("S", "UP"), Texts{st.up}) << st.n;
    }
    // The target has the source's columns but none of its math or
    // decodes, and is never run itself.
    const curs& old = *find_cursor("OLD");
    EXPECT_TRUE(!old.math && !old.decode && old.is_age_copy && old.demand);
    EXPECT_EQ(old.cols.size(), 3u);
    EXPECT_EQ(run("OLD", {1}), 0);
    EXPECT_EQ(values("OLD", "N"), Texts{"9"});
}

TEST_F(AgeTest, BindingErrors) {
    // Cursors S (the source, naming OLD), OLD, and a second source S2.
    const struct {
        const char* target;     // what S names
        bool source_virtual, target_virtual, second_source;
        const char* id;
        const char* message;
    } cases[] = {
        {"OLD", true, false, false, "PAG3680E", "Can't copy from a virtual table"},
        {"NONE", false, false, false, "PAG3690E", "Age-to Cursor (NONE) not found"},
        {"OLD", false, true, false, "PAG3675E", "Can't copy to virtual table"},
        {"OLD", false, false, true, "PAG3685E", "Duplicate attempts to 'age_to' the same cursor OLD"},
        {"S", false, false, false, "PAG3685E", "Duplicate attempts to 'age_to' the same cursor S"},
    };
    for (const auto& k : cases) {
        qvxtest::reset_collector_state();
        curs& s = rowtest::make_cursor("S", {"N"});
        s.age_to = k.target;
        s.virtual_cur = k.source_virtual;
        rowtest::make_cursor("OLD", {"N"}).virtual_cur = k.target_virtual;
        if (k.second_source) rowtest::make_cursor("S2", {"N"}).age_to = "OLD";
        int rc = -1;
        const std::string said = captured([&] { rc = edit_age_to(); });
        EXPECT_EQ(rc, 1) << k.message;
        EXPECT_TRUE(has(said, k.id) && has(said, k.message)) << said;
        EXPECT_TRUE(has(said, "PAG3700E") && has(said, "Age_to editing failed")) << said;
    }
}

TEST_F(AgeTest, DummyRows) {
    // A 5-byte text and a 4-byte number: "N/A", the rest blank, the
    // number's last byte '0'; the byte between the columns is blank.
    curs& c = rowtest::make_cursor("D", {"NAME", "N"});
    rowtest::Select sel;
    sel.item("NAME", 1, 5).item("N", 2, 4);
    ASSERT_EQ(setup_dummy(c, sel.d, RowOrigin::sql), 0);
    c.sample_no = 3;
    c.row_no = 2;
    build_dummy_last_row(c);
    ASSERT_EQ(c.rows.size(), 1);
    const row_data& r = *c.rows.last();
    EXPECT_EQ(std::string(r.text(), r.size), "N/A      0");
    EXPECT_EQ(std::tie(r.sample_no, r.row_no, r.len), std::make_tuple(3, 3, 10u));
    EXPECT_EQ(c.bound, 0);  // the first fetched row binds the cursor

    // The options after a fetch of the table's rows: rows stored, and
    // whether the newest is the dummy.
    const struct {
        const char* option;
        std::vector<int> table;
        int rows;
        bool dummy_last;
    } cases[] = {
        {"dummy_last_row", {}, 1, true},
        {"dummy_last_row", {4, 5}, 3, true},
        {"conditional_dummy_last_row", {}, 1, true},
        {"conditional_dummy_last_row", {4, 5}, 2, false},
    };
    for (const auto& k : cases) {
        ASSERT_EQ(load(std::string("cursor S;\n  INSERT INTO qvx.t (n, name) VALUES (:N, :NAME);\n"
                                   "  insert_select SELECT n AS N, name AS NAME FROM t;\n  samples 1;\n  ") +
                       k.option + ";\n"),
                  0)
            << out;
        ASSERT_EQ(run("S", k.table), 0) << out;
        const curs& s = *find_cursor("S");
        EXPECT_EQ(s.rows.size(), k.rows) << k.option;
        EXPECT_EQ(s.rows.last()->len != 0, k.dummy_last) << k.option;
        EXPECT_EQ(trimmed(rowtest::column_text(s, *s.rows.last(), "NAME")), k.dummy_last ? "N/A" : "x");
        EXPECT_EQ(rowtest::column_text(s, *s.rows.last(), "N").back(), k.dummy_last ? '0' : '5');
    }
}

TEST_F(AgeTest, DummyLayoutFailures) {
    const struct {
        const char* word;
        int16_t occurrence;
        RowOrigin origin;
        bool no_items;  // a fetch exit that delivered no column data
        const char *id, *text;
        bool holds;
    } cases[] = {
        {"%nosuch", 0, RowOrigin::sql, false, "PDU4520E", "Un-identified percent variable %nosuch", true},
        {"X", 3, RowOrigin::sql, false, "CDU4525E", "Occurance (3) exceeds sqlda limit (1)", false},
        {"X", 3, RowOrigin::fetch_exit, false, "CDU4540E", "Occurance (3) exceeds column limit (1)", false},
        {"MISSING", 0, RowOrigin::sql, false, "CDU4535E", "No sqlda entry found for D.MISSING (1)", false},
        {"MISSING", 0, RowOrigin::fetch_exit, false, "CDU4550E", "No database description found for MISSING", false},
        {"N", 0, RowOrigin::fetch_exit, true, "CDU4545E", "Name (N) not resolved no coldata for cursor D", true},
    };
    for (const auto& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = rowtest::make_cursor("D", {k.word});
        c.cols[0].occurrence = k.occurrence;
        rowtest::Select sel;
        if (!k.no_items) sel.item("N", 2, 4);
        int rc = -1;
        const std::string said = captured([&] { rc = setup_dummy(c, sel.d, k.origin); });
        EXPECT_EQ(rc, 1) << k.id;
        EXPECT_TRUE(has(said, k.id) && has(said, k.text)) << said;
        EXPECT_EQ(c.held == 'Y', k.holds) << k.id;
    }
}

} // namespace
