#include "control/cursor.h"

#include <gtest/gtest.h>

#include <tuple>

#include "runtime/clock.h"
#include "runtime/messages.h"
#include "collector/schedule.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"
#include "support/state.h"
#include "control/base_clause.h"
#include "control/column_exit_clause.h"
#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "control/load_clause.h"
#include "control/math_clause.h"

using namespace qvx;

namespace {

using ctltest::H;
using ctltest::Spans;
using ctltest::span;

// A clause slot's statements as written, none when the slot is empty.
template <class T>
std::vector<std::string> texts_of(const ClauseSlot<T>& slot) {
    return slot ? slot->texts : std::vector<std::string>{};
}

// A block that passes every check, with extra statements after the INSERT.
std::string block(const std::string& name, const std::string& extra = "") {
    return "cursor " + name + ";\ninsert INTO sys.tab (A, B) VALUES (:A, :B);\n" +
           "interval 30;\nlimit 10;\n" + extra;
}

class CursorParseTest : public ctltest::ParseTest {
protected:
    int parse(const std::string& text) { return parse_file("qvxcoll.ctl", text, parse_curs); }
};

TEST_F(CursorParseTest, CompleteFileBuildsTheCursors) {
    trace_something = 1;
    const long before = now_relative();
    ASSERT_EQ(parse("; comment\ncursor CPU1;\n"
                    "INSERT INTO sys.cpu (NAME, BUSY, IDLE)\n  VALUES (:NAME, :AVG!BUSY,\n :IDLE); rest\n"
                    "Insert_Where busy > 0;\nINTERVAL 60;\nlimit 500;\ntime 300;\nclass 7;\n"
                    "samples 3;\nobjid 123456;\nset 12;\nrpc_version 2;\nuuidbase a1b2-c3d4;\n"
                    "uuidpavc X;\nuuidpcvc Y;\nstart_after 2;\nstop_after 999;\nage_to OLDCPU;\n"
                    "history;\nonce;\nshow_cursor;\nshow_row;\ntraced;\ndummy_last_row;\n"
                    "load a = b;\nload c = d;\nmath x :y + 1;\ndecode d1 = 'a' , 'b';\n"
                    "pre_cursor p;\nin_list l using d1;\ncolumn_exit NAME R_JUSTIFY;\nset_len s 10;\n"
                    "iterate i;\niterate_where w = 1;\ngo_home 60;\n"
                    "saturday_start 2200;\nsaturday_end 0200;\nMON_FRI_START 0800;\nmon_fri_end 1000;\n"
                    "mon_fri_end 1400;\nmon_fri_start 1300;\n"
                    "cursor MEM;\ninsert INTO mem (A) VALUES (:A);\ntable_name OTHER.TAB;\n"
                    "insert_select select a from [x];\nhold;\ndemand;\nstale 20;\nvirtual;\nempty;\n"
                    "end;\nignored after end;\n"),
              0)
        << out;
    ASSERT_EQ(cur_anchor.size(), 2u);
    curs* c = find_cursor("CPU1");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::tie(c->interval, c->row_limit, c->time_limit, c->class_no, c->objid, c->set,
                       c->rpc_version),
              std::make_tuple(60, 500, 300, 7, 123456, 12, 2));
    EXPECT_EQ(std::tie(c->sample_limit, c->start_after, c->stop_after),
              std::make_tuple(int16_t{3}, int16_t{2}, int16_t{999}));
    EXPECT_EQ(std::tie(c->uuidbase, c->uuidpavc, c->uuidpcvc, c->age_to),
              std::make_tuple("a1b2-c3d4", "X", "Y", "OLDCPU"));
    EXPECT_EQ(c->history + c->once + c->show_cursor + c->show_row + c->traced + c->dummy_last_row, 6);
    EXPECT_EQ(c->insert, "INSERT INTO sys.cpu (NAME, BUSY, IDLE) VALUES (?,?,?)");
    EXPECT_EQ(c->insert_col_names, (std::vector<std::string>{"NAME", "BUSY", "IDLE"}));
    EXPECT_EQ(c->sel_piece, "SELECT NAME,BUSY,IDLE,y FROM sys.cpu WHERE busy > 0");
    EXPECT_EQ(c->has_col_funct, 1);
    EXPECT_EQ(texts_of(c->load_list), (std::vector<std::string>{"a = b", "c = d"}));
    ASSERT_TRUE(c->math);
    ASSERT_EQ(c->math->defs.size(), 1u);
    EXPECT_EQ(std::tie(c->math->defs[0].name, c->math->defs[0].text), std::make_tuple("x", "x :y + 1"));
    ASSERT_TRUE(c->decode && c->in_list && c->column_exit && c->set_len);
    EXPECT_EQ(c->decode->anchors.size() + texts_of(c->pre_cursor).size() + c->in_list->lists.size() +
                  c->column_exit->chains.size() + c->set_len->entries.size() + texts_of(c->iterate).size() +
                  texts_of(c->iterate_where).size(),
              7u);
    // The math clause's host variable is a column too.
    ASSERT_EQ(c->cols.size(), 4u);
    EXPECT_EQ(c->cols[3].name, "y");
    EXPECT_EQ(span(c->ranges[kSaturday]), (Spans{{22 * H, 26 * H}}));
    EXPECT_EQ(span(c->ranges[kMonFri]), (Spans{{8 * H, 10 * H}, {13 * H, 14 * H}}));
    EXPECT_EQ(span(c->ranges[kSunday]), (Spans{{0, 86400}}));
    EXPECT_GT(c->window_end, 0u);
    EXPECT_GE(go_home_time, before + 60);
    EXPECT_LE(go_home_time, now_relative() + 60);
    EXPECT_TRUE(trace_something);
    EXPECT_TRUE(said("PCC0305", "Insert_Where busy > 0;"));
    // Clauses that take effect are not named as read without effect.
    for (const char* kind : {"age_to", "column_exit", "set_len", "dummy_last_row"})
        EXPECT_FALSE(said("PCC0516", std::string("CPU1: ") + kind)) << kind;
    EXPECT_FALSE(said("PCC0516", "MEM:"));

    curs* m = find_cursor("MEM");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::tie(m->table_name, m->host_table_name), std::make_tuple("OTHER.TAB", "mem"));
    EXPECT_EQ(m->sel_piece, "select a from [x]");
    EXPECT_EQ(m->bracket + m->demand + m->virtual_cur + m->empty, 4);
    // Demand and virtual cursors get no default interval or limit.
    EXPECT_EQ(std::tie(m->held, m->stale, m->interval, m->row_limit), std::make_tuple('Y', 20, 0, 0));
    EXPECT_TRUE(said("PCC0280", "-- Starting parse of COLLECT.CTL"));
    EXPECT_TRUE(said("PCC0740", "--  Collector Parsing ended at"));
    EXPECT_FALSE(said("PCC0755"));
}

// Errors in arguments are reported one after the other; reading goes on.
TEST_F(CursorParseTest, ArgumentErrorsAreAllReportedInOneRun) {
    struct Row {
        const char* statement;
        const char* id;
        const char* text;
    };
    const Row rows[] = {
        {"interval 1234567;", "PCC0565E", "Invalid interval length (5)"},
        {"interval 5 6;", "PCC0560", "Duplicate interval"},
        {"limit 123456;", "PCC0625E", "Invalid Limit length (6)"},
        {"time 12345;", "PCC0685", "Invalid Time Limit length (5)"},
        {"time 1 2;", "PCC0680", "Duplicate Time Limit"},
        {"class 12345;", "PCC0695", "Invalid Class length (5)"},
        {"class 51;", "PCC0700E", "Excessive Class value"},
        {"class 1 2;", "PCC0690", "Duplicate Class Specified"},
        {"stale 1234567;", "PCC0645", "Invalid interval length (5)"},
        {"go_home 12345;", "PCC0630", "Invalid Go_home length (5)"},
        {"objid 1234567;", "PCC0615", "Invalid set length (7)"},
        {"objid 1 2;", "PCC0610", "Duplicate objid"},
        {"set 12345;", "PCC0595", "Invalid Set length (5)"},
        {"set 1 2;", "PCC0590", "Duplicate set"},
        {"uuidbase 1234567890123456789012345678901234567;", "PCC0655E", "Invalid Uuidbase length (36)"},
        {"uuidpavc a b;", "PCC0660", "Duplicate Uuidpavc"},
        {"uuidpcvc a b;", "PCC0670", "Duplicate Uuidpcvc"},
        {"rpc_version 12345;", "PCC0605", "Invalid Rpc_version length (5)"},
        {"rpc_version 1 2;", "PCC0600", "Duplicate rpc_version"},
        {"samples 12345;", "PCC0635", "Invalid Sample (5)"},
        {"start_after 1234;", "PCC0575", "Invalid start_after (4)"},
        {"stop_after 1 2;", "PCC0580", "Duplicate stop_after"},
        {"age_to ABCDEFGHI;", "PCC0710", "Excessive length on age_to name"},
        {"age_to A B;", "PCC0705", "Duplicate age_to entry"},
        {"saturday_start 800;", "PCC0555E", "Incorrect length for saturday_start (4)"},
        {"saturday_end 0800 0900;", "PCC0560", "Duplicate saturday_end specifi"},
        {"sunday_start 0800 0900;", "PCC0530", "Duplicate sunday_start specifi"},
        {"sunday_end 12.00;", "PCC0545", "Incorrect length for sunday_end (4)"},
        {"mon_fri_start 2599;", "PCC0509", "Invalid time of day (HHMM) for mon_fri_start"},
        {"mon_fri_end 08000;", "PCC0525", "Incorrect length for mon_fri_end (4)"},
        {"insert_where a = 1;", "PCC0495", "Duplicate insert_where entry"},
        {"insert_select x;", "PCC0500", "Duplicate insert_select entry"},
        {"script s;", "PCC0490", "Duplicate script entry"},
        {"fetch_exit fetchx1t 20;", "PCC0485E", "Fetch exit routine not known"},
        {"fetch_exit fetchx2;", "PCC0480", "Duplicate fetch_exit entry"},
        {"insert INTO t2.x (A) VALUES (:A);", "PCC0465E", "Duplicate INSERT entry"},
        {"interval x1;", "PCC0511", "Value for interval is not a number: x1"},
        {"table_name;", "PCC0508", "Missing value for table_name"},
        {"math R A B;", "PMA3465E", "Bad math syntax starting at word 1 in R A B"},
        {"math decimal x R A;", "PMA3370E", "Decimal speci" "fied without value in decimal x R A"},
        {"else;", "PIF0050E", "ELSE has no matching IF for cursor C1"},
        {"endif;", "PIF0070E", "ENDIF has no matching IF for cursor C1"},
    };
    std::string text = "cursor C1;\ninsert INTO sys.tab (A) VALUES (:A);\ninsert_where b = 2;\n"
                       "insert_select select a from t;\nscript s0;\n";
    for (const Row& r : rows) text += std::string(r.statement) + "\n";
    text += "end;\n";
    EXPECT_EQ(parse(text), 1);
    for (const Row& r : rows) EXPECT_TRUE(said(r.id, r.text)) << r.statement;
    EXPECT_FALSE(said("PCC0730"));
    EXPECT_TRUE(said("PCC0755E", "Parsing ended with errors"));
    // Reading went on to the end: the block was closed and kept.
    ASSERT_EQ(cur_anchor.size(), 1u);
    EXPECT_EQ(cur_anchor[0]->sel_piece, "select a from t WHERE b = 2");
    EXPECT_EQ(cur_anchor[0]->window_end, 0u);  // no windows after errors
}

// Errors that stop the file: nothing after them is read.
TEST_F(CursorParseTest, StopErrorsEndTheReading) {
    struct Row {
        std::string text;
        const char* id;
        const char* message;
    };
    const std::string ok = block("OK1");
    const Row rows[] = {
        {"interval 5;\n", "PCC0325", "First word must be 'cursor'"},
        {"cursorx A;\n", "PCC0320", "First word must be 'cursor'"},
        {ok + "frobnicate 1;\n", "PCC0315", "Unknown keyword (frobnicate)"},
        {ok + "'abc;\n", "PCC0310", "Parsing failed : Syntax error"},
        {ok + "math a = 'x;\n", "PCC0460", "Missing an ending \" or ' within max word length"},
        {ok + "math a = b);\n", "PCC0460", "Right parenthesis without preceeding Left"},
        {ok + "math a = (b;\n", "PCC0725", "Parentheses do not balance"},
        {ok + "cursor ABCDEFGHI;\n", "PCC0450", "Cursor name exceeeds 8 characters"},
        {ok + "cursor;\n", "PCC0445", "No Cursor name supplied"},
        {"cursor A;\ninsert INTO t.x VALUES (:%rowno, :%SQLCODE_1);\ncursor B;\n", "PCC0020E",
         "Error - No columns to fetch"},
        {"cursor A;\nlimit 5;\ncursor B;\n", "PCC0360", "Cursor (A). No model INSERT statement"},
    };
    for (const Row& r : rows) {
        SetUp();
        EXPECT_EQ(parse(r.text + "limit 123456;\n" + block("LATE") + "end;\n"), 1) << r.text;
        EXPECT_TRUE(said(r.id, r.message)) << r.text << out;
        EXPECT_FALSE(said("PCC0625")) << r.text;  // the later error is never read
        EXPECT_FALSE(said("PCC0730")) << r.text;
        EXPECT_TRUE(said("PCC0755")) << r.text;
        EXPECT_EQ(find_cursor("LATE"), nullptr) << r.text;
    }
}

TEST_F(CursorParseTest, DuplicateCursorNameReturnsAtOnceAndMissingEndFails) {
    EXPECT_EQ(parse(block("A") + block("B") + block("A") + "end;\n"), 1);
    EXPECT_TRUE(said("PCC0455", "Duplicate cursor name A"));
    EXPECT_FALSE(said("PCC0740"));  // no end banner
    EXPECT_EQ(cur_anchor.size(), 2u);

    EXPECT_EQ(parse(block("A") + block("B") + "end"), 1);
    EXPECT_TRUE(said("PCC0730", "Missing end statement"));
    EXPECT_TRUE(said("PCC0755"));
    EXPECT_EQ(cur_anchor.size(), 1u);  // B was never closed
}

TEST_F(CursorParseTest, ScheduledCursorGetsDefaultIntervalAndLimit) {
    ASSERT_EQ(parse("cursor A;\ninsert INTO t.x (C) VALUES (:C);\nend;\n"), 0) << out;
    EXPECT_EQ(cur_anchor[0]->interval, 10);
    EXPECT_EQ(cur_anchor[0]->row_limit, 200);
    EXPECT_TRUE(said("PCC0345W", "Using default interval of 10 seconds for cursor A"));
    EXPECT_TRUE(said("PCC0370W", "Warning, Cursor (A) No cursor row limit, using 200 rows"));
    // A time limit is enough.
    ASSERT_EQ(parse("cursor A;\ninsert INTO t.x (C) VALUES (:C);\ntime 60;\nend;\n"), 0) << out;
    EXPECT_EQ(cur_anchor[0]->row_limit, 0);
    EXPECT_FALSE(said("PCC0370"));
}

// Block checks stop the file; each is tried on its own.
TEST_F(CursorParseTest, BlockChecks) {
    const std::pair<std::string, std::string> rows[] = {
        {"stale 5;", "PCC0340"},
        {"dummy_last_row;\nconditional_dummy_last_row;", "PCC0350"},
        {"empty;\nonce;", "PCC0390"},
        {"no_sql;\ninsert_select select 1;", "PCC0400"},
        {"no_sql;\nvirtual;", "PCC0405"},
        {"no_sql;\nbase b on k->k;", "PCC0410"},
        {"iterate_where w = 1;", "PCC0415"},
    };
    for (const auto& [extra, id] : rows) {
        EXPECT_EQ(parse(block("A", extra + "\n") + "end;\n"), 1) << extra;
        EXPECT_TRUE(said(id)) << extra << out;
        EXPECT_TRUE(cur_anchor.empty());
    }
    // Without host variables there is no column and nothing to compact;
    // a third word that is no table name leaves the cursor without one.
    EXPECT_EQ(parse("cursor A;\ninsert INTO (B) VALUES (1);\nend;\n"), 1);
    EXPECT_TRUE(said("CEV1820W", "No host variables in INSERT"));
    EXPECT_TRUE(said("PCC0715", "Invalid table name format"));
    EXPECT_TRUE(said("PCC0355", "No local columns to fetch for insert"));
    EXPECT_TRUE(said("PCC0365", "Cursor (A). No table name found"));
}

TEST_F(CursorParseTest, EditWithoutNameUsesShortMessages) {
    curs c;
    const std::string text = qvxtest::captured([&] { EXPECT_EQ(edit_cursor_block(c), 1); });
    EXPECT_TRUE(qvxtest::has(text, "PCC0327E"));
    for (const char* m : {"No model INSERT statement", "No table name found",
                          "Warning, No cursor row limit, using 200 rows"}) {
        EXPECT_TRUE(qvxtest::has(text, m)) << m;
    }
    EXPECT_FALSE(qvxtest::has(text, "Cursor ("));
    EXPECT_EQ(std::string(c.blank16.data(), 16), std::string(16, ' '));
}

TEST_F(CursorParseTest, InsertColumnCountMustMatchHostVariables) {
    EXPECT_EQ(parse("cursor A;\ninsert INTO t.x (A, B) VALUES (:X, :Y, :Z);\nend;\n"), 1);
    EXPECT_TRUE(said("PCC0470E", "On INSERT, num of cols (2) is not num HVs (3)"));
    EXPECT_TRUE(said("PCC0475I", "Col #0 = A"));
    EXPECT_TRUE(said("PCC0475I", "Col #1 = B"));
    ASSERT_EQ(cur_anchor.size(), 1u);  // an INSERT error only marks the file
    EXPECT_EQ(cur_anchor[0]->insert, "insert INTO t.x (A, B) VALUES (?,?,?)");
}

TEST_F(CursorParseTest, InsertTableNamesAndFaults) {
    // The third word and every dotted word (not host variables) are table
    // names: the first is the table name, the last the host table name.
    ASSERT_EQ(parse("cursor A;\ninsert INTO plain (x.A) VALUES (:Q.B);\nend;\n"), 0) << out;
    EXPECT_EQ(std::tie(cur_anchor[0]->table_name, cur_anchor[0]->host_table_name),
              std::make_tuple("plain", "x.A"));
    EXPECT_EQ(cur_anchor[0]->cols[0].qualified, 1);
    // Without a column list the marks themselves are read as names.
    ASSERT_EQ(parse("cursor A;\ninsert INTO t.x VALUES (:A, :B);\nend;\n"), 0) << out;
    EXPECT_EQ(cur_anchor[0]->insert_col_count, 2);

    const std::pair<std::string, std::string> rows[] = {
        {"insert INTO ab (A) VALUES (:A);", "PCC0715"},
        {"insert INTO sys.t. (A) VALUES (:A);", "PCC0720"},
        {"insert INTO sys.t VALUES :A(1;", "CEV1825"},
        {"INSERT  !upa1 (A) VALUES (:A);", "CAT1935"},
    };
    for (const auto& [stmt, id] : rows) {
        EXPECT_EQ(parse("cursor A;\n" + stmt + "\ntable_name T.X;\nend;\n"), 1) << stmt;
        EXPECT_TRUE(said(id)) << stmt << out;
    }
    EXPECT_TRUE(said("CAT1935", "Can NOT open upa1.UPA"));
}

TEST_F(CursorParseTest, WindowPairs) {
    ASSERT_EQ(parse(block("A", "sunday_end 0200;\nsunday_start 2200;\nSaturday_Start 0000;\n"
                               "saturday_end 2400;\nmon_fri_start 0900;\n") +
                    "end;\n"),
              0)
        << out;
    const curs& c = *cur_anchor[0];
    EXPECT_EQ(span(c.ranges[kSunday]), (Spans{{79200, 93600}}));
    EXPECT_EQ(span(c.ranges[kSaturday]), (Spans{{0, 86400}}));
    // A start left without its end gives no range (whole day) and a warning.
    EXPECT_EQ(span(c.ranges[kMonFri]), (Spans{{0, 86400}}));
    EXPECT_TRUE(said("PCC0512W", "mon_fri_start without its end ignored in A"));
}

TEST_F(CursorParseTest, TraceAllReachesEveryCursor) {
    ASSERT_EQ(parse(block("A") + block("B", "TRACE_ALL;\n") + "end;\n"), 0) << out;
    EXPECT_TRUE(trace_all && trace_something);
    for (const auto& c : cur_anchor) EXPECT_EQ(c->trace, 1) << c->cur_name;
}

TEST_F(CursorParseTest, MissingFileFails) {
    EXPECT_EQ(parse_curs(), 1);
    EXPECT_TRUE(cur_anchor.empty());
}

TEST(CursorKeywords, TestWordAnyCaseFullLength) {
    const std::pair<std::string, int> rows[] = {
        {"cursor", 4},   {"CURSOR", 4},      {"CuRsOr", 4},  {"curso", 0},
        {"cursors", 0},  {"trace_all", 56},  {"end", 29},    {"conditional_dummy_last_row", 51},
        {"endif", 59},   {std::string(60, 'a'), 0},          {"", 0},
    };
    for (const auto& [w, code] : rows) EXPECT_EQ(test_word(w.data(), w.size()), code) << w;
}

TEST(CursorList, FindUsesIndexAndSeesDirectAppends) {
    delete_cursors();
    for (int i = 0; i < 3000; ++i) {
        auto c = std::make_unique<curs>();
        c->cur_name = "C" + std::to_string(i);
        add_cursor(std::move(c));
    }
    auto direct = std::make_unique<curs>();
    direct->cur_name = "DIRECT";
    cur_anchor.push_back(std::move(direct));
    EXPECT_EQ(find_cursor("C2999"), cur_anchor[2999].get());
    EXPECT_EQ(find_cursor("DIRECT"), cur_anchor.back().get());
    EXPECT_EQ(find_cursor("C3000"), nullptr);
    EXPECT_EQ(find_cursor("C1 "), nullptr);  // names compare whole
    delete_cursors();
    EXPECT_EQ(find_cursor("C1"), nullptr);
}

TEST(FetchExitNames, NameAndModeAgainstATable) {
    const std::vector<FetchExitSpec> table = {{"fetchxi", 0, 0, 9}, {"fetchxi1", 7, 0, 9},
                                             {"fetchx1", 0, 0, 1}};
    struct Row {
        const char* word;
        const char* next;
        const char* name;  // null: no match
        int mode;
        int timeout;
    };
    const Row rows[] = {
        {"FETCHX1", "", "fetchx1", 0, 0},   {"fetchx1t", "", "fetchx1", 1, 30},
        {"fetchx1t45", "", "fetchx1", 1, 45}, {"fetchx1t", "12", "fetchx1", 1, 12},
        {"fetchx1p", "", "fetchx1", 2, 0},  {"fetchxi1", "", "fetchxi1", 7, 0},
        {"fetchxi1t", "", "fetchxi1", 1, 30}, {"fetchx1q", "", nullptr, 0, 0},
        {"fetchx1t4x", "", nullptr, 0, 0},  {"fetchx", "", nullptr, 0, 0},
    };
    for (const Row& r : rows) {
        auto m = match_fetch_exit(r.word, r.next, table);
        ASSERT_EQ(m.has_value(), r.name != nullptr) << r.word;
        if (!m) continue;
        EXPECT_EQ(std::tie(m->name, m->mode, m->timeout), std::make_tuple(r.name, r.mode, r.timeout))
            << r.word;
    }
    EXPECT_TRUE(match_fetch_exit("fetchxi1", "", table)->runs_script());
}

} // namespace
