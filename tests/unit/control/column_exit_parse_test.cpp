// Reading column_exit and set_len clauses: what an accepted clause
// becomes, each error with its id, and a rejected clause failing
// COLLECT.CTL.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "control/column_exit_clause.h"
#include "control/cursor.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

const std::string k50(50, 'N');

class ColumnExitParseTest : public ctltest::ParseTest {
protected:
    int exit_clause(const std::string& clause) {
        return run([&] { return parse_col_ex(cur, clause); });
    }
    int set_len_clause(const std::string& clause) {
        return run([&] { return parse_set_len(cur, clause); });
    }
    curs cur;
};

TEST_F(ColumnExitParseTest, ColumnExitErrorsHaveTheirIds) {
    const struct {
        std::string clause;
        const char* id;
    } cases[] = {
        {"", "PDE4085E"},
        {k50 + " R_JUSTIFY", "PCC4090E"},
        {"V", "PDE4095E"},
        {"V " + std::string(20, 'X'), "PCF4100E"},
        {"V R_Justify", "PCF4105E"},  // upper or lower case only
        {"V JUSTIFY", "PCF4105E"},
        {"V SUBSTR 2 , 3", "PCL4120E"},
        {"V SUBSTR", "PCL4120E"},
        {"V SUBSTR (", "PCL4125E"},
        {"V SUBSTR ( x , 3 )", "PCL4130E"},
        {"V SUBSTR ( 1.5 , 3 )", "PCL4130E"},
        {"V SUBSTR ( 2049 , 3 )", "PCL4135E"},
        {"V SUBSTR ( 0 , 3 )", "PCL4137E"},
        {"V SUBSTR ( 2", "PCL4140E"},
        {"V SUBSTR ( 2 3 )", "PCL4145E"},
        {"V SUBSTR ( 2 ,", "PCL4150E"},
        {"V SUBSTR ( 2 , y )", "PCL4155E"},
        {"V SUBSTR ( 2 , 99999999999 )", "PCL4160E"},
        {"V SUBSTR ( 2 , 0 )", "PCL4165E"},
        {"V SUBSTR ( 2 , 3", "PCL4175E"},
        {"V SUBSTR ( 2 , 3 ,", "PCL4175E"},
        {"V CONCAT", "PCL4110E"},
        {"V concat " + k50, "CCL4115E"},
    };
    for (const auto& k : cases) {
        cur.column_exit.reset();
        EXPECT_EQ(exit_clause(k.clause), 1) << k.clause;
        EXPECT_TRUE(said(k.id)) << k.clause << "\n" << out;
        EXPECT_FALSE(cur.column_exit) << k.clause;
    }
    // The messages show the numbers and names they refuse.
    exit_clause("V SUBSTR ( 2049 , 3 )");
    EXPECT_TRUE(said("PCL4135E", "Numeric is excessive 2049 > 2048")) << out;
    exit_clause("V SUBSTR ( 0 , 3 )");
    EXPECT_TRUE(said("PCL4137E", "Numeric is less than 1 0")) << out;
    exit_clause(k50 + " R_JUSTIFY");
    EXPECT_TRUE(said("PCC4090E", "Column name too long (50) in " + k50)) << out;
}

TEST_F(ColumnExitParseTest, ExitsJoinTheirColumnsChainInClauseOrder) {
    for (const char* clause : {"A L_JUSTIFY", "B SUBSTR(2,3)", "A concat X.Y", "B minutes2", "A TIMESTAMP",
                               "C SUBSTR ( 1 , 2048 )"}) {
        EXPECT_EQ(exit_clause(clause), 0) << clause << "\n" << out;
    }
    // start + length above 2048 is only a warning
    EXPECT_TRUE(said("PCL4170W", "Numeric sum excessive 2049")) << out;
    ASSERT_TRUE(cur.column_exit);
    const auto& chains = cur.column_exit->chains;
    ASSERT_EQ(chains.size(), 3u);
    using R = ExitRoutine;
    EXPECT_EQ(chains[0].col_name, "A");
    ASSERT_EQ(chains[0].exits.size(), 3u);
    EXPECT_EQ(std::tie(chains[0].exits[0].routine, chains[0].exits[1].routine, chains[0].exits[2].routine),
              std::make_tuple(R::l_justify, R::concat, R::timestamp));
    EXPECT_EQ(chains[0].exits[1].concat_name, "X.Y");
    EXPECT_EQ(chains[1].col_name, "B");
    ASSERT_EQ(chains[1].exits.size(), 2u);
    EXPECT_EQ(std::tie(chains[1].exits[0].routine, chains[1].exits[0].start, chains[1].exits[0].sub_len),
              std::make_tuple(R::substr, int16_t{2}, int16_t{3}));
    EXPECT_EQ(chains[1].exits[1].routine, R::minutes2);
    EXPECT_EQ(std::tie(chains[2].exits[0].start, chains[2].exits[0].sub_len),
              std::make_tuple(int16_t{1}, int16_t{2048}));
    for (const auto& chain : chains) EXPECT_FALSE(chain.bound);
}

TEST_F(ColumnExitParseTest, SetLenErrorsHaveTheirIds) {
    const struct {
        std::string clause;
        const char* id;
        const char* text;
    } cases[] = {
        {"", "PCL4540E", "Invalid set_len syntax"},
        {k50 + " 10", "PCL4545E", "Excessive text in set_len : "},
        {"T.NAME 10", "PCL4550E", "Can't use qualified name in set_len (T.NAME)"},
        {"NAME", "PCL4555E", "Missing numeric length value in set_len (NAME)"},
        {"NAME wide", "PCL4555E", "Missing numeric length value in set_len (NAME)"},
        {"NAME 4096", "PCL4565E", "Cannot set length greator than 2048 in NAME"},
        {"NAME 2049", "PCL4565E", "Cannot set length greator than 2048 in NAME"},
    };
    for (const auto& k : cases) {
        cur.set_len.reset();
        EXPECT_EQ(set_len_clause(k.clause), 1) << k.clause;
        EXPECT_TRUE(said(k.id, k.text)) << k.clause << "\n" << out;
        EXPECT_FALSE(cur.set_len) << k.clause;
    }
}

TEST_F(ColumnExitParseTest, SetLenEntriesKeepClauseOrder) {
    EXPECT_EQ(set_len_clause("QUERY 2048"), 0) << out;
    EXPECT_EQ(set_len_clause("COUNT(*) 5"), 0) << out;  // an item name as the database gives it
    ASSERT_TRUE(cur.set_len);
    const auto& e = cur.set_len->entries;
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(std::tie(e[0].name, e[0].len, e[0].index), std::make_tuple("QUERY", int16_t{2048}, int16_t{-1}));
    EXPECT_EQ(std::tie(e[1].name, e[1].len), std::make_tuple("COUNT(*)", int16_t{5}));
    EXPECT_FALSE(cur.set_len->resolved);
}

// A rejected clause fails the file, and reading goes on to report the
// next one.
TEST_F(ColumnExitParseTest, RejectedClausesFailCollectCtl) {
    EXPECT_EQ(parse_file("qvxcoll.ctl",
                         "cursor A;\ninsert INTO t (V) VALUES (:V);\ninterval 5;\nlimit 5;\n"
                         "column_exit V UNKNOWN;\nset_len V 4096;\nend;\n",
                         parse_curs),
              1);
    EXPECT_TRUE(said("PCF4105E")) << out;
    EXPECT_TRUE(said("PCL4565E")) << out;
    EXPECT_TRUE(said("PCC0755E")) << out;
}

} // namespace
