#include <gtest/gtest.h>

#include <cstring>

#include "control/distributor.h"
#include "pipeline/cluster.h"
#include "pipeline/column_ref.h"
#include "pipeline/percent_cursor.h"
#include "row_fixture.h"
#include "runtime/settings.h"
#include "support/state.h"
#include "control/base_clause.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;
using Texts = std::vector<std::string>;

namespace {

class RowStoreTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        sel.item("N", 2, 4);
    }

    std::vector<Row> rows_of(std::initializer_list<const char*> values) {
        std::vector<Row> out;
        for (const char* v : values) out.push_back(Row{std::string(v)});
        return out;
    }

    Select sel;  // one Number item N of width 4
};

const std::string k16(const std::string& digits) { return std::string(16 - digits.size(), ' ') + digits; }

} // namespace

TEST_F(RowStoreTest, RowLimitKeepsTheNewestRows) {
    curs& c = make_cursor("LIM", {"N"});
    c.row_limit = 3;
    EXPECT_EQ(fetch(c, &sel, rows_of({"1", "2", "3", "4", "5"})), 4);
    EXPECT_EQ(c.rows.size(), 3);
    EXPECT_EQ(column_values(c, "N"), (Texts{"   3", "   4", "   5"}));
    EXPECT_EQ(c.rows.first()->row_no, 3);
}

TEST_F(RowStoreTest, ARejectedRowLeavesAFullStoreAlone) {
    curs& src = make_cursor("SRC", {"N"});
    fetch(src, &sel, rows_of({"9"}));
    curs& c = make_cursor("DST", {"N", "SRC.N"});
    c.cols[1].source = {&src, 0};  // as the qualified-name pass binds it
    c.row_limit = 2;
    ASSERT_GT(fetch(c, &sel, rows_of({"1", "2"})), 0);
    delete_all(src);
    const std::string out = captured([&] { EXPECT_EQ(fetch(c, &sel, rows_of({"3"})), 0); });
    EXPECT_TRUE(has(out, "No last row for cur SRC as used by DST")) << out;
    EXPECT_EQ(column_values(c, "N"), (Texts{"   1", "   2"}));
    EXPECT_EQ(column_values(c, "SRC.N"), (Texts{"   9", "   9"}));
}

TEST_F(RowStoreTest, SampleLimitKeepsTheLatestSamplesAndReadsTheCurrentOne) {
    curs& c = make_cursor("SMP", {"N"});
    c.sample_limit = 2;
    for (const char* v : {"1", "2", "3", "4"}) {
        delete_by_samples(c);
        fetch(c, &sel, rows_of({v, v}));
    }
    EXPECT_EQ(column_values(c, "N"), (Texts{"   2", "   2", "   3", "   3", "   4", "   4"}));
    cluster* cl = open_cursor(c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->count, 2);
    EXPECT_EQ(std::string(cl->data(), 4), "   4");
    close_cur(cl);
}

TEST_F(RowStoreTest, AgeTrimStepsByTheLargerIntervalAndDeleteAllEmpties) {
    const struct {
        int32_t collector_interval;
        Texts kept;
    } cases[] = {{0, {"   2", "   3", "   4"}}, {20, {"   3", "   4"}}};
    for (const auto& k : cases) {
        auto d = std::make_unique<distrib>();
        d->interval = k.collector_interval;
        collector_at = d.get();
        curs& c = make_cursor("AGE" + std::to_string(k.collector_interval), {"N"});
        c.interval = 10;
        c.time_limit = 25;
        for (const char* v : {"1", "2", "3", "4"}) {
            delete_by_time(c);
            fetch(c, &sel, rows_of({v}));
        }
        EXPECT_EQ(column_values(c, "N"), k.kept) << k.collector_interval;
        collector_at = nullptr;

        c.trace = 1;
        const std::string out = captured([&] { delete_all(c); });
        EXPECT_TRUE(has(out, "PDR3000T")) << out;
        EXPECT_TRUE(has(out, "Deleting (" + std::to_string(k.kept.size()) + ") rows for cursor AGE"));
        EXPECT_TRUE(c.rows.first() == nullptr && c.rows.last() == nullptr && c.rows.size() == 0);
    }
}

TEST_F(RowStoreTest, NullValuesByType) {
    const struct {
        int16_t type;
        int32_t width;
        std::string stored;
    } cases[] = {{2, 5, "    0"}, {2, 1, "0"}, {1, 2, "NU"}, {1, 6, "NULL  "}, {12, 4, "NULL"}};
    for (const auto& k : cases) {
        Select s;
        s.item("V", k.type, k.width);
        curs& c = make_cursor("NUL" + std::to_string(k.type) + std::to_string(k.width), {"V"});
        ASSERT_EQ(fetch(c, &s, {Row{Value{}}}), k.width);
        EXPECT_EQ(column_text(c, *c.rows.last(), "V"), k.stored) << k.type << "/" << k.width;
    }
}

TEST_F(RowStoreTest, BindingByNamePositionReferenceAndPercentVariable) {
    ASSERT_EQ(create_percent_cursor(), 0);
    curs& src = make_cursor("SRC", {"N"});
    fetch(src, &sel, rows_of({"11", "12"}));

    Select s;
    s.item("A", 1, 3).item("B", 2, 6).item("C", 1, 2);
    curs& c = make_cursor("DST", {"B", "X", "SRC.N", "%sampleno", "%rowno", "%now_time"});
    c.cols[1].occurrence = 2;  // n! addressing: the second item, whatever its name
    c.cols[2].source = {&src, 0};
    ASSERT_GT(fetch(c, &s, {Row{"abc", "42", "zz"}, Row{"def", "7", "yy"}}, "20240506070809"), 0);
    EXPECT_EQ(column_values(c, "B"), (Texts{"    42", "     7"}));
    EXPECT_EQ(column_values(c, "X"), (Texts{"    42", "     7"}));
    EXPECT_EQ(column_values(c, "SRC.N"), (Texts{"  12", "  12"}));
    EXPECT_EQ(column_values(c, "%sampleno"), (Texts{k16("1"), k16("1")}));
    EXPECT_EQ(column_values(c, "%rowno"), (Texts{k16("1"), k16("2")}));
    EXPECT_EQ(column_text(c, *c.rows.last(), "%now_time"), "2024050607080900");
    EXPECT_EQ(c.cols[0].orig_type, 2);

    // Each column at the previous offset + length + 1, zero-terminated.
    int32_t offset = 0;
    for (const columns& k : c.cols) {
        EXPECT_EQ(k.buf_offset, offset) << k.name;
        EXPECT_EQ(c.rows.last()->text()[k.buf_offset + k.length], '\0') << k.name;
        offset += k.length + 1;
    }
    EXPECT_EQ(c.length, offset - 1);

    // Once bound, renamed items do not matter; a list too short for the
    // binding binds again by name.
    std::swap(s.d.items[0].name, s.d.items[1].name);
    s.set(Row{"5", "6", "zz"});
    ASSERT_GT(merge_text(c, &s.d, "20240101000000"), 0);
    EXPECT_EQ(column_text(c, *c.rows.last(), "B"), "     6");
    Select shorter;
    shorter.item("B", 2, 3);
    shorter.set(Row{"9"});
    c.cols[1].occurrence = 1;
    ASSERT_GT(merge_text(c, &shorter.d, "20240101000000"), 0);
    EXPECT_EQ(column_text(c, *c.rows.last(), "B"), "  9");
    EXPECT_EQ(column_text(c, *c.rows.last(), "X"), "  9");
}

TEST_F(RowStoreTest, RejectedRowsAndHolds) {
    const struct {
        std::string what;
        std::string word;
        bool no_sql;
        const char* message;
        bool held;
    } cases[] = {
        {"percent", "%nothing", false, "Un-identified percent variable %nothing", true},
        {"n! no_sql", "X", true, "Cannot use n! addressing in NO_SQL cursor CUR", true},
        {"n! beyond", "X", false, "Occurance (3) exceeds sqlda limit (1), CUR", false},
        {"name no_sql", "A", true, "Name (A) not resolved in non_sql cursor CUR", true},
        {"name missing", "Z", false, "No sqlda entry found for CUR.Z", false},
        {"unbound with width", "Z^4", false, "Could not match Z - holding cursor CUR", true},
        {"source held", "SRC.N", false, "Source cursor SRC held, holding CUR", true},
        {"source empty", "SRC.N", false, "Source cursor SRC has no last row, holding CUR", true},
        {"base no_sql", "A", true, "Cannot use BASE in non_sql cursor CUR", true},
    };
    for (const auto& k : cases) {
        qvxtest::reset_collector_state();
        ASSERT_EQ(create_percent_cursor(), 0);
        Select s;
        s.item("A", 1, 2);
        curs& src = make_cursor("SRC", {"N"});
        curs& c = make_cursor("CUR", {k.word});
        if (k.what.starts_with("n!")) c.cols[0].occurrence = 3;
        if (k.what == "source held") {
            fetch(src, &sel, rows_of({"1"}));
            src.held = 'Y';
        }
        if (k.what.starts_with("source")) {
            c.cols[0].source = {&src, 0};
        }
        if (k.what.starts_with("base")) c.base.ensure().texts.push_back("SRC N");
        int rc = -2;
        const std::string out = captured([&] { rc = fetch(c, k.no_sql ? nullptr : &s, {Row{"ab"}}); });
        EXPECT_EQ(rc, 0) << k.what;
        EXPECT_TRUE(has(out, k.message)) << k.what << ": " << out;
        EXPECT_EQ(c.held == 'Y', k.held) << k.what;
        EXPECT_TRUE(c.rows.size() == 0 && c.bound == 0) << k.what;
    }
}

TEST_F(RowStoreTest, PercentCursorHoldsEveryVariable) {
    curs& a = make_cursor("A1", {"X"});
    make_cursor("B2", {"X"});
    std::memcpy(machine_id.host.data(), "hostname", 8);
    std::memcpy(machine_id.server.data(), "SERVER01xyz", 11);
    ASSERT_EQ(create_percent_cursor(), 0);
    curs& p = *percent_cursor;
    EXPECT_EQ(cur_anchor.back().get(), &p);
    EXPECT_TRUE(p.cur_name == "%CURSOR" && p.demand && p.no_sql && p.bound && p.held == 'Y');
    ASSERT_EQ(p.cols.size(), 10u + 2u + 40u);  // the variables, %sqlcode_ per cursor, 40 %parm
    EXPECT_EQ(p.cols.back().name, "%parm27");
    EXPECT_EQ(find_pcnt_col("%me")->length, 32);

    for (const auto& [name, found] : std::vector<std::pair<std::string, std::string>>{
             {"%ME", "%me"}, {"%SQLCODE_b2", "%sqlcode_B2"}, {"%parm1a", "%parm1a"}, {"%parm28", ""}, {"%sqlcode", ""}}) {
        const columns* col = find_pcnt_col(name);
        EXPECT_EQ(col ? col->name : "", found) << name;
    }
    auto value = [&](const char* name, size_t n) {
        return std::string(p.rows.first()->text() + find_pcnt_col(name)->buf_offset, n);
    };
    EXPECT_EQ(value("%machine_me_ora", 72), "hostname" + std::string(56, ' ') + "SERVER01");
    EXPECT_EQ(value("%sqlcode_A1", 16), k16("0"));
    a.conn_rc = -1017;
    set_percent_sqlcode(a);
    EXPECT_EQ(value("%sqlcode_A1", 16), k16("-1017"));

    env_vars.db_type = "oracle";  // an Oracle collector answers with the longer variable
    EXPECT_EQ(find_pcnt_col("%machine_me")->name, "%machine_me_ora");
    // The percent row is never served nor discarded.
    EXPECT_EQ(open_cursor(p), nullptr);
    delete_all(p);
    EXPECT_NE(p.rows.first(), nullptr);
}

TEST_F(RowStoreTest, FindColumnReferences) {
    ASSERT_EQ(create_percent_cursor(), 0);
    curs& other = make_cursor("OTHER", {"V"});
    curs& c = make_cursor("SELF", {"OWN"});
    const struct {
        std::string name;
        const char* message;  // null: resolved to cursor
        const curs* cursor;
    } cases[] = {
        {"OWN", nullptr, &c},
        {"%now_secs", nullptr, percent_cursor},
        {"OTHER.V", nullptr, &other},
        {"%none", "PDE3950E", nullptr},
        {"PLAIN", "PDE3955E", nullptr},
        {std::string(20, 'C') + ".V", "Cursor name too long in", nullptr},
        {"NOSUCH.V", "Cursor NOSUCH not found in text NOSUCH.V", nullptr},
        {"OTHER.W", "Column (W) not found in text 'OTHER.W'", nullptr},
    };
    for (const auto& k : cases) {
        columns* col = nullptr;
        curs* cur = &c;
        int rc = -1;
        const std::string out = captured([&] { rc = find_col(c, k.name, col, cur); });
        EXPECT_TRUE(k.name != "NOSUCH.V" || cur == nullptr);  // both outputs cleared
        EXPECT_EQ(rc, k.message ? 1 : 0) << k.name;
        if (k.message) {
            EXPECT_TRUE(has(out, k.message)) << k.name << ": " << out;
        } else {
            EXPECT_TRUE(cur == k.cursor && col && k.name.ends_with(col->name)) << k.name;
        }
    }
}
