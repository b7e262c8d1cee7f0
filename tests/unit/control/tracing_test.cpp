#include "control/tracing.h"

#include <gtest/gtest.h>

#include <string>

#include "control/cursor.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

class TracingTest : public ctltest::ParseTest {
protected:
    curs& A() { return *cur_anchor[0]; }
    curs& B() { return *cur_anchor[1]; }

    int parse(const std::string& text) { return parse_file("qvxtrac.ctl", text, parse_trace); }
    bool ended_ok() const { return said("PTC4760I", "Trace Parsing ended ok"); }
    bool ended_with_errors() const { return said("PTC4755E", "Trace Parsing ended with errors"); }
};

TEST_F(TracingTest, AbsentFileOrNoStatementsIsNoError) {
    EXPECT_EQ(run(parse_trace), 0);
    EXPECT_EQ(parse("; only a comment\n;; another one trace A;\n\n"), 0);
    EXPECT_TRUE(said("PTC4615I", std::string(52, '-')) && !said("PTC4615I", std::string(53, '-')));
    EXPECT_TRUE(said("PTC4620I", "-- Starting parse of TRACE.CTL --- Time = "));
    EXPECT_TRUE(said("PTC4725", std::string(46, '-')) && !said("PTC4725", std::string(47, '-')));
    EXPECT_TRUE(said("PTC4740", "--  Trace Control Parsing ended at "));
    EXPECT_TRUE(ended_ok() && !ended_with_errors()) << out;
}

TEST_F(TracingTest, StatementOverLinesWithOneUnknownCursor) {
    two_cursors();
    EXPECT_EQ(parse("trace\n   A ,\n C, b\n ;\n"), 1);  // names are case-sensitive
    EXPECT_EQ(A().trace, 1);
    EXPECT_EQ(trace_something, 1);
    EXPECT_TRUE(said("PTC4655E", "Cursor to trace (C) not found")) << out;
    EXPECT_TRUE(said("PTC4655E", "Cursor to trace (b) not found")) << out;
    EXPECT_TRUE(ended_with_errors() && !ended_ok());
}

// Each naming keyword, in either case, sets exactly its own switch and
// has its own messages.
TEST_F(TracingTest, NamingKeywords) {
    struct Case {
        const char* keyword;
        int16_t curs::*sw;
        const char *long_id, *long_text, *missing_id, *missing_text;
    };
    const Case cases[] = {
        {"trace", &curs::trace, "PTC4645E", "Trace", "PTC4655E", "Cursor to trace"},
        {"TRACEM", &curs::tracem, "PTC4670E", "Tracem", "PTC4680E", "Cursor on which to trace math"},
        {"traced", &curs::traced, "PTC4685E", "Traced", "PTC4695E",
         "Cursor on which to trace decodes"},
        {"SHOW_ROW", &curs::show_row, "PTC4700E", "Show_row", "PTC4705E",
         "Cursor on which to show_row"},
        {"show_cursor", &curs::show_cursor, "PTC4710E", "Show_cursor", "PTC4715E",
         "Cursor on which to show_row"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyword);
        two_cursors();
        trace_something = 0;
        // A 9-character name is merely unknown; a 10-character one ends
        // its statement (B after it is not read).
        const std::string kw = c.keyword;
        EXPECT_EQ(parse(kw + " ABCDEFGHI A;\n" + kw + " ABCDEFGHIJ, B;\n"), 1);
        for (auto sw :
             {&curs::trace, &curs::tracem, &curs::traced, &curs::show_row, &curs::show_cursor}) {
            EXPECT_EQ(A().*sw, sw == c.sw ? 1 : 0);
            EXPECT_EQ(B().*sw, 0);
        }
        EXPECT_EQ(trace_something, 1);
        EXPECT_TRUE(said(c.missing_id, std::string(c.missing_text) + " (ABCDEFGHI) not found")) << out;
        EXPECT_TRUE(said(c.long_id, std::string(c.long_text) + " cursor name too long : ABCDEFGHIJ"))
            << out;
    }
}

TEST_F(TracingTest, KeywordsOnlyInOneCaseAndExactLength) {
    for (const char* keyword : {"Trace", "traces", "Show_Row", "TraceAll", "End"}) {
        SCOPED_TRACE(keyword);
        two_cursors();
        EXPECT_EQ(parse(std::string(keyword) + " A;\ntrace B;\n"), 1);
        EXPECT_TRUE(said("PTC4640E", "Unknown keyword (" + std::string(keyword) + ")")) << out;
        EXPECT_EQ(A().trace + B().trace, 0);  // nothing after it is read
        EXPECT_TRUE(ended_with_errors());
    }
}

TEST_F(TracingTest, TraceAllInEitherSpellingAndCase) {
    for (const char* keyword : {"traceall", "TRACEALL", "trace_all", "TRACE_ALL"}) {
        SCOPED_TRACE(keyword);
        two_cursors();
        trace_all = 0;
        EXPECT_EQ(parse(std::string(keyword) + " NOSUCH;\n"), 0) << out;  // names are ignored
        for (curs* c : {&A(), &B()})
            EXPECT_TRUE(c->trace && c->show_row && c->show_cursor && !c->traced && !c->tracem);
        EXPECT_EQ(trace_all, 1);
    }
}

TEST_F(TracingTest, StatementBoundariesEchoEndAndSyntaxErrors) {
    two_cursors();
    // Text after ";" on its line is dropped; lines are echoed once something
    // is traced; "end" stops the file.
    EXPECT_EQ(parse("trace A; trace B\n; note\ntracem B;\nEND;\ntraced A;\n"), 0) << out;
    EXPECT_TRUE(A().trace && !B().trace && B().tracem && !A().traced);
    EXPECT_TRUE(said("PTC4630T", "tracem B;") && !said("PTC4630T", "trace A;"));
    EXPECT_FALSE(said("PTC4630T", "note"));
    // Names before a faulty word are taken; nothing after it is read.
    two_cursors();
    EXPECT_EQ(parse("trace A ) B;\ntracem A;\n"), 1);
    EXPECT_TRUE(said("PTC4635E", "Parsing failed : Syntax error - Position = 9 Right parenthesis")) << out;
    EXPECT_TRUE(A().trace && !B().trace && !A().tracem);
}

TEST_F(TracingTest, ResetClearsTraceSwitchesKeepsShowSwitchesAndRereads) {
    two_cursors();
    for (curs* c : {&A(), &B()}) c->trace = c->traced = c->tracem = c->show_row = c->show_cursor = 1;
    trace_all = trace_something = 1;
    dir.write("qvxtrac.ctl", "tracem B;\n");
    out = qvxtest::captured([] { reset_tracing(); });
    EXPECT_EQ(A().trace + A().traced + A().tracem + B().trace + B().traced, 0);
    EXPECT_EQ(A().show_row + A().show_cursor, 2);
    EXPECT_EQ(B().tracem, 1);  // read again from the file
    EXPECT_EQ(trace_all, 0);
    EXPECT_EQ(trace_something, 1);
    EXPECT_TRUE(ended_ok());
}

} // namespace
