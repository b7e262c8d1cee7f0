#include "control/math_clause.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/messages.h"
#include "support/state.h"

using namespace qvx;

namespace {

// Message ids written while a test runs ("PMA3410E"), and their lines.
std::vector<std::string> ids;
std::vector<std::string> lines;

void tap(char letter, const char* msgid, const std::string& text) {
    std::string id = msgid ? msgid : "";
    for (char& ch : id) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ids.push_back(id + letter);
    lines.push_back(id + " " + text);
}

class MathParseTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        ids.clear();
        lines.clear();
        set_message_tap(tap);
        c.cur_name = "C1";
        c.math.reset();
    }
    void TearDown() override { set_message_tap(nullptr); }

    const MathDef& only_def() {
        EXPECT_TRUE(c.math);
        EXPECT_EQ(c.math->defs.size(), 1u);
        return c.math->defs.back();
    }

    curs c;
};

std::vector<MathKind> kinds(const MathDef& m) {
    std::vector<MathKind> out;
    for (const MathWord& w : m.words) out.push_back(w.kind);
    return out;
}

} // namespace

// Each rejected clause reports exactly these errors and adds nothing.
TEST_F(MathParseTest, RejectedClausesReportTheirRules) {
    const std::string long50(50, 'N');
    struct Row {
        std::string clause;
        std::set<std::string> ids;
    };
    const Row rows[] = {
        {"decimal R A", {"PMA3370E"}},
        {"R decimal", {}},  // after the name "decimal" is a name
        {"initial x R A", {"PMA3375E"}},
        {long50 + " A", {"PMA3380E"}},
        {"R A + " + long50, {"PMA3390E"}},
        {"high low", {"PMA3382E"}},
        {"R A ) + ( B", {"PMA3410E"}},
        {"( R ) A (", {"PMA3410E", "PMA3440E", "PMA3460E", "PMA3465E", "PMA3420E", "PMA3430E"}},
        {"R ( A + B", {"PMA3415E"}},
        {"R A ( B )", {"PMA3465E", "PMA3420E"}},
        {"R A 2", {"PMA3465E", "PMA3460E"}},
        {"R ( )", {"PMA3425E", "PMA3435E"}},
        {"R A + (", {"PMA3430E", "PMA3415E"}},
        {"R ( A ) B", {"PMA3440E", "PMA3460E"}},
        {"R ( + A )", {"PMA3425E", "PMA3445E"}},
        {"R A + * B", {"PMA3450E", "PMA3445E"}},
        {"R A /", {"PMA3455E"}},
    };
    for (const Row& r : rows) {
        SetUp();
        const int rc = parse_math(c, r.clause);
        EXPECT_EQ(rc, r.ids.empty() ? 0 : 1) << r.clause;
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), r.ids) << r.clause;
        EXPECT_EQ(c.math ? c.math->defs.size() : 0u, r.ids.empty() ? 1u : 0u) << r.clause;
    }
    // The message names the word (from 1) and the clause.
    SetUp();
    parse_math(c, "R A + * B");
    EXPECT_EQ(lines, (std::vector<std::string>{"PMA3450 Bad math syntax starting at word 2 in R A + * B\n",
                                               "PMA3445 Bad math syntax starting at word 3 in R A + * B\n"}));
}

TEST_F(MathParseTest, DuplicateNamesAreRefusedPerCursor) {
    ASSERT_EQ(parse_math(c, "R A"), 0);
    EXPECT_EQ(parse_math(c, "high R B"), 1);
    EXPECT_EQ(ids, (std::vector<std::string>{"PMA3385E"}));
    EXPECT_EQ(parse_math(c, "R2 R"), 0);  // the name used as a word is fine
    EXPECT_EQ(c.math->defs.size(), 2u);
}

TEST_F(MathParseTest, OptionsNameAndWords) {
    ASSERT_EQ(parse_math(c, "decimal 1 noround initial -2.5 low HIT ( A - 1.5E1 ) / B.C"), 0);
    const MathDef& m = only_def();
    EXPECT_EQ(std::tie(m.name, m.decimals, m.round, m.round_add, m.initial, m.water, m.paren_count),
              std::make_tuple("HIT", int16_t{1}, int16_t{0}, 0.0, -2.5, MathWater::low, int16_t{1}));
    using K = MathKind;
    EXPECT_EQ(kinds(m), (std::vector<K>{K::left, K::name, K::subtract, K::value, K::right, K::divide, K::name}));
    EXPECT_EQ(m.words[3].value, 15.0);
    EXPECT_EQ(m.words[6].text, "B.C");
    EXPECT_EQ(m.math.size(), m.words.size());

    // Upper case works; any other case makes the word the name.
    c.math.reset();
    ASSERT_EQ(parse_math(c, "DECIMAL 0 HIGH ROUND R A"), 0);
    EXPECT_EQ(std::tie(only_def().decimals, only_def().round_add, only_def().water),
              std::make_tuple(int16_t{0}, 0.5, MathWater::high));
    c.math.reset();
    ASSERT_EQ(parse_math(c, "Decimal 3"), 0);
    EXPECT_EQ(std::tie(only_def().name, only_def().decimals, only_def().round_add),
              std::make_tuple("Decimal", int16_t{2}, 0.005));
}

TEST_F(MathParseTest, TracemListsTheWords) {
    c.tracem = 1;
    ASSERT_EQ(parse_math(c, "R ( A * 2 ) - B"), 0);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "PMA3395 Math name = R, Word count = 7\n", "PMA3405 ( : Left Parenthesis\n",
                         "PMA3405 A : name\n", "PMA3405 * : Multiplicaton\n", "PMA3405 2 : constant : 2.000000\n",
                         "PMA3405 ) : Right parenthesis\n", "PMA3405 - : Subtraction\n", "PMA3405 B : name\n"}));
}
