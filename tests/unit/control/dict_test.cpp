#include "control/dictionary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "control/dict_parms.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "support/state.h"
#include "support/testenv.h"

namespace {

using qvx::dict_anchor;
using V = std::vector<std::string>;

class DictTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        qvx::env_vars.coll_home = dir_.path();
        qvx::env_vars.db_type = "qvx";
        env_.unset("QVX_TEST_UNSET");
    }
    void TearDown() override { qvx::reset_dictionary(); }

    // Writes DICT.CTL and parses it, keeping what it printed. One statement
    // ends per line, so "; " in the text starts a new line.
    int parse(std::string content, bool write = true) {
        for (size_t at; (at = content.find("; ")) != std::string::npos;) content[at + 1] = '\n';
        if (write) dir_.write("qvxdict.ctl", content);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int rc = qvx::parse_dict();
        std::fflush(stdout);
        std::fflush(stderr);
        out_ = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        return rc;
    }
    // A line of the output has this id (any case) and this text.
    bool said(const std::string& id, const std::string& text = "") const {
        for (auto line : qvxtest::split_lines(out_)) {
            const bool has_text = line.find(text) != std::string::npos;
            std::transform(line.begin(), line.end(), line.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (has_text && line.find(id) != std::string::npos) return true;
        }
        return false;
    }
    static std::string initial(const std::string& name) {
        auto* e = qvx::find_dict_element(name);
        return !e ? "<missing>" : e->initial ? *e->initial : "<none>";
    }
    static V names() {
        V n;
        for (const auto& e : dict_anchor) n.push_back(e->name);
        return n;
    }

    qvxtest::TempDir dir_;
    qvxtest::ScopedEnv env_;
    std::string out_;
};

TEST_F(DictTest, ValidFile) {
    ASSERT_EQ(parse(";the dictionary\n"
                    "name host; type CHAR(8); initial abc;\n"
                    "NAME count; TYPE INTEGER; INITIAL 42;--ignored\n"
                    "name quoted; type char (20); initial 'x y';\n"
                    "name multi\n  line; type\n  FLOAT;\n"
                    "name n16; type FLOAT; initial -123456789.12345;\n"
                    "end;\n"),
              0)
        << out_;
    EXPECT_EQ(names(), (V{"host", "count", "quoted", "multi", "n16"}));
    EXPECT_EQ(dict_anchor[0]->data_type * 100 + dict_anchor[0]->length, 8);
    EXPECT_EQ(dict_anchor[1]->data_type * 100 + dict_anchor[1]->length, 216);
    EXPECT_EQ(initial("host"), "abc    ");  // keeps the statement's trailing blanks
    EXPECT_EQ(initial("count"), std::string(14, ' ') + "42");
    EXPECT_EQ(initial("quoted"), "x y    ");
    EXPECT_EQ(initial("multi"), "<none>");
    EXPECT_EQ(initial("n16"), "-123456789.12345");
    EXPECT_EQ(qvx::find_dict_element("HOST"), nullptr);  // exact, case-sensitive

    const std::pair<const char*, std::string> lines[] = {
        {"pdc2040", std::string(50, '-')}, {"pdc2045", "-- Starting parse of DICT.CTL -- Time: "},
        {"pdc2050", std::string(51, '-')}, {"pdc2095", "No Initial value, using default"},
        {"ptc4725", std::string(45, '-')}, {"ptc4740", "--  Dict Control Parsing ended at "}};
    for (const auto& [id, text] : lines) EXPECT_TRUE(said(id, text)) << id << "\n" << out_;
    EXPECT_FALSE(said("pdc2180"));
}

TEST_F(DictTest, MissingFileAndFirstStatement) {
    EXPECT_EQ(parse("", false), 1);
    EXPECT_TRUE(said("uoi0055", "Could not find a qvxdict.ctl file")) << out_;

    EXPECT_EQ(parse("type CHAR(1);\nname a; type char(1); end;\n"), 1);
    EXPECT_TRUE(said("pdc2075", "First word must be 'name'")) << out_;
    EXPECT_TRUE(said("pdc2180", "Parsing ended with errors"));
    EXPECT_EQ(parse("Name a;\n"), 1);  // all-lower or all-upper only
    EXPECT_TRUE(said("pdc2075", "First word must be 'name'"));
    EXPECT_EQ(parse("names a;\n"), 1);
    EXPECT_TRUE(said("pdc2070", "First word must be 'name'"));
}

TEST_F(DictTest, MarkedErrorsAreAllReportedInOneRun) {
    EXPECT_EQ(parse("name a; type char(4); initial x;\n"
                    "name a; type char(4);\n"
                    "name big; type CHAR(2049);\n"
                    "name noparen; type CHAR 10;\n"
                    "name odd; type Char(3);\n"
                    "name twice; type integer; type char(3);\n"
                    "name wide; type integer; initial 12345678901234567;\n"
                    "name last; type CHAR(2048);\n"
                    "end;\n"),
              1);
    EXPECT_TRUE(said("pdc2105", "Name previously used")) << out_;
    EXPECT_TRUE(said("pdc2135", "ERR Length of 2049 exceeds maximum(2048)"));
    EXPECT_TRUE(said("pdc2140", "Duplicate data type"));
    EXPECT_TRUE(said("pdc2145", "Invalid data type"));
    EXPECT_TRUE(said("pdc2130", "Duplicate data type"));
    EXPECT_TRUE(said("pdc2115", "Numeric initial value (12345678901234567) of wide exceeds 16"));
    EXPECT_TRUE(said("pdc2180", "Parsing ended with errors"));
    // A refused element does not cascade into the closing checks.
    EXPECT_FALSE(said("pdc2085"));
    EXPECT_FALSE(said("pdc2090"));
    EXPECT_EQ(names(), (V{"a", "twice", "last"}));
    EXPECT_EQ(initial("a"), "x    ");
    EXPECT_EQ(qvx::find_dict_element("twice")->data_type, 2);  // the first type stands
}

TEST_F(DictTest, StoppingErrorsKeepTheElementsClosedSoFar) {
    const char* cases[][3] = {
        {"bogus x;", "pdc2065", "Unknown keyword (bogus)"},
        {"name abcdefghijabcdefghijabcdefghijkl;", "pdc2100",
         "Dictionary element name is exceeds 29 characters"},
        {"name n; initial 1; name m;", "pdc2085", "No data type"},
        {"name n; number 1; name m;", "pdc2085", "No data type"},
        {"name n; type CHAR(0); name m;", "pdc2090", "No Length specified"},
        {"name n; type CHAR(-65535); end;", "pdc2090", "No Length specified"},
        {"name; type char(1); end;", "pdc2080", "No  name"},
        {"name )x;", "pdc2060",
         "Parsing failed : Syntax error - Position = 6 Right parenthesis without preceeding "
         "Left parenthesis, Text = )"},
        {"name n'x; end;", "pdc2060", "Missing an ending \" or ' within max word length"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(std::string("name kept; type char(2); name open; type char(1);\n") + c[0] +
                        "\nname after; type char(1); end;\n"),
                  1)
            << c[0];
        EXPECT_TRUE(said(c[1], c[2])) << c[0] << "\n" << out_;
        EXPECT_TRUE(said("pdc2180", "Parsing ended with errors")) << c[0];
        EXPECT_TRUE(said("ptc4740", "Dict Control Parsing ended at")) << c[0];
        EXPECT_NE(qvx::find_dict_element("kept"), nullptr) << c[0];
        EXPECT_EQ(qvx::find_dict_element("after"), nullptr) << c[0];
    }
    EXPECT_EQ(parse("name abcdefghijabcdefghijabcdefghij1; type char(1); end;\n"), 0) << out_;
}

TEST_F(DictTest, WaysTheReadingEnds) {
    // The last element without "end" (or a name after it) is lost.
    EXPECT_EQ(parse("name a; type char(1);\nname b; type integer; initial 5;\n"), 0) << out_;
    EXPECT_EQ(names(), (V{"a"}));
    // An argument-less type, initial or number ends the reading quietly.
    for (const char* stop : {"type;", "initial   ;", "NUMBER;"}) {
        EXPECT_EQ(parse(std::string("name a; type char(1); name b; type char(1); ") + stop +
                        "\nname c; type char(1); end;\n"),
                  0)
            << stop;
        EXPECT_EQ(names(), (V{"a"})) << stop;
    }
    // Nothing is read after "end".
    EXPECT_EQ(parse("name a; type char(1); END;\nbogus;\n"), 0) << out_;
    EXPECT_EQ(names(), (V{"a"}));
    // An overlong statement is reported by the reader; reading goes on.
    EXPECT_EQ(parse("name a; type char(1); initial " + std::string(17000, 'v') +
                    ";\nname b; type char(1); end;\n"),
              1);
    EXPECT_EQ(names(), (V{"a", "b"}));
}

TEST_F(DictTest, InitialValueSources) {
    qvx::add_dict_parm("rdbms", "SRV1");
    qvx::add_dict_parm("indirect", "%QVX_TEST_SET");
    env_.set("QVX_TEST_SET", "from env");
    ASSERT_EQ(parse("name p1; type char(10); initial -RDBMS;\n"
                    "name p2; type char(10); initial -nosuch, 'dflt' ;\n"
                    "name p3; type char(10); initial -nosuch;\n"
                    "name p4; type char(10); initial -indirect;\n"
                    "name e1; type char(10); initial %QVX_TEST_UNSET abc;\n"
                    "name e2; type char(10); initial %QVX_TEST_UNSET;\n"
                    "name e3; type integer; initial %QVX_TEST_UNSET,'17';\n"
                    "name e4; type char(10); initial %coll_version;\n"
                    "name q1; type char(9); initial 'it''s';\n"
                    "name q2; type char(9); initial 'open;\n"
                    "end;\n"),
              0)
        << out_;
    EXPECT_EQ(initial("p1"), "SRV1");
    EXPECT_EQ(initial("p2"), "dflt     ");   // the blank before ";" stays too
    EXPECT_EQ(initial("p3"), "-nosuch    "); // neither value nor default
    EXPECT_EQ(initial("p4"), "from env");
    EXPECT_EQ(initial("e1"), "abc    ");
    EXPECT_EQ(initial("e2"), "<none>");
    EXPECT_TRUE(said("pdc2150", "Environmental variable QVX_TEST_UNSET not found")) << out_;
    EXPECT_EQ(initial("e3"), std::string(14, ' ') + "17");
    EXPECT_EQ(initial("e4"), "qvx");  // a collector-owned name reads the settings
    // The last quote becomes a blank, then the first and last characters go.
    EXPECT_EQ(initial("q1"), "it''s    ");
    EXPECT_EQ(initial("q2"), "open   ");
}

TEST_F(DictTest, TraceListing) {
    qvx::trace_all = 1;
    qvx::trace_something = 1;
    qvx::add_dict_parm("rdbms", "SRV9");
    EXPECT_EQ(parse("name t; type integer; initial 3;\nname u; type char(2);\nend;\n"), 0);
    EXPECT_TRUE(said("pdc2164", "Parm Name= rdbms, Value= SRV9")) << out_;
    EXPECT_TRUE(said("pdc2055", "type integer;"));
    EXPECT_TRUE(said("pdc2165", "Name = t, Type = 2, len = 16"));
    EXPECT_NE(out_.find(", Initial = " + std::string(15, ' ') + "3.\n"), std::string::npos);
    EXPECT_TRUE(said("pdc2165", "Name = u, Type = 0, len = 2"));
    EXPECT_EQ(out_.find(", Initial = .\n"), std::string::npos);
}

TEST_F(DictTest, RetrieveCollectorOwnedNames) {
    for (const char* v : {"COLL_SERVERID", "COLL_DBHOME", "ORACLE_HOME", "SYBASE"}) env_.unset(v);
    env_.set("DSQUERY", "SYBSRV");
    env_.set("INFORMIXDIR", "/opt/ifx");
    env_.set("COLL_LOGON", "envuser");

    qvx::env_vars.logonid = "cmduser";  // the setting wins
    EXPECT_EQ(qvx::u_retrieveEnvVar("coll_logon"), "cmduser");
    qvx::env_vars.logonid.clear();  // else the environment, kept in the setting
    EXPECT_EQ(qvx::u_retrieveEnvVar("COLL_LOGON"), "envuser");
    EXPECT_EQ(qvx::env_vars.logonid, "envuser");

    qvx::env_vars.db_type = "sybase";  // database fallbacks by the type's code
    EXPECT_EQ(qvx::u_retrieveEnvVar("COLL_SERVERID"), "SYBSRV");
    EXPECT_EQ(qvx::env_vars.serverid, "SYBSRV");
    EXPECT_FALSE(qvx::u_retrieveEnvVar("COLL_DBHOME"));
    qvx::env_vars.db_type = "zec";
    EXPECT_EQ(qvx::u_retrieveEnvVar("COLL_DBHOME"), "/opt/ifx");
    EXPECT_FALSE(qvx::u_retrieveEnvVar("PATH") || qvx::u_retrieveEnvVar(std::string(40, 'C')));
}

} // namespace
