#include <gtest/gtest.h>

#include <cstring>

#include "pipeline/cluster.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/send_layout.h"
#include "row_fixture.h"
#include "support/date_normalize.h"
#include "support/state.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

class SendLayoutTest : public StoreTest {};

template <typename T>
T at(const std::vector<char>& v, int32_t offset) {
    T x;
    std::memcpy(&x, v.data() + offset, sizeof x);
    return x;
}

} // namespace

TEST_F(SendLayoutTest, OffsetsAlignIntegersAndFloats) {
    const struct {
        std::vector<std::string> words;
        std::vector<int32_t> widths, offsets;
        int32_t size;
    } cases[] = {
        {{"T", "INT!N"}, {3, 6}, {0, 4}, 8},
        {{"T", "FLOAT!N"}, {3, 6}, {0, 8}, 16},
        {{"INT!N", "T", "FLOAT!M", "NS!S", "U"}, {5, 1, 6, 2, 2}, {0, 4, 8, 0, 16}, 18},
        {{"T^6", "INT!N"}, {3, 6}, {0, 8}, 12},  // the send width counts
        {{"TS!D", "T"}, {20, 2}, {0, 20}, 22},
    };
    for (const auto& k : cases) {
        Select s;
        for (size_t i = 0; i < k.words.size(); ++i) {
            std::string name = k.words[i].substr(k.words[i].find('!') + 1);
            s.item(name.substr(0, name.find('^')), 1, k.widths[i]);
        }
        curs& c = make_cursor("LAY" + std::to_string(k.size), k.words);
        ASSERT_GT(fetch(c, &s, {Row{}}), 0);
        EXPECT_EQ(get_row_size(c), k.size) << k.words[0];
        for (size_t i = 0; i < k.offsets.size(); ++i) EXPECT_EQ(c.cols[i].row_offset, k.offsets[i]) << i;
    }
}

TEST_F(SendLayoutTest, IntegerFloatAndTimestampConversion) {
    Select s;
    s.item("I", 2, 8).item("F", 2, 10).item("D", 1, 16).item("J", 1, 6);
    curs& c = make_cursor("CNV", {"INT!I", "FLOAT!F", "TS!D", "INT!J"});
    const struct {
        Row row;
        int32_t i;
        double f;
        int32_t j;
    } cases[] = {
        {Row{"42", "2.5", "2024-01-02 03:04", "  -7x"}, 42, 2.5, -7},
        {Row{Value{}, "-1e3", "20240102", "      "}, 0, -1000.0, 0},
        {Row{"99999999", "   ", "x", "12ab34"}, 99999999, 0.0, 12},
    };
    for (const auto& k : cases) {
        fetch(c, &s, {k.row});
        const std::vector<char> v = image(c);
        EXPECT_EQ(at<int32_t>(v, 0), k.i);
        EXPECT_DOUBLE_EQ(at<double>(v, 8), k.f);
        EXPECT_EQ(at<int32_t>(v, 32), k.j);
        EXPECT_EQ(std::string(v.data() + 4, 4), std::string(4, '\0'));  // padding
        char expected[16];
        std::memset(expected, '0', sizeof expected);
        const std::string d = column_text(c, *c.rows.last(), "D");
        us_normalizeDateTime(d.data(), static_cast<int>(d.size()), expected);
        EXPECT_EQ(std::string(v.data() + 16, 16), std::string(expected, 16)) << d;
    }
    // show_row traces the next conversion only.
    c.show_row = 1;
    const std::string out = captured([&] { image(c); });
    EXPECT_TRUE(has(out, "DMK3725T") && has(out, "Formatted row data for CNV\n")) << out;
    EXPECT_TRUE(has(out, "= I(0,4) Converted to integer : 99999999\n"));
    EXPECT_TRUE(has(out, "= F(8,8) Converted to float : " + std::string(10, ' ') + "\n"));
    EXPECT_TRUE(has(out, "= D(16,16) Converted TIMESTAMP : x\n"));
    EXPECT_EQ(captured([&] { image(c); }), "");
}

TEST_F(SendLayoutTest, SetLengthRules) {
    const struct {
        int16_t type;
        std::string value;  // numbers arrive right-justified to the width 10
        int set_len;
        std::string sent;
    } cases[] = {
        {2, "12345", 5, "12345"},               // right-aligned number: its right end
        {1, "abcdefghij", 5, "abcde"},          // text: its left end
        {2, "12345", 12, "       12345"},       // wider: number to the right
        {1, "abcdefghij", 12, "abcdefghij  "},  // wider: text to the left
        {2, "1234567890", 4, "1234"},           // a number without a leading blank: left end
        {2, "42", 10, "        42"},            // equal to the width: cleared, sent as it is
    };
    for (const auto& k : cases) {
        Select s;
        s.item("V", k.type, 10);
        curs& c = make_cursor("SET" + k.value + std::to_string(k.set_len), {"V^" + std::to_string(k.set_len)});
        ASSERT_EQ(fetch(c, &s, {Row{k.value}}), 10);
        EXPECT_EQ(c.cols[0].set_length, k.set_len == 10 ? 0 : k.set_len);
        const std::vector<char> v = image(c);
        EXPECT_EQ(std::string(v.begin(), v.end()), k.sent) << k.type << " " << k.value << " " << k.set_len;
    }
}

TEST_F(SendLayoutTest, ClustersAreWalkedAndClosedOnce) {
    Select s;
    s.item("V", 2, 3);
    curs& c = make_cursor("CLU", {"INT!V"});
    fetch(c, &s, {Row{"1"}, Row{"2"}, Row{"3"}});
    cluster* cl = open_cursor(c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->len, 4);
    std::vector<int32_t> seen;
    while (fetch_cur(cl) == 0) seen.push_back(at<int32_t>(std::vector<char>(cl->cur, cl->cur + 4), 0));
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(cl->rc, 100);
    EXPECT_EQ(close_cur(cl), 0);
    // Once closed the block is unknown: refused, not touched.
    EXPECT_EQ(fetch_cur(cl), 100);
    EXPECT_EQ(close_cur(cl), 1);
    cluster stray;
    EXPECT_EQ(fetch_cur(&stray), 100);
    EXPECT_EQ(stray.started, 0);

    // An empty store gives an empty block; a held cursor none.
    delete_all(c);
    cl = open_cursor(c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(fetch_cur(cl), 100);
    close_cur(cl);
    c.held = 'Y';
    EXPECT_EQ(open_cursor(c), nullptr);
}

TEST_F(SendLayoutTest, DemandCursorRunsWhenStale) {
    curs& c = make_cursor("DEM", {"%sampleno"});
    c.demand = 1;
    c.no_sql = 1;
    ASSERT_EQ(create_percent_cursor(), 0);
    // stale 0: run on every read and emptied after it; stale 60: a second
    // read within the minute is served from the store without a run.
    const struct {
        int32_t stale, rows_after, sample_no;
    } steps[] = {{0, 0, 1}, {0, 0, 2}, {60, 1, 3}, {60, 1, 3}};
    for (const auto& k : steps) {
        c.stale = k.stale;
        cluster* cl = open_cursor(c);
        ASSERT_NE(cl, nullptr);
        EXPECT_EQ(cl->count, 1);
        EXPECT_EQ(std::string(cl->data(), 16), std::string(15, ' ') + std::to_string(k.sample_no));
        close_cur(cl);
        EXPECT_EQ(c.rows.size(), k.rows_after);
    }
    c.held = 'Y';
    EXPECT_EQ(prep_demand(c), nullptr);
}
