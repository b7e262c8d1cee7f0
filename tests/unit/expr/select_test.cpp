#include "expr/select.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "expr/lex_store.h"
#include "expr_fixture.h"
#include "model/cursor_list.h"

using namespace qvx;
using namespace exprtest;

namespace {

using Ids = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

// Monitor counters: group, field and value per row, oldest first.
const Rows kRows = {{"buffer_0", "bufgrab_1", "1"}, {"buffer_0", "bufgrab_2", "2"}, {"buffer_1", "bufgrab_1", "40"},
                    {"buffer_0", "bufwrite", "500"}, {"buffer_0", "bufgrab_3", "3"}};

class SelectTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        start_exec_sql(table);
    }
    void TearDown() override {
        if (exec_sql_started()) end_exec_sql(table);
        ExprTest::TearDown();
    }

    static curs& counters(const std::string& name, const Rows& rows) {
        curs& c = table_cursor(name, {{"GROUPNAME", 1, 20}, {"FLDNAME", 1, 20}, {"FLDVALUE", 2, 10}});
        for (const auto& r : rows) add_row(c, r);
        return c;
    }
    // The sum of FLDVALUE over the rows that pass.
    static int32_t sum_of(const Rows& rows, const std::function<bool(const std::vector<std::string>&)>& pass) {
        int32_t sum = 0;
        for (const auto& r : rows)
            if (pass(r)) sum += std::stoi(r[2]);
        return sum;
    }

    TermTable table;
};

TEST_F(SelectTest, SumOverTheRowsAWhereConditionPicks) {
    counters("SYSMON", kRows);
    const auto grab = [](const auto& r) { return r[1].rfind("bufgrab_", 0) == 0; };
    struct Case {
        const char* where;
        std::function<bool(const std::vector<std::string>&)> pass;
    } cases[] = {
        {nullptr, [](const auto&) { return true; }},
        {"GROUPNAME = 'buffer_0'", [](const auto& r) { return r[0] == "buffer_0"; }},
        {"GROUPNAME = 'buffer_0' AND FLDNAME LIKE 'bufgrab_%'", [&](const auto& r) { return r[0] == "buffer_0" && grab(r); }},
        {"FLDNAME LIKE 'bufgrab_%' AND FLDVALUE > 1", [&](const auto& r) { return grab(r) && std::stoi(r[2]) > 1; }},
        {"GROUPNAME = 'buffer_0' AND (FLDNAME LIKE 'bufgrab_%' OR FLDVALUE > 100) AND FLDVALUE ^= 2",
         [&](const auto& r) { return r[0] == "buffer_0" && (grab(r) || std::stoi(r[2]) > 100) && r[2] != "2"; }},
        {"FLDVALUE - 2 AND GROUPNAME = 'buffer_0'", [](const auto& r) { return r[0] == "buffer_0" && r[2] != "2"; }},
        {"FLDVALUE > 2 AND GROUPNAME = 'buffer_0' OR FLDVALUE = 1",
         [](const auto& r) { return (std::stoi(r[2]) > 2 && r[0] == "buffer_0") || r[2] == "1"; }},
    };
    for (const Case& k : cases) {
        int32_t sum = -1;
        EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, k.where, kTargetInt), 0);
        EXPECT_EQ(sum, sum_of(kRows, k.pass)) << (k.where ? k.where : "(none)");
    }
    EXPECT_TRUE(ids.empty());
}

// The terms of an AND are taken in order: after a false one the rest of
// the condition is not evaluated (nor can it fail).
TEST_F(SelectTest, AndStopsAtTheFirstFalseTerm) {
    counters("SYSMON", kRows);
    int32_t v = -1;
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &v, "GROUPNAME = 'buffer_1' AND FLDNAME > 5", kTargetInt), 100);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "SEL0320W"), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "SEL0050E"), 1);
    EXPECT_EQ(v, -1);
}

// Names without a cursor read the columns of the cursor selected from,
// whichever cursor the same text ran on before.
TEST_F(SelectTest, OneTextServesSeveralCursors) {
    counters("SYSMON", kRows);
    const Rows other = {{"buffer_0", "bufgrab_9", "1000"}, {"buffer_1", "bufgrab_9", "2000"}};
    counters("OTHER", other);
    curs& bare = table_cursor("BARE", {{"GROUPNAME", 1, 20}});
    add_row(bare, {"buffer_0"});
    const char* where = "GROUPNAME = 'buffer_0'";
    const auto in_group = [](const auto& r) { return r[0] == "buffer_0"; };
    int32_t sum = 0;
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, where, kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, in_group));
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "OTHER", &sum, where, kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(other, in_group));
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "BARE", &sum, where, kTargetInt), 1);
    EXPECT_TRUE(wrote("SEL0100E"));
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, where, kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, in_group));
}

// A select-list value that changes starts a group; every group is stored,
// so the target ends with the last group's value.
TEST_F(SelectTest, TheTargetEndsWithTheLastGroup) {
    counters("SYSMON", {{"a", "f", "5"}, {"a", "f", "5"}, {"a", "f", "7"}});
    counters("OTHER", {{"a", "f", "7"}, {"a", "f", "5"}, {"a", "f", "5"}});
    int32_t v = 0;
    EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &v, nullptr, kTargetInt), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(perform_select("FLDVALUE", "OTHER", &v, nullptr, kTargetInt), 0);
    EXPECT_EQ(v, 5);
    // Each group is stored: a first group whose value is no number fails
    // the select, though the last group's would do.
    counters("THIRD", {{"x", "f", "1"}, {"x", "f", "1"}, {"12", "f", "1"}});
    EXPECT_EQ(perform_select("GROUPNAME", "THIRD", &v, nullptr, kTargetInt), 1);
    EXPECT_EQ(ids, Ids{"SEL0630E"});
    ids.clear();
    // The first of two values is stored, with a warning.
    float f = 0;
    EXPECT_EQ(perform_select("SUM(FLDVALUE), GROUPNAME", "SYSMON", &f, nullptr, kTargetFloat), 0);
    EXPECT_EQ(f, 17.0f);
    EXPECT_EQ(ids, Ids{"SEL0610W"});
}

// Each kind of value into each target type.
TEST_F(SelectTest, TargetTypesConvertTheFirstValue) {
    counters("SYSMON", {{"12", "12.75", "42"}, {"-7.9", "abc", "9"}});
    struct Case {
        const char* list;
        const char* where;
        int type;
        int rc;
        double want;  // integer or float targets
        Ids messages;
    } cases[] = {
        {"FLDVALUE", "FLDVALUE = 42", kTargetInt, 0, 42, {}},
        {"FLDVALUE", "FLDVALUE = 42", kTargetFloat, 0, 42, {}},
        {"GROUPNAME", "FLDVALUE = 42", kTargetInt, 0, 12, {}},
        {"FLDNAME", "FLDVALUE = 42", kTargetInt, 0, 12, {}},      // by the double, truncated
        {"FLDNAME", "FLDVALUE = 42", kTargetFloat, 0, 12.75, {}},
        {"GROUPNAME", "FLDVALUE = 9", kTargetInt, 0, -7, {}},     // toward zero
        {"FLDVALUE / 4", "FLDVALUE = 42", kTargetInt, 0, 10, {}}, // 10.5
        {"FLDVALUE / 4", "FLDVALUE = 42", kTargetFloat, 0, 10.5, {}},
        {"FLDVALUE * 1000000000.5", "FLDVALUE = 42", kTargetInt, 0, INT32_MAX, {}},  // beyond 32 bits: the end
        {"0 - FLDVALUE * 1000000000.5", "FLDVALUE = 42", kTargetInt, 0, INT32_MIN, {}},
        {"FLDNAME", "FLDVALUE = 9", kTargetInt, 1, -1, {"SEL0630E"}},
        {"FLDNAME", "FLDVALUE = 9", kTargetFloat, 1, -1, {"SEL0650E"}},
        {"FLDVALUE", nullptr, kTargetIgnore4, 0, -1, {}},
        {"FLDVALUE", nullptr, kTargetIgnore5, 0, -1, {}},
        {"FLDVALUE", nullptr, 6, 1, -1, {"SEL0670E"}},
    };
    for (const Case& k : cases) {
        ids.clear();
        int32_t i = -1;
        float f = -1;
        void* target = k.type == kTargetFloat ? static_cast<void*>(&f) : static_cast<void*>(&i);
        EXPECT_EQ(perform_select(k.list, "SYSMON", target, k.where, k.type), k.rc) << k.list;
        EXPECT_EQ(k.type == kTargetFloat ? f : i, k.type == kTargetFloat ? static_cast<float>(k.want) : static_cast<int32_t>(k.want)) << k.list;
        EXPECT_EQ(ids, k.messages) << k.list << " type " << k.type;
    }
    const char* text = nullptr;
    EXPECT_EQ(perform_select("FLDNAME", "SYSMON", &text, "FLDVALUE = 9", kTargetText), 0);
    EXPECT_STREQ(text, "abc");
}

TEST_F(SelectTest, NoRowAndFailureAnswers) {
    table_cursor("EMPTY", {{"FLDVALUE", 2, 10}});
    counters("SYSMON", kRows);
    int32_t v = -1;
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "EMPTY", &v, nullptr, kTargetInt), 100);
    EXPECT_EQ(ids, Ids{"SEL0010W"});
    ids.clear();
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &v, "GROUPNAME = 'none'", kTargetInt), 100);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "NOSUCH", &v, nullptr, kTargetInt), 1);
    EXPECT_EQ(ids, Ids{"SEL0290E"});
    // A condition that gives no number skips every row.
    ids.clear();
    // (A vector: its ROW leaves a group status but no result to store.)
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &v, "ROW(FLDNAME, rfa)", kTargetInt), 1);
    ASSERT_EQ(ids.size(), 2 * kRows.size() + 1);
    EXPECT_EQ(ids[0], "SEL0060E");
    EXPECT_EQ(ids[1], "SEL0320W");
    EXPECT_EQ(ids.back(), "SEL0600E");
    ids.clear();
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &v, "GROUPNAME", kTargetInt), 100);
    ASSERT_EQ(ids.size(), 2 * kRows.size());
    EXPECT_EQ(ids[0], "SEL0050E");
    // A store that fails at a group change ends the select with the walk
    // closed: the columns read the newest row again.
    ids.clear();
    EXPECT_EQ(perform_select("GROUPNAME", "SYSMON", &v, nullptr, kTargetInt), 1);
    EXPECT_EQ(ids, Ids{"SEL0630E"});
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &v, kTargetInt, nullptr, nullptr), 0);
    EXPECT_EQ(v, std::stoi(kRows.back()[2]));
}

// A column read into a named variable, then compared in a condition.
TEST_F(SelectTest, ColumnIntoAVariableThatAConditionNames) {
    counters("SYSMON", kRows);
    curs& config = table_cursor("CONFIG", {{"GROUPNAME", 1, 20}});
    add_row(config, {"buffer_0"});
    add_row(config, {"buffer_1"});
    Term* cache = nullptr;
    const char* name = nullptr;
    ASSERT_EQ(select_column("GROUPNAME", "CONFIG", &name, kTargetText, "buffer_name", &cache), 0);
    EXPECT_STREQ(name, "buffer_1");
    ASSERT_NE(cache, nullptr);
    int32_t sum = 0;
    const char* where = "GROUPNAME = buffer_name";
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, where, kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, [](const auto& r) { return r[0] == "buffer_1"; }));
    add_row(config, {"buffer_0"});
    Term* const first = cache;
    ASSERT_EQ(select_column("GROUPNAME", "CONFIG", &name, kTargetText, "buffer_name", &cache), 0);
    EXPECT_EQ(cache, first);
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, where, kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, [](const auto& r) { return r[0] == "buffer_0"; }));
    EXPECT_TRUE(ids.empty());
}

// A cached column stands while the cursor's version was chosen before the
// last tune-up; after it, the column is looked up again.
TEST_F(SelectTest, CachedColumnIsLookedUpAgainAfterAVersionChange) {
    curs& c = counters("SYSMON", kRows);
    Term* cache = nullptr;
    int32_t v = 0;
    ASSERT_EQ(select_column("FLDVALUE", "SYSMON", &v, kTargetInt, "value", &cache), 0);
    last_version_update_time = "20261207100000";
    c.vers_time = "20261207090000";
    c.cols[2].name = "RENAMED";
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &v, kTargetInt, "value", &cache), 0);
    EXPECT_EQ(v, 3);
    c.vers_time = last_version_update_time;
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &v, kTargetInt, "value", &cache), 1);
    EXPECT_EQ(ids, Ids{"SEL0830E"});
    // A broken cached term (seen with the expression debug switch on) is
    // set aside for the variable's own term.
    ids.clear();
    c.cols[2].name = "FLDVALUE";
    Term broken;
    broken.tag = 7;
    Term* bad = &broken;
    my_trace_all[8] = 1;
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &v, kTargetInt, "value", &bad), 0);
    my_trace_all[8] = 0;
    EXPECT_EQ(bad, cache);
    EXPECT_EQ(ids, (Ids{"TRM0200E", "SEL0815W"}));
}

TEST_F(SelectTest, ColumnReadsWithoutAVariable) {
    counters("SYSMON", {{"g", "f", "  17"}});
    int32_t i = 0;
    float f = 0;
    const char* text = nullptr;
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &i, kTargetInt, nullptr, nullptr), 0);
    EXPECT_EQ(select_column("FLDVALUE", "SYSMON", &f, kTargetFloat, nullptr, nullptr), 0);
    EXPECT_EQ(i, 17);
    EXPECT_EQ(f, 17.0f);
    EXPECT_EQ(select_column("FLDNAME", "SYSMON", &text, kTargetText, nullptr, nullptr), 1);
    EXPECT_EQ(select_column("FLDNAME", "SYSMON", &i, 4, nullptr, nullptr), 1);
    EXPECT_EQ(select_column("NOSUCH", "SYSMON", &i, kTargetInt, nullptr, nullptr), 1);
    EXPECT_EQ(select_column("FLDNAME", "NOSUCH", &i, kTargetInt, nullptr, nullptr), 1);
    EXPECT_EQ(select_column("FLDNAME", "SYSMON", &i, 4, "v", nullptr), 1);
    EXPECT_EQ(ids, (Ids{"SEL0860E", "SEL0870E", "SEL0850E", "SEL0810E", "SEL0825E"}));
}

// Caller values in conditions, by type.
TEST_F(SelectTest, DeclaredValuesTakePartInConditions) {
    counters("SYSMON", kRows);
    const int32_t limit = 2;
    const float bound = 2.5f;
    const char* group = "buffer_1";
    ASSERT_EQ(declare_C_var("limit", kTargetInt, &limit), 0);
    ASSERT_EQ(declare_C_var("bound", kTargetFloat, &bound), 0);
    ASSERT_EQ(declare_C_var("grp", kTargetText, group), 0);
    int32_t sum = 0;
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, "FLDVALUE > limit", kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, [](const auto& r) { return std::stoi(r[2]) > 2; }));
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, "FLDVALUE < bound", kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, [](const auto& r) { return std::stoi(r[2]) < 2.5; }));
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, "GROUPNAME = grp", kTargetInt), 0);
    EXPECT_EQ(sum, sum_of(kRows, [](const auto& r) { return r[0] == "buffer_1"; }));
    EXPECT_EQ(declare_C_var("odd", 4, &limit), 1);
    EXPECT_EQ(ids, Ids{"TRM0110S"});
}

// A text is lexed once: asked again, alternating with another text, the
// store does not grow and the results stay right.
TEST_F(SelectTest, TextsAreLexedOnce) {
    counters("SYSMON", kRows);
    int32_t a = 0, b = 0;
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &a, "GROUPNAME = 'buffer_0'", kTargetInt), 0);
    ASSERT_EQ(perform_select("FLDVALUE", "SYSMON", &b, "FLDNAME = 'bufwrite'", kTargetInt), 0);
    const size_t stored = lex_store_size();
    EXPECT_EQ(stored, 4u);
    for (int i = 0; i < 3; ++i) {
        int32_t a2 = 0, b2 = 0;
        ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &a2, "GROUPNAME = 'buffer_0'", kTargetInt), 0);
        ASSERT_EQ(perform_select("FLDVALUE", "SYSMON", &b2, "FLDNAME = 'bufwrite'", kTargetInt), 0);
        EXPECT_EQ(a2, a);
        EXPECT_EQ(b2, b);
    }
    EXPECT_EQ(lex_store_size(), stored);
}

using SelectDeathTest = SelectTest;

TEST_F(SelectDeathTest, WithoutATermTableTheCollectorEnds) {
    end_exec_sql(table);
    EXPECT_FALSE(exec_sql_started());
    EXPECT_EXIT(
        {
            set_message_tap([](char letter, const char* msgid, const std::string& text) {
                std::fprintf(stderr, "%s%c %s", msgid, letter, text.c_str());
            });
            int32_t v = 0;
            perform_select("SUM(FLDVALUE)", "SYSMON", &v, nullptr, kTargetInt);
            std::exit(3);
        },
        testing::ExitedWithCode(0), "SEL1010S SQL-like processing not initialized: quitting");
}

} // namespace
