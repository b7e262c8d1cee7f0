// The four control files are read by one statement loop: each reports an
// over-long statement with the line it ended on and reads on after it, and
// each echoes its lines under its own message when tracing is on.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "control/cursor.h"
#include "control/dictionary.h"
#include "control/distributor.h"
#include "control/reader.h"
#include "control/tracing.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"

using namespace qvx;

namespace {

// One control file: its name, how it is parsed, a text whose third
// statement is over-long and ends on line 4, and whether the statement
// after it was read.
struct ControlFile {
    const char* file;
    std::function<int()> parse;
    std::string text;
    std::function<bool()> read_on;
    const char* echo_prefix;  // message id and level of the echoed lines
    const char* failed_id;    // the parse's "ended with errors" message
};

const std::string kLong(StatementReader::kMaxText + 10, 'v');

std::vector<ControlFile> control_files() {
    return {
        {"qvxdict.ctl", parse_dict,
         "name a;\n; a comment line counts\ninitial " + kLong.substr(8) + "\nab;\ntype char(1);\n" +
             "name b;\ntype char(1);\nend;\n",
         [] { return find_dict_element("b") != nullptr; }, "PDC2055T", "PDC2180E"},
        {"qvxtrac.ctl", parse_trace,
         "trace A;\n; a comment line counts\ntracem " + kLong.substr(7) + "\nB;\ntraced A;\n",
         [] { return find_cursor("A")->traced == 1; }, "PTC4630T", "PTC4755E"},
        {"qvxproc.ctl", parse_distributor,
         "process collector;\n; a comment line counts\nlogon_id " + kLong.substr(9) + "\nx;\n" +
             "type local;\ninterval 60;\nend;\n",
         [] { return find_distributor("collector") && find_distributor("collector")->type == 1; },
         "PPC0770I", "PPC1210E"},
        {"qvxcoll.ctl", parse_curs,
         "cursor C;\n; a comment line counts\nload " + kLong.substr(5) + "\nx;\n" +
             "insert INTO sys.tab (A) VALUES (:A);\ninterval 30;\nlimit 10;\nend;\n",
         [] { return find_cursor("C") && find_cursor("C")->interval == 30; }, "PCC0305I", "PCC0755E"},
    };
}

class StatementLoopTest : public ctltest::ParseTest {
protected:
    int parse(const ControlFile& f, const std::string& text) {
        if (std::string(f.file) == "qvxtrac.ctl") two_cursors();
        return parse_file(f.file, text, f.parse);
    }
};

TEST_F(StatementLoopTest, OverlongStatementNamesItsLastLineAndReadingGoesOn) {
    for (const ControlFile& f : control_files()) {
        SCOPED_TRACE(f.file);
        EXPECT_EQ(parse(f, f.text), 1);
        EXPECT_TRUE(said("RDR0100E", "Statement ending at line 4 of " + dir.file(f.file) +
                                         " is longer than 15996 characters (")) << out;
        EXPECT_TRUE(said("RDR0100E", "more); statement ignored")) << out;
        EXPECT_TRUE(said(f.failed_id, "Parsing ended with errors")) << out;
        EXPECT_TRUE(f.read_on()) << out;
    }
}

TEST_F(StatementLoopTest, LinesAreEchoedUnderEachFilesOwnMessage) {
    for (const ControlFile& f : control_files()) {
        SCOPED_TRACE(f.file);
        trace_something = 1;
        parse(f, f.text);
        // Every line but the comment, cut at 255 characters.
        const std::string last = f.text.substr(f.text.rfind('\n', f.text.size() - 2) + 1);
        EXPECT_TRUE(said(f.echo_prefix, last.substr(0, last.size() - 1))) << out;
        EXPECT_TRUE(said(f.echo_prefix, std::string(200, 'v'))) << out;
        EXPECT_FALSE(said(f.echo_prefix, std::string(256, 'v'))) << out;
        EXPECT_FALSE(said(f.echo_prefix, "comment")) << out;
        // Off, the first line is not echoed (a TRACE.CTL statement may
        // switch it on for the lines after it).
        trace_something = 0;
        parse(f, f.text);
        EXPECT_FALSE(said(f.echo_prefix, f.text.substr(0, f.text.find('\n')))) << out;
    }
}

} // namespace
