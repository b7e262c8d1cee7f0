// Loads into a virtual cursor: the statement's errors, which row or which
// aggregate reaches the target field, how it is aligned and cut, and the
// dictionary defaults after an empty fetch.
#include <gtest/gtest.h>

#include <memory>

#include "control/dictionary.h"
#include "control/load_clause.h"
#include "pipeline/loads.h"
#include "pipeline/virtual_cursors.h"
#include "row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

// Source cursor S (CPU Number 4, NAME Char 6, STATUS Char 4), a virtual
// target VC (NCPU numeric 16, TOPNAME char 5, SHORT char 3) and a plain P.
class LoadTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        element("NCPU", 2, 16, std::string(14, ' ') + "42");
        element("TOPNAME", 0, 5, "none");
        element("SHORT", 0, 3, "");
        sel.item("CPU", 2, 4).item("NAME", 1, 6).item("STATUS", 1, 4);
        src = &make_cursor("S", {"CPU", "NAME", "STATUS"});
        vc = &make_cursor("VC", {"NCPU", "TOPNAME", "SHORT"});
        vc->virtual_cur = 1;
        make_cursor("P", {"X"});
        ASSERT_EQ(init_virtuals(), 0);
    }

    static void element(const std::string& name, int16_t type, int16_t len, const std::string& initial) {
        auto e = std::make_unique<dict_element>();
        e->name = name;
        e->data_type = type;
        e->type_given = 1;
        e->length = len;
        e->initial = initial;
        dict_anchor.push_back(std::move(e));
    }

    // The loads of S, as parse_loads would leave them.
    void loads(std::initializer_list<const char*> texts) {
        LoadClauses& l = src->load_list.ensure();
        for (const char* t : texts) l.texts.emplace_back(t);
        ASSERT_EQ(load_pass(), 0);
    }

    // One fetch of S and its loads; the target row's columns afterwards.
    void run(const std::vector<Row>& rows) {
        if (!rows.empty()) {
            ASSERT_GT(fetch(*src, &sel, rows), 0);
        }
        ASSERT_EQ(process_loads(*src, static_cast<int>(rows.size())), 0);
    }
    std::string target(const std::string& col) { return column_text(*vc, *vc->rows.last(), col); }

    Select sel;
    curs* src = nullptr;
    curs* vc = nullptr;
};

const std::vector<Row> kRows = {
    {"5", "alpha", "Z"}, {"9", "bravo", "Y"}, {"3", "carl", "X"}, {"9", "delta", "Y"}, {"3", "echo", "X"},
};

} // namespace

TEST_F(LoadTest, EachSyntaxErrorIsReportedWithItsId) {
    struct Case {
        const char* text;
        const char* id;
    };
    const Case cases[] = {
        {"", "PLO3010E"},
        {"CPU VC.NCPU", "PLO3025E"},
        {"CPU -> VC.NCPU whereas", "PLO3025E"},
        {"CPU ->", "PLO3030E"},
        {"CPU -> NOPE.NCPU", "PLO3035E"},
        {"CPU -> P.X", "PLO3040E"},
        {"CPU -> VC", "PLO3045E"},
        {"CPU -> VC.", "PLO3050E"},
        {"CPU -> VC.NOPE", "PLO3055E"},
        {"CPU -> VC.4", "PLO3055E"},
        {"GONE -> VC.NCPU", "PLO3020E"},
        {"3 -> VC.NCPU", "PLO3020E"},
        {"A_SOURCE_NAME_WELL_BEYOND_THIRTY_NINE_CHARS -> VC.NCPU", "PLO3015E"},
        {"MAX!CPU -> VC.NCPU from MAX CPU", "PLO3060E"},
        {"COUNT CPU -> VC.NCPU from MIN CPU", "PLO3065E"},
        {"CPU -> VC.NCPU from TOP CPU", "PLO3070E"},
        {"CPU -> VC.NCPU FROM MAX", "PLO3075E"},
        {"CPU -> VC.NCPU from max GONE", "PLO3080E"},
    };
    for (const Case& k : cases) {
        Load load;
        int rc = -1;
        const std::string out = captured([&] { rc = parse_load(*src, k.text, load); });
        EXPECT_EQ(rc, 1) << k.text;
        EXPECT_TRUE(has(out, k.id)) << k.text << ": " << out;
    }
}

TEST_F(LoadTest, ParsingKeepsTheGoodLoadsAndReportsTheEnd) {
    src->load_list.ensure().texts = {"SUM 0 -> VC.1", "CPU -> P.X", "2MAX!CPU -> VC.NCPU",
                                     "NAME -> VC.TOPNAME FROM MAX_OCCURANCE STATUS"};
    int rc = -1;
    const std::string out = captured([&] { rc = parse_loads(); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(has(out, "PLO3085E")) << out;
    const auto& l = src->load_list->loads;
    ASSERT_EQ(l.size(), 3u);
    EXPECT_TRUE(l[0].is_sum);
    EXPECT_EQ(l[0].src_col, 0);
    EXPECT_EQ(l[0].target_col, 0);  // positions: source from 0, target from 1
    EXPECT_EQ(l[1].src_funct, ColumnFunction::max);
    EXPECT_EQ(l[1].src_samples, 2);
    EXPECT_EQ(l[1].src_col, 0);
    EXPECT_TRUE(l[2].is_max_occ && l[2].has_from);
    EXPECT_EQ(l[2].from_col, 2);
    EXPECT_EQ(l[2].target_col, 1);

    // A second parse starts again from the texts.
    src->load_list->texts.erase(src->load_list->texts.begin() + 1);
    const std::string again = captured([&] { rc = parse_loads(); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(has(again, "PLO3090I")) << again;
    EXPECT_EQ(src->load_list->loads.size(), 3u);
}

TEST_F(LoadTest, TheChosenRowSuppliesTheValue) {
    struct Case {
        const char* load;
        const char* col;
        std::string expect;
    };
    const Case cases[] = {
        {"NAME -> VC.TOPNAME", "TOPNAME", "echo "},               // the newest row
        {"NAME -> VC.TOPNAME from MAX CPU", "TOPNAME", "bravo"},  // 9 twice: the earlier
        {"NAME -> VC.TOPNAME from MIN CPU", "TOPNAME", "carl "},  // 3 twice: the earlier
        {"NAME -> VC.TOPNAME from MIN NAME", "TOPNAME", "alpha"},
        // Y and X both twice; Y was seen first, in row 2.
        {"NAME -> VC.TOPNAME from MAX_OCCURANCE STATUS", "TOPNAME", "bravo"},
        {"CPU -> VC.NCPU from MAX CPU", "NCPU", std::string(15, ' ') + "9"},
        {"NAME -> VC.SHORT", "SHORT", "ech"},                     // text is cut
        // A column function over the rows, right-aligned as a number.
        {"MAX!CPU -> VC.NCPU", "NCPU", std::string(15, ' ') + "9"},
        {"SUM!CPU -> VC.NCPU", "NCPU", std::string(14, ' ') + "29"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.load);
        src->load_list.reset();
        src->rows.clear();
        loads({k.load});
        run(kRows);
        EXPECT_EQ(target(k.col), k.expect);
    }
}

TEST_F(LoadTest, WhereTestsPickTheRowsTheAggregatesCover) {
    const std::string blank14(14, ' ');
    struct Case {
        const char* load;
        const char* col;
        std::string expect;
    };
    const Case cases[] = {
        {"COUNT CPU -> VC.NCPU where CPU < 9", "NCPU", blank14 + " 3"},  // 5, 3, 3
        {"count CPU -> VC.NCPU where STATUS = 'Y'", "NCPU", blank14 + " 2"},
        {"COUNT CPU -> VC.NCPU where CPU > 3 and < 9", "NCPU", blank14 + " 1"},
        {"COUNT CPU -> VC.NCPU where CPU > 100", "NCPU", blank14 + " 0"},
        {"SUM CPU -> VC.NCPU WHERE CPU > 4", "NCPU", std::string(11, ' ') + "23.00"},
        {"AVERAGE CPU -> VC.NCPU where CPU > 4", "NCPU", std::string(12, ' ') + "7.67"},
        {"AVERAGE CPU -> VC.NCPU where CPU > 100", "NCPU", std::string(13, ' ') + "0.0"},
        // Without an aggregate: the first matching row; no match moves nothing.
        {"NAME -> VC.TOPNAME where STATUS = 'X'", "TOPNAME", "carl "},
        {"NAME -> VC.TOPNAME where STATUS = 'Q'", "TOPNAME", "none "},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.load);
        src->load_list.reset();
        src->rows.clear();
        vc->rows.clear();
        ASSERT_EQ(init_virtuals(), 0);  // the target back to its initial row
        loads({k.load});
        run(kRows);
        EXPECT_EQ(target(k.col), k.expect);
    }
}

TEST_F(LoadTest, AWhereOnAnUnknownColumnFailsTheEdit) {
    src->load_list.ensure().texts = {"COUNT CPU -> VC.NCPU where GONE = 1"};
    int rc = -1;
    const std::string out = captured([&] { rc = load_pass(); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(has(out, "Load Column (GONE) not found in cursor S")) << out;
    EXPECT_TRUE(has(out, "PLO3088E")) << out;
}

TEST_F(LoadTest, AnEmptyFetchPutsBackTheDictionaryValues) {
    loads({"CPU -> VC.NCPU", "NAME -> VC.TOPNAME", "NAME -> VC.SHORT"});
    run(kRows);
    ASSERT_EQ(target("TOPNAME"), "echo ");
    ASSERT_EQ(target("NCPU"), std::string(15, ' ') + "3");
    run({});
    EXPECT_EQ(target("NCPU"), std::string(14, ' ') + "42");
    EXPECT_EQ(target("TOPNAME"), "none ");
    EXPECT_EQ(target("SHORT"), "   ");
    EXPECT_EQ(vc->rows.size(), 1);
}

TEST_F(LoadTest, MaxOccuranceCountsEveryValueOnce) {
    src->row_limit = 0;
    // 2000 rows, value k % 7 except that 3 gets one extra row at the end.
    for (int i = 0; i < 2000; ++i) ASSERT_GT(fetch(*src, &sel, {{std::to_string(i % 7), "n", "s"}}), 0);
    ASSERT_GT(fetch(*src, &sel, {{"3", "last", "s"}}), 0);
    const row_data* r = get_max_occurance(*src, src->cols[0]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(column_text(*src, *r, "CPU"), "   3");
    EXPECT_EQ(r, src->rows.first()->next->next->next);  // its first row, the fourth
    curs& none = make_cursor("E", {"CPU"});
    EXPECT_EQ(get_max_occurance(none, none.cols[0]), nullptr);
}

TEST(LoadMove, NumbersAlignRightAndTextLeft) {
    struct Case {
        int16_t src_type;
        std::string src;
        int32_t width;
        std::string expect;
    };
    const Case cases[] = {
        {2, "   42", 6, "    42"},
        {2, " 12345", 3, "345"},   // a number keeps its rightmost digits
        {1, "\tab  ", 4, "ab  "},  // tabs and blanks stripped both ends
        {1, "abcdef", 3, "abc"},
        {1, "      ", 2, "  "},
    };
    for (const Case& k : cases) {
        columns s, d;
        s.orig_type = k.src_type;
        s.length = static_cast<int32_t>(k.src.size());
        d.length = k.width;
        std::string dst(static_cast<size_t>(k.width), '#');
        set_one_var(s, d, dst.data(), k.src.c_str(), curs{});
        EXPECT_EQ(dst, k.expect) << k.src;
    }
}

TEST(LoadMove, AggregatesTooWideLoseTheFractionFirst) {
    struct Case {
        const char* text;
        size_t width;
        const char* expect;
    };
    const Case cases[] = {
        {"3", 5, "    3"},     {"12.50", 5, "12.50"}, {"12.50", 4, "12.5"},
        {"123.45", 4, " 123"}, {"123.45", 3, "123"},  {"12345.00", 4, "****"},
        {"12345", 3, "***"},
    };
    for (const Case& k : cases) {
        std::string field(k.width, '#');
        put_aggregate(field.data(), k.width, k.text);
        EXPECT_EQ(field, k.expect) << k.text << " in " << k.width;
    }
}
