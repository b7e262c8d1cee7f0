// Cursor blocks with if / else / endif: which versions they expand into,
// in which order, with which clauses, and the block errors.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "control/cursor.h"
#include "control/versions.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

class VersionParseTest : public ctltest::ParseTest {
protected:
    int parse(const std::string& body) {
        return parse_file("qvxcoll.ctl",
                          "cursor C;\ninsert INTO sys.tab (A, B) VALUES (:A, :B);\ninterval 30;\n" + body + "end;\n",
                          parse_curs);
    }
};

// What tells the versions apart: class and row limit.
using Shape = std::vector<std::pair<int, int>>;

Shape shape_of(curs& slot) {
    Shape out;
    for (curs* v : cursor_versions(slot)) out.emplace_back(v->class_no, v->row_limit);
    return out;
}

TEST_F(VersionParseTest, BlocksExpandIntoVersionsInTreeOrder) {
    struct Case {
        const char* name;
        std::string body;
        Shape versions;
    };
    const std::vector<Case> cases = {
        {"no if", "class 4;\n", {{4, 200}}},
        {"if without else: true branch, then the record itself", "if A = 1;\nclass 1;\nendif;\n", {{1, 200}, {0, 200}}},
        {"if with else", "if A = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n", {{1, 200}, {2, 200}}},
        {"two ifs in sequence: every combination, true first",
         "if A = 1;\nclass 1;\nendif;\nif B = 1;\nlimit 5;\nendif;\n",
         {{1, 5}, {1, 200}, {0, 5}, {0, 200}}},
        {"nested", "if A = 1;\nclass 1;\nif B = 1;\nlimit 5;\nendif;\nelse;\nclass 2;\nendif;\n",
         {{1, 5}, {1, 200}, {2, 200}}},
        {"clauses before the if belong to every branch", "class 4;\nif A = 1;\nlimit 5;\nendif;\n",
         {{4, 5}, {4, 200}}},
        {"clauses after endif fill what a branch left unset",
         "if A = 1;\nclass 1;\nelse;\nlimit 6;\nendif;\nclass 3;\nlimit 7;\n", {{1, 7}, {3, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(parse(c.body), 0) << out;
        ASSERT_EQ(cur_anchor.size(), 1u);
        curs& slot = *cur_anchor[0];
        EXPECT_EQ(shape_of(slot), c.versions);
        for (curs* v : cursor_versions(slot)) {
            EXPECT_EQ(v->cur_name, "C");
            EXPECT_EQ(v->interval, 30);
            EXPECT_EQ(v->cols.size(), 2u);
        }
        // The slot stands in for its first version.
        EXPECT_EQ(slot.tree_place == &slot, c.versions.size() == 1);
    }
}

TEST_F(VersionParseTest, BrokenStructuresFailTheBlock) {
    struct Case {
        std::string body;
        const char* id;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"if A = 1;\nclass 1;\n", "PIF0100E", "Cursor C end encountered before expected ENDIF"},
        {"else;\n", "PIF0050E", "ELSE has no matching IF for cursor C"},
        {"if A = 1;\nendif;\nelse;\n", "PIF0050E", "ELSE has no matching IF for cursor C"},
        {"endif;\n", "PIF0070E", "ENDIF has no matching IF for cursor C"},
        {"if A = 1;\nendif;\nendif;\n", "PIF0070E", "ENDIF has no matching IF for cursor C"},
        {"if (A = 1;\nendif;\n", "PIF0030E", "Syntax error in conditional expression  for cursor C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(parse(c.body), 1);
        EXPECT_TRUE(said(c.id, c.text)) << out;
    }
}

TEST_F(VersionParseTest, APathMayMeetAtMost49Ifs) {
    auto nested = [](int depth) {
        std::string body;
        for (int i = 0; i < depth; ++i) body += "if A = " + std::to_string(i) + ";\n";
        for (int i = 0; i < depth; ++i) body += "endif;\n";
        return body;
    };
    ASSERT_EQ(parse(nested(49)), 0) << out;
    EXPECT_EQ(cursor_versions(*cur_anchor[0]).size(), 50u);
    EXPECT_EQ(parse(nested(50)), 1);
    EXPECT_TRUE(said("PIF0130S", "Current stack position: 50- exceeds stack size: 50")) << out;
    EXPECT_TRUE(cur_anchor.empty());
}

TEST_F(VersionParseTest, VirtualCursorCannotBeConditional) {
    EXPECT_EQ(parse("virtual;\nif A = 1;\nendif;\n"), 1);
    EXPECT_TRUE(said("PCC0443E", "A virtual cursor (C) can't be conditional")) << out;
}

} // namespace
