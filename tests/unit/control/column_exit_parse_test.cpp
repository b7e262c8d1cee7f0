// Reading column_exit and set_len clauses: each refused form with its
// message id, what an accepted clause becomes, and a refused clause
// failing COLLECT.CTL.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "control/column_exit_clause.h"
#include "control/cursor.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

using ColumnExitParseTest = ctltest::ParseTest;

TEST_F(ColumnExitParseTest, RefusedClausesHaveTheirIds) {
    const std::string n50(50, 'N');
    const struct {
        bool set_len;  // a set_len clause, else a column_exit
        std::string clause;
        const char* id;
        std::string text = "";
    } cases[] = {
        {false, "", "PDE4085E"},
        {false, n50 + " R_JUSTIFY", "PCC4090E", "Column name too long (50) in " + n50},
        {false, "V", "PDE4095E"},
        {false, "V " + std::string(20, 'X'), "PCF4100E"},
        {false, "V R_Justify", "PCF4105E"},  // upper or lower case only
        {false, "V SUBSTR 2 , 3", "PCL4120E"},
        {false, "V SUBSTR (", "PCL4125E"},
        {false, "V SUBSTR ( 1.5 , 3 )", "PCL4130E"},
        {false, "V SUBSTR ( 2049 , 3 )", "PCL4135E", "Numeric is excessive 2049 > 2048"},
        {false, "V SUBSTR ( 0 , 3 )", "PCL4137E", "Numeric is less than 1 0"},
        {false, "V SUBSTR ( 2", "PCL4140E"},
        {false, "V SUBSTR ( 2 3 )", "PCL4145E"},
        {false, "V SUBSTR ( 2 ,", "PCL4150E"},
        {false, "V SUBSTR ( 2 , y )", "PCL4155E"},
        {false, "V SUBSTR ( 2 , 99999999999 )", "PCL4160E"},
        {false, "V SUBSTR ( 2 , 0 )", "PCL4165E"},
        {false, "V SUBSTR ( 2 , 3 ,", "PCL4175E"},
        {false, "V CONCAT", "PCL4110E"},
        {false, "V concat " + n50, "CCL4115E"},
        {true, "", "PCL4540E"},
        {true, n50 + " 10", "PCL4545E"},
        {true, "T.NAME 10", "PCL4550E", "Can't use qualified name in set_len (T.NAME)"},
        {true, "NAME wide", "PCL4555E", "Missing numeric length value in set_len (NAME)"},
        {true, "NAME 4096", "PCL4565E", "Cannot set length greator than 2048 in NAME"},
    };
    for (const auto& k : cases) {
        curs c;
        EXPECT_EQ(run([&] { return k.set_len ? parse_set_len(c, k.clause) : parse_col_ex(c, k.clause); }), 1)
            << k.clause;
        EXPECT_TRUE(said(k.id, k.text)) << k.clause << "\n" << out;
        EXPECT_FALSE(c.column_exit || c.set_len) << k.clause;
    }
}

TEST_F(ColumnExitParseTest, ExitsJoinTheirColumnsChainInClauseOrder) {
    curs c;
    for (const char* clause : {"A l_justify", "B SUBSTR(2,3)", "A concat X.Y", "B SUBSTR ( 1 , 2048 )"})
        EXPECT_EQ(run([&] { return parse_col_ex(c, clause); }), 0) << clause << "\n" << out;
    EXPECT_TRUE(said("PCL4170W", "Numeric sum excessive 2049")) << out;  // only a warning
    ASSERT_TRUE(c.column_exit);
    const auto& chains = c.column_exit->chains;
    ASSERT_EQ(chains.size(), 2u);
    ASSERT_EQ(chains[0].exits.size(), 2u);
    EXPECT_EQ(std::tie(chains[0].col_name, chains[0].exits[0].routine, chains[0].exits[1].routine),
              std::make_tuple("A", ExitRoutine::l_justify, ExitRoutine::concat));
    EXPECT_EQ(chains[0].exits[1].concat_name, "X.Y");
    ASSERT_EQ(chains[1].exits.size(), 2u);
    EXPECT_EQ(std::tie(chains[1].exits[0].start, chains[1].exits[0].sub_len, chains[1].exits[1].sub_len),
              std::make_tuple(int16_t{2}, int16_t{3}, int16_t{2048}));
}

TEST_F(ColumnExitParseTest, RefusedClausesFailCollectCtl) {
    EXPECT_EQ(parse_file("qvxcoll.ctl",
                         "cursor A;\ninsert INTO tab (V) VALUES (:V);\ninterval 5;\nlimit 5;\n"
                         "column_exit V UNKNOWN;\nset_len V 4096;\nend;\n",
                         parse_curs),
              1);
    EXPECT_TRUE(said("PCF4105E") && said("PCL4565E") && said("PCC0755E")) << out;
}

} // namespace
