// Loads into a virtual cursor: the statement's errors, which row or which
// aggregate reaches the target field, how it is aligned and cut, and the
// dictionary values after an empty fetch.
#include <gtest/gtest.h>

#include <memory>

#include "control/dictionary.h"
#include "pipeline/loads.h"
#include "pipeline/virtual_cursors.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

std::string right(const std::string& s, size_t width) { return std::string(width - s.size(), ' ') + s; }

// Source S (CPU Number 4, NAME Char 6, STATUS Char 4), virtual target VC
// (NCPU numeric 16, TOPNAME char 5, SHORT char 3), plain P.
class LoadTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        for (auto [name, type, len, initial] : {std::tuple{"NCPU", 2, 16, right("42", 16)},
                                                 {"TOPNAME", 0, 5, std::string("none")}, {"SHORT", 0, 3, std::string()}}) {
            auto e = std::make_unique<dict_element>();
            *e = {.name = name, .data_type = int16_t(type), .type_given = 1, .length = int16_t(len), .initial = initial};
            dict_anchor.push_back(std::move(e));
        }
        sel.item("CPU", 2, 4).item("NAME", 1, 6).item("STATUS", 1, 4);
        src = &make_cursor("S", {"CPU", "NAME", "STATUS"});
        vc = &make_cursor("VC", {"NCPU", "TOPNAME", "SHORT"});
        vc->virtual_cur = 1;
        make_cursor("P", {"X"});
        ASSERT_EQ(init_virtuals(), 0);
    }
    // The loads of S through the edit pass; its result and messages.
    int pass(const std::vector<std::string>& texts) {
        src->load_list.reset();
        src->load_list.ensure().texts = texts;
        int rc = -1;
        out = captured([&] { rc = load_pass(); });
        return rc;
    }
    std::string target(const std::string& col) { return column_text(*vc, *vc->rows.last(), col); }

    Select sel;
    curs* src = nullptr;
    curs* vc = nullptr;
    std::string out;
};

const std::vector<Row> kRows = {
    {"5", "alpha", "Z"}, {"9", "bravo", "Y"}, {"3", "carl", "X"}, {"9", "delta", "Y"}, {"3", "echo", "X"},
};

} // namespace

TEST_F(LoadTest, EachSyntaxErrorIsReportedWithItsId) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "PLO3010E"},
        {"CPU VC.NCPU", "PLO3025E"},
        {"CPU -> VC.NCPU whereas", "PLO3025E"},
        {"CPU ->", "PLO3030E"},
        {"CPU -> NOPE.NCPU", "PLO3035E"},
        {"CPU -> P.X", "PLO3040E"},
        {"CPU -> VC", "PLO3045E"},
        {"CPU -> VC.", "PLO3050E"},
        {"CPU -> VC.4", "PLO3055E"},
        {"GONE -> VC.NCPU", "PLO3020E"},
        {"3 -> VC.NCPU", "PLO3020E"},
        {"A_SOURCE_NAME_WELL_BEYOND_THIRTY_NINE_CHARS -> VC.NCPU", "PLO3015E"},
        {"MAX!CPU -> VC.NCPU from MAX CPU", "PLO3060E"},
        {"COUNT CPU -> VC.NCPU from MIN CPU", "PLO3065E"},
        {"CPU -> VC.NCPU from TOP CPU", "PLO3070E"},
        {"CPU -> VC.NCPU FROM MAX", "PLO3075E"},
        {"CPU -> VC.NCPU from max GONE", "PLO3080E"},
        {"COUNT CPU -> VC.NCPU where GONE = 1", "Load Column (GONE) not found in cursor S"},
    };
    for (const auto& [text, id] : cases) {
        EXPECT_EQ(pass({"NAME -> VC.TOPNAME", text}), 1) << text;
        EXPECT_TRUE(has(out, id)) << text << ": " << out;
    }
    // Positions: a source from 0, a target from 1; the bad load is dropped.
    ASSERT_EQ(pass({"SUM 2 -> VC.1", "3MAX!CPU -> VC.NCPU"}), 0);
    EXPECT_TRUE(has(out, "PLO3090I") && has(out, "PLO3087I")) << out;
    const auto& l = src->load_list->loads;
    EXPECT_TRUE(l[0].is_sum && l[0].src_col == 2 && l[0].target_col == 0);
    EXPECT_TRUE(l[1].src_funct == ColumnFunction::max && l[1].src_samples == 3);
}

TEST_F(LoadTest, EachDirectiveFillsTheTarget) {
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"NAME -> VC.TOPNAME", "TOPNAME", "echo "},                    // the newest row
        {"NAME -> VC.TOPNAME from MAX CPU", "TOPNAME", "bravo"},       // 9 twice: the earlier row
        {"NAME -> VC.TOPNAME from MIN CPU", "TOPNAME", "carl "},       // 3 twice: the earlier row
        {"NAME -> VC.TOPNAME from MAX_OCCURANCE STATUS", "TOPNAME", "bravo"},  // Y, X twice each; Y first
        {"NAME -> VC.SHORT", "SHORT", "ech"},
        {"NAME -> VC.TOPNAME where STATUS = 'X'", "TOPNAME", "carl "},  // the first match
        {"NAME -> VC.TOPNAME where STATUS = 'Q'", "TOPNAME", "none "},  // no match moves nothing
        {"CPU -> VC.NCPU from MAX CPU", "NCPU", right("9", 16)},
        {"COUNT CPU -> VC.NCPU where CPU < 9", "NCPU", right("3", 16)},
        {"count CPU -> VC.NCPU where CPU > 3 and < 9", "NCPU", right("1", 16)},
        {"COUNT CPU -> VC.NCPU where CPU > 100", "NCPU", right("0", 16)},
        {"SUM CPU -> VC.NCPU WHERE CPU > 4", "NCPU", right("23.00", 16)},
        {"AVERAGE CPU -> VC.NCPU where CPU > 4", "NCPU", right("7.67", 16)},
        {"AVERAGE CPU -> VC.NCPU where CPU > 100", "NCPU", right("0.0", 16)},
        {"MAX!CPU -> VC.NCPU", "NCPU", right("9", 16)},
        {"SUM!CPU -> VC.NCPU", "NCPU", right("29", 16)},
    };
    for (const auto& [load, col, expect] : cases) {
        src->rows.clear();
        vc->rows.clear();
        ASSERT_EQ(init_virtuals(), 0);
        ASSERT_EQ(pass({load}), 0) << out;
        ASSERT_GT(fetch(*src, &sel, kRows), 0);
        ASSERT_EQ(process_loads(*src, 5), 0);
        EXPECT_EQ(target(col), expect) << load;
    }
}

TEST_F(LoadTest, ASamplesLimitLoadsFromTheCurrentSampleOnly) {
    ASSERT_EQ(pass({"COUNT CPU -> VC.NCPU where CPU > 4", "NAME -> VC.TOPNAME from MIN CPU"}), 0);
    src->sample_limit = 1;
    ASSERT_GT(fetch(*src, &sel, {{"1", "old", "Z"}, {"6", "older", "Z"}}), 0);  // kept by the trim
    ASSERT_GT(fetch(*src, &sel, kRows), 0);
    ASSERT_EQ(process_loads(*src, 5), 0);
    EXPECT_EQ(target("NCPU"), right("3", 16));
    EXPECT_EQ(target("TOPNAME"), "carl ");
}

TEST_F(LoadTest, AnEmptyFetchPutsBackTheDictionaryValues) {
    ASSERT_EQ(pass({"CPU -> VC.NCPU", "NAME -> VC.TOPNAME", "NAME -> VC.SHORT"}), 0);
    ASSERT_GT(fetch(*src, &sel, kRows), 0);
    ASSERT_EQ(process_loads(*src, 5), 0);
    ASSERT_EQ(target("TOPNAME"), "echo ");
    ASSERT_EQ(process_loads(*src, 0), 0);
    EXPECT_EQ(target("NCPU"), right("42", 16));
    EXPECT_EQ(target("TOPNAME"), "none ");
    EXPECT_EQ(target("SHORT"), "   ");
}

TEST(LoadMove, NumbersAlignRightTextLeftAndAggregatesLoseDecimalsFirst) {
    const std::tuple<int16_t, std::string, int32_t, std::string> moves[] = {
        {2, "   42", 6, "    42"}, {2, " 12345", 3, "345"}, {1, "\tab  ", 4, "ab  "}, {1, "abcdef", 3, "abc"},
    };
    for (const auto& [type, value, width, expect] : moves) {
        columns s, d;
        s.orig_type = type;
        s.length = static_cast<int32_t>(value.size());
        d.length = width;
        std::string dst(static_cast<size_t>(width), '#');
        set_one_var(s, d, dst.data(), value.c_str(), curs{});
        EXPECT_EQ(dst, expect) << value;
    }
    const std::tuple<const char*, size_t, const char*> aggregates[] = {
        {"3", 5, "    3"}, {"12.50", 4, "12.5"}, {"123.45", 4, " 123"}, {"12345.00", 4, "****"}, {"12345", 3, "***"},
    };
    for (const auto& [text, width, expect] : aggregates) {
        std::string field(width, '#');
        put_aggregate(field.data(), width, text);
        EXPECT_EQ(field, expect) << text << " in " << width;
    }
}
