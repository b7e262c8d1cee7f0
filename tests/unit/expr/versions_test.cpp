// Choosing a cursor's version from its collected values before a pass.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <string>

#include "../control/parse_fixture.h"
#include "control/cursor.h"
#include "control/versions.h"
#include "expr/versions.h"
#include "model/cursor_list.h"
#include "pipeline/age_to.h"
#include "pipeline/column_versions.h"
#include "pipeline/edit_passes.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

class VersionsTest : public ctltest::ParseTest {
protected:
    // Cursors of one column A (a number of 8 characters) each, followed
    // by the clauses given for them.
    void define(const std::vector<std::pair<std::string, std::string>>& blocks) {
        std::string text;
        for (const auto& [name, body] : blocks)
            text += "cursor " + name + ";\ninsert INTO sys." + name + " (A) VALUES (:A);\ninterval 30;\n" + body;
        ASSERT_EQ(parse_file("qvxcoll.ctl", text + "end;\n", parse_curs), 0) << out;
    }
    // A row whose A holds value, laid out as the row store lays it out
    // for the cursor's present columns.
    static void add_row(curs& c, int value) {
        for (curs* v : cursor_versions(c))
            for (columns& col : v->cols) {
                col.orig_type = 2;
                col.length = 8;
                col.buf_offset = 0;
            }
        c.length = 8;
        row_data* row = row_data::create(8);
        std::snprintf(row->text(), 9, "%8d", value);
        c.rows.append(row);
    }
    int select(curs& c, const std::string& time) {
        int rc = 0;
        run([&] { return rc = select_cursor_version(c, time); });
        return rc;
    }
};

TEST_F(VersionsTest, TheCollectedValueChoosesTheVersion) {
    define({{"C", "if A > 10;\ninsert_where big = 1;\nelse;\ninsert_where small = 1;\nendif;\n"}});
    curs& c = *cur_anchor[0];
    ASSERT_NE(c.sel_piece.find("big = 1"), std::string::npos);
    curs* const big = c.tree_place;

    struct Pass {
        int value;
        int answer;
        const char* where;
    };
    const Pass passes[] = {{20, 0, "big = 1"}, {5, 1, "small = 1"}, {4, 0, "small = 1"}, {11, 1, "big = 1"}};
    int pass = 0;
    for (const Pass& p : passes) {
        SCOPED_TRACE(p.value);
        add_row(c, p.value);
        c.bound = 1;
        const std::string time = "2026120710000" + std::to_string(pass++);
        EXPECT_EQ(select(c, time), p.answer);
        EXPECT_NE(c.sel_piece.find(p.where), std::string::npos) << c.sel_piece;
        EXPECT_EQ(c.vers_time, time);
        EXPECT_EQ(c.tree_place == big, std::string(p.where) == "big = 1");
        // The version left is stamped with the time it was last active.
        if (p.answer == 1) {
            EXPECT_EQ(version_stamp(*other_versions(c).front()), time);
        }
        EXPECT_EQ(c.cur_name, "C");
    }
}

TEST_F(VersionsTest, TheCursorKeepsItsRowsTimesAndHoldAcrossAChange) {
    define({{"C", "if A > 10;\nclass 1;\nhold;\nelse;\nclass 2;\nendif;\n"}});
    curs& c = *cur_anchor[0];
    curs* const held_version = c.tree_place;
    add_row(c, 20);
    row_data* const first = c.rows.first();
    c.last_time = "20261207101010";
    c.next_time = 777;
    c.held = 'N';
    c.hold_reasons = {2, 1, 0};  // released and held by decodes while it ran
    add_row(c, 3);
    ASSERT_EQ(select(c, "t1"), 1);
    EXPECT_EQ(c.class_no, 2);
    EXPECT_EQ(c.rows.first(), first);
    EXPECT_EQ(c.last_time, "20261207101010");
    EXPECT_EQ(c.next_time, 777u);
    EXPECT_EQ(c.held, 'N');
    EXPECT_EQ(c.hold_reasons, (std::array<int16_t, 3>{2, 1, 0}));
    EXPECT_EQ(held_version->hold_reasons, (std::array<int16_t, 3>{}));
    // Without a run hold each version brings its own hold switch.
    c.hold_reasons = {};
    c.held = 0;
    const std::pair<int, char> back_and_forth[] = {{30, 'Y'}, {1, 0}};
    for (const auto& [value, held] : back_and_forth) {
        add_row(c, value);
        ASSERT_EQ(select(c, "t2"), 1);
        EXPECT_EQ(c.held, held) << value;
    }
}

TEST_F(VersionsTest, AConditionWithoutANumberKeepsTheVersionAndIsTriedEachPass) {
    // A bare term gives no result at all; a row vector is a result but
    // not a number.
    define({{"C", "if A;\nclass 1;\nendif;\n"}, {"D", "if ROW(A);\nclass 1;\nendif;\n"}});
    const std::pair<const char*, std::string> expected[] = {
        {"CSL0010T", "Can not determine cursor C version:         may be next time"},
        {"CSL0020T", "Invalid conditional expression result for           cursor D: will try next time"},
    };
    for (size_t i = 0; i < 2; ++i) {
        curs& c = *cur_anchor[i];
        curs* const first = c.tree_place;
        add_row(c, 1);
        for (const char* time : {"t1", "t2"}) {
            out.clear();
            EXPECT_EQ(select(c, time), -1);
            EXPECT_TRUE(said(expected[i].first, expected[i].second)) << out;
            EXPECT_EQ(c.class_no, 1);  // still the first version
            EXPECT_EQ(c.tree_place, first);
        }
    }
}

TEST_F(VersionsTest, NamesInAConditionAreTheColumnsOfTheCursorChosenFor) {
    const std::string body = "if A > 10;\nclass 1;\nelse;\nclass 2;\nendif;\n";
    define({{"C", body}, {"D", body}});
    curs& c = *cur_anchor[0];
    curs& d = *cur_anchor[1];
    add_row(c, 20);
    add_row(d, 5);
    for (int round = 0; round < 2; ++round) {
        c.bound = d.bound = 1;
        int rc = -1;
        run([&] { return rc = tune_up_cursor_versions("t" + std::to_string(round)); });
        EXPECT_EQ(rc, 0) << out;
        EXPECT_EQ(c.class_no, 1);
        EXPECT_EQ(d.class_no, 2);
        EXPECT_EQ(last_version_update_time, "t" + std::to_string(round));
        // D's change in the first round makes every cursor bind and split
        // again; the second round changes nothing.
        EXPECT_EQ(c.bound, round);
        EXPECT_EQ(d.bound, round);
    }
}

TEST_F(VersionsTest, EachVersionKeepsItsOwnAgedRowsAndShapeInTheTarget) {
    define({{"C", "age_to P;\nif A > 10;\nclass 1;\ninsert_where big = 1;\nelse;\nclass 2;\nlimit 7;\nendif;\n"},
            {"P", "demand;\n"}});
    ASSERT_EQ(run_edit_passes(), 0) << out;
    curs& c = *find_cursor("C");
    curs& p = *find_cursor("P");
    ASSERT_EQ(c.age_to_cur, &p);
    // A fetch of one row as the run makes it, with the copies around it.
    auto fetch = [&](int value) {
        age_before_first_row(c);
        add_row(c, value);
        age_after_fetch(c, 1);
    };
    auto aged = [&] {
        std::vector<int> values;
        for (row_data* r = p.rows.first(); r; r = r->next) values.push_back(std::atoi(r->text()));
        return values;
    };
    auto shows = [&](int class_no, int limit, bool big) {
        EXPECT_EQ(c.age_to_cur, &p);
        EXPECT_EQ(p.cur_name, "P");
        EXPECT_TRUE(p.is_age_copy);
        EXPECT_EQ(p.class_no, class_no);
        EXPECT_EQ(p.row_limit, limit);
        EXPECT_EQ(p.sel_piece.find("big = 1") != std::string::npos, big) << p.sel_piece;
    };
    shows(1, 200, true);
    for (int v : {20, 30, 5}) fetch(v);
    const std::vector<int> aged_under_a = aged();
    ASSERT_EQ(aged_under_a, std::vector<int>{30});
    ASSERT_EQ(select(c, "t1"), 1);
    shows(2, 7, false);
    EXPECT_TRUE(aged().empty());
    for (int v : {4, 40}) fetch(v);
    const std::vector<int> aged_under_b = aged();
    ASSERT_FALSE(aged_under_b.empty());
    ASSERT_EQ(select(c, "t2"), 1);
    shows(1, 200, true);
    EXPECT_EQ(aged(), aged_under_a);
    fetch(2);
    ASSERT_EQ(select(c, "t3"), 1);
    shows(2, 7, false);
    EXPECT_EQ(aged(), aged_under_b);
}

} // namespace
