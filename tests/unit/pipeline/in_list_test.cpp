// In-lists: the list text built from a column of the stored rows after a
// fetch, how decodes find a list, and the cost of a long list.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "pipeline/row_sources.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

class InListTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        sel.item("N", 2, 4).item("S", 1, 4);
        c = &make_cursor("C", {"N", "S"});
        c->in_list.ensure().lists = {InList{"NUMS", "N"}, InList{"STRS", "S"}};
        captured([] { EXPECT_EQ(edit_in_lists(), 0); });
    }
    // Stores the rows as one sample and runs the steps that follow a fetch.
    void collect(const std::vector<Row>& rows) {
        ASSERT_GT(fetch(*c, &sel, rows), 0);
        run_after_fetch(*c, static_cast<int>(rows.size()));
    }
    const std::string& text(size_t i) const { return c->in_list->lists[i].text; }

    Select sel;
    curs* c = nullptr;
};

TEST_F(InListTest, NumberValuesAsStoredOthersQuoted) {
    collect({Row{"1", "AB"}, Row{"23", "XY"}, Row{"7", ""}, Row{"8", "A B"}});
    EXPECT_EQ(text(0), "(    1 ,   23 ,    7 ,    8 )");
    EXPECT_EQ(text(1), "( 'AB' , 'XY' , '' , 'A B' )");
    // The zero bytes after a short text are blanks in the stored row now.
    EXPECT_EQ(column_values(*c, "S"), (std::vector<std::string>{"AB  ", "XY  ", "    ", "A B "}));
}

TEST_F(InListTest, RebuiltAfterEveryFetch) {
    collect({Row{"1", "AB"}});
    collect({Row{"2", "CD"}});
    EXPECT_EQ(text(1), "( 'AB' , 'CD' )");
    delete_all(*c);
    run_after_fetch(*c, 0);
    EXPECT_EQ(text(0), "( 'ZIP' )");
    EXPECT_EQ(text(1), "( 'ZIP' )");
}

TEST_F(InListTest, SamplesLimitTakesTheCurrentSample) {
    c->sample_limit = 2;
    collect({Row{"1", "AB"}, Row{"2", "CD"}});
    collect({Row{"3", "EF"}});
    EXPECT_EQ(c->rows.size(), 3);
    EXPECT_EQ(text(0), "(    3 )");
    EXPECT_EQ(text(1), "( 'EF' )");
}

TEST_F(InListTest, BindingAndLookupFailures) {
    c->in_list->lists.push_back(InList{"BAD", "NOPE"});
    std::string out = captured([] { EXPECT_EQ(edit_in_lists(), 1); });
    EXPECT_TRUE(has(out, "Referenced column(NOPE) not found for in_list BAD, Cursor C")) << out;
    EXPECT_TRUE(has(out, "In_list editing failed")) << out;

    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"NUMS", "In_list reference in decode is invalid : NUMS"},
        {".NUMS", "In_list reference in decode is invalid : .NUMS"},
        {"C.", "In_list reference in decode is invalid : C."},
        {"X.NUMS", "In_list reference in decode is to non-existent cursor : X.NUMS"},
        {"C.NONE", "In_list reference in decode is to non-existent in_list : C.NONE"},
    };
    for (const auto& k : cases) {
        out = captured([&] { EXPECT_EQ(find_in_list(k.name), nullptr) << k.name; });
        EXPECT_TRUE(has(out, k.message)) << out;
    }
    EXPECT_EQ(find_in_list("C.STRS"), &c->in_list->lists[1]);
}

// A cursor of n rows whose S column holds 8-character names.
curs& names_cursor(const std::string& name, int n) {
    Select sel;
    sel.item("S", 1, 8);
    curs& c = make_cursor(name, {"S"});
    c.row_limit = n;
    c.in_list.ensure().lists = {InList{"L", "S"}};
    std::vector<Row> rows;
    char buf[16];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "V%07d", i);
        rows.push_back(Row{std::string(buf)});
    }
    EXPECT_GT(fetch(c, &sel, rows), 0);
    return c;
}

// The fastest of several runs of twenty builds, in seconds.
double build_time(curs& c) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) build_in_list(c);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

TEST_F(InListTest, TenThousandRows) {
    curs& small = names_cursor("SMALL", 1000);
    curs& big = names_cursor("BIG", 10000);
    captured([] { EXPECT_EQ(edit_in_lists(), 0); });
    build_in_list(big);
    const std::string& list = big.in_list->lists[0].text;
    // "( " + 10,000 quoted names of 8 characters with " , " between + " )"
    EXPECT_EQ(list.size(), 2 + 10000 * 10 + 9999 * 3 + 2);
    EXPECT_EQ(list.substr(0, 14), "( 'V0000000' ,");
    EXPECT_EQ(list.substr(list.size() - 14), ", 'V0009999' )");
    EXPECT_LE(build_time(big), 12 * build_time(small));

    // A decode finds the last name, and not one that is a prefix of many.
    Select sel;
    sel.item("S", 1, 8);
    curs& d = make_cursor("D", {"S"});
    ASSERT_EQ(parse_decode(d, "S in BIG.L , 'YES'"), 0);
    captured([] { EXPECT_EQ(edit_decode(), 0); });
    ASSERT_GT(fetch(d, &sel, {Row{"V0009999"}, Row{"V000999"}, Row{"V0010000"}}), 0);
    EXPECT_EQ(column_values(d, "S"), (std::vector<std::string>{"YES     ", std::string("V000999\0", 8),
                                                              "V0010000"}));
}

} // namespace
