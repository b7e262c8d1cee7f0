#include <gtest/gtest.h>

#include "channel/serve_nupa.h"
#include "control/distributor.h"
#include "db/database.h"
#include "pipeline/cursor_run.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/send_layout.h"
#include "row_fixture.h"
#include "runtime/clock.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

class NupaTest : public StoreTest {
protected:

    distrib& add_distributor(const std::string& name) {
        auto d = std::make_unique<distrib>();
        d->distrib_name = name;
        d->class_sw[0] = 1;
        distrib_anchor.push_back(std::move(d));
        return *distrib_anchor.back();
    }

    // A cursor open all day holding rows of T (text, width 4) and N (integer).
    curs& filled(const std::string& name, const std::vector<Row>& rows) {
        Select s;
        s.item("T", 1, 4).item("N", 2, 6);
        curs& c = make_cursor(name, {"T", "INT!N"});
        c.insert = "INSERT INTO " + name + " (T, N) VALUES (?,?)";
        c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        fetch(c, &s, rows);
        return c;
    }
};

} // namespace

TEST_F(NupaTest, WritesTheRowsOfTheCursorsItNames) {
    distrib& nupa = add_distributor("nupa");
    const long now = now_relative();
    filled("ONE", {Row{"ab", "12"}, Row{"cdef", "-3"}});
    filled("HELD", {Row{"x", "1"}}).held = 'Y';
    filled("CLASS2", {Row{"y", "2"}}).class_no = 2;
    curs& later = filled("LATER", {Row{"z", "3"}});
    later.window_start = static_cast<uint32_t>(now + 3600);
    later.window_end = static_cast<uint32_t>(now + 7200);

    int rc = -1;
    const std::string out = captured([&] { rc = do_nupa(nupa, now); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(has(out, "CIR1650I")) << out;
    EXPECT_TRUE(has(out, "Nupa for ONE\n"));
    // Text comes zero-padded from the fetch: only blanks are trimmed.
    for (const char* line : {"#=1,n=T,l=4,o=0,ll=4:ab\n", "#=2,n=N,l=2,o=4,ll=4:12\n", "#=1,n=T,l=4,o=0,ll=4:cdef\n",
                             "#=2,n=N,l=2,o=4,ll=4:-3\n"})
        EXPECT_TRUE(has(out, line)) << line;
    for (const char* skipped : {"HELD", "CLASS2", "LATER"}) EXPECT_FALSE(has(out, std::string("Nupa for ") + skipped));
    // The INSERT text is written once per change of cursor.
    EXPECT_EQ(out.find("INSERT INTO ONE (T, N)"), out.rfind("INSERT INTO ONE (T, N)"));
}

TEST_F(NupaTest, SendARowByType) {
    const struct {
        const char* word;
        int16_t type;
        const char* value;
        const char* line;
    } cases[] = {
        {"T", 1, "     ", "#=1,n=T,l=1,o=0,ll=5: \n"},
        {"T", 1, "ab   ", "#=1,n=T,l=2,o=0,ll=5:ab\n"},
        {"T^3", 1, "abcde", "#=1,n=T,l=3,o=0,ll=3:abc\n"},
        {"INT!T", 2, "-42", "#=1,n=T,l=3,o=0,ll=4:-42\n"},
        {"FLOAT!T", 2, "2.5", "#=1,n=T,l=8,o=0,ll=8:2.500000\n"},
        {"NS!T", 1, "abc", "#=1,n=T,l=3,o=0,ll=0:ZIP\n"},
    };
    for (const auto& k : cases) {
        Select s;
        s.item("T", k.type, 5);
        curs& c = make_cursor(k.word, {k.word});
        fetch(c, &s, {Row{k.value}});
        std::vector<char> row = image(c);
        const std::string out = captured([&] { EXPECT_EQ(send_a_row(c, row.data()), 0); });
        EXPECT_TRUE(has(out, "CPR1895I")) << out;
        EXPECT_TRUE(has(out, k.line)) << k.word << ": " << out;
        EXPECT_EQ(last_curs, &c);
    }
}

TEST_F(NupaTest, ColumnListingIsWrittenOnce) {
    Select s;
    s.item("A", 1, 3).item("B", 2, 6).item("C", 2, 6).item("D", 2, 8).item("E", 12, 9);
    curs& c = make_cursor("LIST", {"A", "B", "INT!C", "NS!D", "FLOAT!E"});
    c.host_table_name = "HOSTTAB";
    c.insert_col_names = {"HA", "HB", "HC"};
    c.show_cursor = 1;
    std::string out = captured([&] { fetch(c, &s, {Row{"a", "1", "2", "3", "x"}}); });
    EXPECT_TRUE(has(out, "CSC1900T")) << out;
    for (const char* line : {"Curs= LIST , host table= HOSTTAB\n",
                             "#2 Host=HB (4,6), Orig=B, Orig-t=Number, send_t=Right alligned, len=6\n",
                             "#3 Host=HC (11,6), Orig=C, Orig-t=Number, send_t=Integer, len=4\n",
                             "#4 Host= (18,8), Orig=D, Orig-t=Number, send_t=NO-SEND, len=0\n",
                             "#5 Host= (27,9), Orig=E, Orig-t=Date, send_t=Char, len=9\n"})
        EXPECT_TRUE(has(out, line)) << line;
    out = captured([&] { fetch(c, &s, {Row{"a", "1", "2", "3", "x"}}); });
    EXPECT_FALSE(has(out, "CSC1900"));
}

TEST_F(NupaTest, RunningACursor) {
    distrib& collector = add_distributor("collector");
    collector.type = 2;
    collector_at = &collector;
    curs& c = make_cursor("RUN", {"%rowno"});
    ASSERT_EQ(create_percent_cursor(), 0);
    c.trace = 1;
    c.held = 'Y';
    std::string out = captured([&] { EXPECT_EQ(run_cursor(c, "20240101000000"), 0); });
    EXPECT_TRUE(has(out, "CIT3143T") && has(out, "Not running held cursor RUN.\n")) << out;
    EXPECT_EQ(c.sample_no, 0);

    // Without SQL no logon is needed; "empty" discards before the run.
    c.held = 'N';
    c.no_sql = 1;
    c.empty = 1;
    captured([&] { EXPECT_EQ(get_cursor_data(c) + get_cursor_data(c), 0); });
    EXPECT_EQ(c.rows.size(), 1);
    EXPECT_EQ(c.sample_no, 2);
    EXPECT_EQ(collector.last_status, "GOOD");

    // A failing logon: "CNCT" from the run, "FAIL" for the collection.
    qvxtest::ScopedEnv env;
    env.set("COLL_CONNECT", "nowhere:at-all");
    c.no_sql = 0;
    c.stale_until = 99;
    captured([&] { EXPECT_EQ(run_cursor(c, "20240101000000"), 1); });
    EXPECT_EQ(collector.last_status, "CNCT");
    ASSERT_NE(c.conn_rc, 0);
    const std::string code = std::to_string(c.conn_rc);
    EXPECT_EQ(c.conn_rc_text, std::string(16 - code.size(), ' ') + code);
    EXPECT_EQ(std::string(percent_cursor->rows.first()->text() + find_pcnt_col("%sqlcode_RUN")->buf_offset, 16),
              c.conn_rc_text);
    EXPECT_EQ(db_logon_state, kLogonFailed);
    db_logon_state = kLogonRenew;  // a renewal asked for survives a failed logon
    captured([&] { EXPECT_EQ(get_cursor_data(c), 1); });
    EXPECT_EQ(db_logon_state, kLogonRenew);
    EXPECT_EQ(collector.last_status, "FAIL");
    EXPECT_EQ(c.stale_until, 0u);

}
