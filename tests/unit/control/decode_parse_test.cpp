// Reading decode and in_list clauses: what a clause becomes, each error
// with its id, and a rejected clause failing COLLECT.CTL.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "control/cursor.h"
#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

const std::string k50(50, 'N');

class DecodeParseTest : public ctltest::ParseTest {
protected:
    int parse(const std::string& clause) {
        return run([&] { return parse_decode(cur, clause); });
    }
    curs cur;
};

TEST_F(DecodeParseTest, EachErrorHasItsId) {
    const struct {
        std::string clause;
        const char* id;
    } cases[] = {
        {"", "PDE3740E"},
        {", 'x'", "PDE3740E"},
        {k50 + " = 1 , 2", "PDE3745E"},
        {"V ! 1 , 2", "PDE3750E"},
        {"V => 1 , 2", "PDE3755E"},
        {"V Null 'x'", "PDE3760E"},
        {"V Search 'x' , 'y'", "PDE3765E"},
        {"V Default 0", "PDE3770E"},
        {"V EQU 1 , 2", "PDE3775E"},
        {"V", "PDE3775E"},
        {"V =", "PDE3780E"},
        {"V = , 'x'", "PDE3780E"},
        {"V NULL", "PDE3780E"},
        {"V & 'x' , 1", "PDE3785E"},
        {"V & W , 1", "PDE3785E"},
        {"V = " + k50 + " , 1", "PDE3790E"},
        {"V = 1 'x'", "PDE3795E"},
        {"V = 1", "PDE3795E"},
        {"V = 1 ,", "PDE3800E"},
        {"V = 1 run", "PDE3800E"},
        {"V = 1 , " + k50, "PDE3805E"},
        {"V NULL " + k50, "PDE3805E"},
        {"V = 1 and NULL , 2", "PDE3915E"},
        {"V = 1 and in L , 2", "PDE3915E"},
        {"V = 1 and", "PDE3915E"},
        {"V = 1 and = , 2", "PDE3920E"},
        {"V = 1 and & 'x' , 2", "PDE3925E"},
        {"V = 1 and = " + k50 + " , 2", "PDE3930E"},
    };
    for (const auto& k : cases) {
        cur.decode.reset();
        EXPECT_EQ(parse(k.clause), 1) << k.clause;
        EXPECT_TRUE(said(k.id)) << k.clause << "\n" << out;
        EXPECT_FALSE(cur.decode) << k.clause;
    }
}

// What each word becomes; the values themselves are checked where the
// decodes are evaluated.
TEST_F(DecodeParseTest, OperandAndReplacementKinds) {
    using D = DecodeOperator;
    using O = OperandType;
    using R = ReplacementType;
    const struct {
        const char* clause;
        D op;
        O operand;
        R replacement;
        const char* column;  // operand column, else replacement column
    } cases[] = {
        {"STATUS = 'OPEN' , 'O'", D::equal, O::string, R::string, ""},
        {"CNT >= -100 , 7", D::greater_equal, O::number, R::number, ""},
        {"X ~= Y , Z", D::not_equal, O::column, R::column, "Y"},
        {"X search \"ab\" run OTHER", D::search, O::string, R::run, "OTHER"},
        {"X in C.L , 'in'", D::in, O::in_list, R::string, "C.L"},
        {"X null 'N/A'", D::null, O::none, R::string, ""},
        {"X default , %now_time", D::otherwise, O::none, R::column, "%now_time"},
    };
    for (const auto& k : cases) {
        cur.decode.reset();
        ASSERT_EQ(parse(k.clause), 0) << k.clause << "\n" << out;
        const DecodeOp& op = cur.decode->anchors.at(0).ops.at(0);
        EXPECT_EQ(std::tie(op.operatr, op.operand_type, op.replacement_type), std::tie(k.op, k.operand, k.replacement))
            << k.clause;
        EXPECT_EQ(op.operand_type == O::column || op.operand_type == O::in_list ? op.operand_column : op.replacement_column,
                  k.column)
            << k.clause;
    }
}

TEST_F(DecodeParseTest, OperationsChainUnderTheirColumnInOrder) {
    for (const char* clause : {"A = 1 , 2", "B = 1 , 2", "A = 3 , 4", "A DEFAULT 5"}) ASSERT_EQ(parse(clause), 0);
    ASSERT_EQ(cur.decode->anchors.size(), 2u);
    const auto& a = cur.decode->anchors[0];
    EXPECT_EQ(a.col_name, "A");
    ASSERT_EQ(a.ops.size(), 3u);
    EXPECT_EQ(std::make_tuple(a.ops[0].op_num, a.ops[1].op_num, a.ops[2].operatr),
              std::make_tuple(1.0, 3.0, DecodeOperator::otherwise));
    EXPECT_EQ(cur.decode->anchors[1].col_name, "B");
}

TEST_F(DecodeParseTest, TestsGetAnEmptyReplacement) {
    DecodeAnchor test;
    ASSERT_EQ(run([&] { return parse_decode_test(cur, "N > 5 and < 9", test); }), 0) << out;
    EXPECT_FALSE(cur.decode);  // not on the cursor's list
    ASSERT_EQ(test.ops.size(), 1u);
    EXPECT_EQ(test.col_name, "N");
    EXPECT_EQ(test.ops[0].replacement_type, ReplacementType::string);
    EXPECT_EQ(test.ops[0].and_parts.size(), 1u);
    EXPECT_EQ(run([&] { return parse_decode_test(cur, "N >> 5", test); }), 1);
    EXPECT_TRUE(said("PDE3755E")) << out;
}

TEST_F(DecodeParseTest, InListClauses) {
    for (const char* bad : {"L", "L using", "L with X", "L using X extra"}) {
        EXPECT_EQ(run([&] { return parse_in_list(cur, bad); }), 1) << bad;
        EXPECT_TRUE(said("PIN3260E", std::string("Invalid in_list format: ") + bad)) << out;
    }
    EXPECT_FALSE(cur.in_list);
    ASSERT_EQ(run([&] { return parse_in_list(cur, "ZIPS using ZIP"); }), 0);
    ASSERT_EQ(run([&] { return parse_in_list(cur, "NAMES USING NAME"); }), 0);
    ASSERT_EQ(cur.in_list->lists.size(), 2u);
    const InList& l = cur.in_list->lists[0];
    EXPECT_EQ(std::tie(l.name, l.col_name, l.text), std::make_tuple("ZIPS", "ZIP", "( 'ZIP' )"));
    EXPECT_EQ(cur.in_list->lists[1].name, "NAMES");
}

TEST_F(DecodeParseTest, ARejectedClauseFailsTheFile) {
    const std::string file = "cursor A;\ninsert INTO t (X) VALUES (:X);\ninterval 30;\n"
                             "decode X = 1 'two';\nin_list L;\ndecode X = 1 , 2;\nend;\n";
    EXPECT_EQ(parse_file("qvxcoll.ctl", file, parse_curs), 1);
    EXPECT_TRUE(said("PDE3795E", "Bad decode syntax : X = 1 'two'")) << out;
    EXPECT_TRUE(said("PIN3260E")) << out;
    EXPECT_TRUE(said("PCC0755E")) << out;
}

} // namespace
