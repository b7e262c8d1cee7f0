#include "control/cursor.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/state.h"

using namespace qvx;

namespace {

class CursorColumnsTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state(); }
    void TearDown() override { qvxtest::reset_collector_state(); }

    // Adds the host variables (words after ":") to a fresh cursor.
    curs& with(std::initializer_list<const char*> words) {
        c = curs{};
        for (const char* w : words) EXPECT_EQ(add_column(w, c), 0) << w;
        return c;
    }
    curs c;
};

TEST_F(CursorColumnsTest, HostVariableGrammar) {
    struct Row {
        const char* word;
        const char* name;
        int samples;
        ColumnType type;
        ColumnFunction funct;
        int forced, qualified, has_funct, has_minmax;
    };
    const Row rows[] = {
        {"CPU", "CPU", 0, {}, {}, 0, 0, 0, 0},
        {"5AVG!CPU", "CPU", 5, {}, ColumnFunction::avg, 0, 0, 1, 0},
        {"INT!3SUM!X", "X", 3, ColumnType::integer, ColumnFunction::sum, 0, 0, 1, 0},
        {"ts!0min!T^16", "T", 1, ColumnType::timestamp, ColumnFunction::min, 16, 0, 1, 1},
        {"MAX!INT!X", "X", 0, ColumnType::integer, ColumnFunction::max, 0, 0, 1, 1},
        {"2FLOAT!WAVG!NS!7X", "X", 7, ColumnType::no_send, ColumnFunction::wavg, 0, 0, 1, 0},
        {"HW!X", "X", 0, {}, ColumnFunction::high_water, 0, 0, 0, 0},
        {"lw!float!X", "X", 0, ColumnType::floating, ColumnFunction::low_water, 0, 0, 0, 0},
        {"COUNT!x", "x", 0, {}, ColumnFunction::count, 0, 0, 1, 0},
        {"trend!x", "x", 0, {}, ColumnFunction::trend, 0, 0, 1, 0},
        // Mixed case is no prefix; only one function is taken.
        {"Avg!X", "Avg!X", 0, {}, {}, 0, 0, 0, 0},
        {"AVG!SUM!X", "SUM!X", 0, {}, ColumnFunction::avg, 0, 0, 1, 0},
        // "^" and digits end the name anywhere; "^" alone does not.
        {"CUR.COL^8", "CUR.COL", 0, {}, {}, 8, 1, 0, 0},
        {"A^12xyz", "A", 0, {}, {}, 12, 0, 0, 0},
        {"A^B", "A^B", 0, {}, {}, 0, 0, 0, 0},
        {"A.B(1)", "A.B(1)", 0, {}, {}, 0, 1, 0, 0},
    };
    for (const Row& r : rows) {
        curs& cur = with({r.word});
        ASSERT_EQ(cur.cols.size(), 1u) << r.word;
        const columns& col = cur.cols[0];
        EXPECT_EQ(col.name, r.name) << r.word;
        EXPECT_EQ(col.name_len, static_cast<int16_t>(col.name.size())) << r.word;
        EXPECT_EQ(std::make_tuple(int{col.samples}, col.decl_type, col.col_funct,
                                  int{col.forced_len}, int{col.qualified}, int{cur.has_col_funct},
                                  int{cur.has_minmax}),
                  std::make_tuple(r.samples, r.type, r.funct, r.forced, r.qualified, r.has_funct,
                                  r.has_minmax))
            << r.word;
    }
}

TEST_F(CursorColumnsTest, LongNameIsCutTo49WithWarning) {
    const std::string name(60, 'n');
    std::string out = qvxtest::captured([&] { EXPECT_EQ(add_column("AVG!" + name, c), 0); });
    EXPECT_TRUE(qvxtest::has(out, "PCC0025W")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Warning, truncating col_name " + name));
    ASSERT_EQ(c.cols.size(), 1u);
    EXPECT_EQ(c.cols[0].name, std::string(49, 'n'));
    EXPECT_EQ(c.cols[0].name_len, 49);
}

TEST_F(CursorColumnsTest, WordWithoutNameIsRefused) {
    for (const char* w : {"AVG!", "5", "INT!^4"}) {
        std::string out = qvxtest::captured([&] { EXPECT_EQ(add_column(w, c), 1) << w; });
        EXPECT_TRUE(qvxtest::has(out, "PCC0513E")) << w;
    }
    EXPECT_TRUE(c.cols.empty());
    EXPECT_EQ(c.hv_count, 0);
}

TEST_F(CursorColumnsTest, SelectLeavesOutPseudoColumnsAndRepeats) {
    curs& cur = with({"%ROWNO", "%now_time", "%sqlcode_x", "%SQLCODE_Y", "AVG!CPU", "CPU", "%MACHINE_ME",
                      "%execution_time", "%CURRENT_INTERVAL", "%me", "%NOW_SECS", "%sampleno",
                      "%machine", "MEM^10", "%Me", "SUM!MEM"});
    cur.table_name = "sys.perf";
    cur.insert_where = "x > 1";
    ASSERT_EQ(set_selects(cur), 0);
    // A mixed-case name is no pseudo-column.
    EXPECT_EQ(cur.sel_piece, "SELECT CPU,MEM,%Me FROM sys.perf WHERE x > 1");
}

// The VALUES list is the one closed by the last ")", whatever it nests.
TEST_F(CursorColumnsTest, CompactionRewritesTheLastList) {
    c.insert = "insert INTO t.x (A) VALUES (f(:X, 1))";
    c.hv_count = 1;
    EXPECT_EQ(compact_insert(c, c.insert->size()), 0);
    EXPECT_EQ(*c.insert, "insert INTO t.x (A) VALUES (?)");
    EXPECT_EQ(c.insert_col_names, std::vector<std::string>{"A"});

    c = curs{};
    c.insert = "insert INTO t.x (" + std::string(50, 'c') + ") VALUES (:X)";
    c.hv_count = 1;
    std::string out = qvxtest::captured([&] { EXPECT_EQ(compact_insert(c, c.insert->size()), 1); });
    EXPECT_TRUE(qvxtest::has(out, "PCC0507E")) << out;
}

} // namespace
