#include "expr/select.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "expr/lex_store.h"
#include "expr_fixture.h"
#include "model/cursor_list.h"

using namespace qvx;
using namespace exprtest;

namespace {

using Ids = std::vector<std::string>;

// A monitor-counter cursor: group, field and value per row.
class SelectTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        start_exec_sql(table);
    }
    void TearDown() override {
        end_exec_sql(table);
        ExprTest::TearDown();
    }

    curs& counters(const std::vector<std::vector<std::string>>& rows) {
        curs& c = table_cursor("SYSMON", {{"GROUPNAME", 1, 20}, {"FLDNAME", 1, 20}, {"FLDVALUE", 2, 10}});
        for (const auto& r : rows) add_row(c, r);
        return c;
    }

    TermTable table;
};

const std::vector<std::vector<std::string>> kRows = {
    {"buffer_0", "bufgrab_1", "1"}, {"buffer_0", "bufgrab_2", "2"}, {"buffer_1", "bufgrab_1", "40"},
    {"buffer_0", "bufwrite", "500"}, {"buffer_0", "bufgrab_3", "3"}};

TEST_F(SelectTest, SumOverTheRowsAWhereConditionPicks) {
    counters(kRows);
    struct Case {
        const char* where;
        int32_t sum;
    } cases[] = {
        {nullptr, 546},
        {"GROUPNAME = 'buffer_0'", 506},
        {"GROUPNAME = 'buffer_0' AND FLDNAME LIKE 'bufgrab_%'", 6},
        {"FLDNAME LIKE 'bufgrab_%' AND FLDVALUE > 1", 45},
    };
    for (const Case& k : cases) {
        int32_t sum = -1;
        EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &sum, k.where, kTargetInt), 0) << k.where;
        EXPECT_EQ(sum, k.sum) << (k.where ? k.where : "(none)");
    }
    EXPECT_TRUE(ids.empty()) << ids.front();
}

} // namespace
