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
#include "support/state.h"
#include "support/testenv.h"

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

class StatementLoopTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state_in(dir.path()); }
    void TearDown() override { qvxtest::reset_collector_state(); }

    // Writes and parses one file, keeping every line written.
    int parse(const ControlFile& f, const std::string& text) {
        dir.write(f.file, text);
        if (std::string(f.file) == "qvxtrac.ctl") {  // cursors to name
            delete_cursors();
            for (const char* name : {"A", "B"}) {
                auto c = std::make_unique<curs>();
                c->cur_name = name;
                add_cursor(std::move(c));
            }
        }
        close_PRINT();
        int rc = -1;
        out = qvxtest::captured([&] { rc = f.parse(); });
        if (print_file_open()) out += qvxtest::read_file(print_file_path());
        return rc;
    }
    // A line that begins with the prefix and holds the text.
    bool said(const std::string& prefix, const std::string& text) const {
        for (const auto& line : qvxtest::split_lines(out))
            if (line.rfind(prefix, 0) == 0 && line.find(text) != std::string::npos) return true;
        return false;
    }

    qvxtest::TempDir dir;
    std::string out;
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

// DICT.CTL and TRACE.CTL keep their own messages for the errors found in
// a statement, and stop at the statement that has them.
TEST_F(StatementLoopTest, DictAndTraceKeepTheirOwnStatementErrors) {
    const ControlFile dict = control_files()[0];
    const ControlFile trace = control_files()[1];
    EXPECT_EQ(parse(dict, "name a;\ntype char(1);\nname )b;\nname c;\ntype char(1);\nend;\n"), 1);
    EXPECT_TRUE(said("PDC2060E", "Parsing failed : Syntax error - Position = 6")) << out;
    EXPECT_EQ(find_dict_element("c"), nullptr);
    EXPECT_EQ(parse(dict, "name a;\nType char(1);\nend;\n"), 1);
    EXPECT_TRUE(said("PDC2065E", "Unknown keyword (Type)")) << out;

    EXPECT_EQ(parse(trace, "trace A;\ntracem 'B;\ntraced A;\n"), 1);
    EXPECT_TRUE(said("PTC4635E", "Parsing failed : Syntax error - Position = 8 Missing an ending")) << out;
    EXPECT_EQ(find_cursor("A")->traced, 0);
    EXPECT_EQ(parse(trace, "TRACE A;\nTraced B;\ntraced A;\n"), 1);
    EXPECT_TRUE(said("PTC4640E", "Unknown keyword (Traced)")) << out;
    EXPECT_TRUE(find_cursor("A")->trace == 1 && find_cursor("A")->traced == 0);
}

} // namespace
