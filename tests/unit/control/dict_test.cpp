#include "control/dictionary.h"

#include <gtest/gtest.h>

#include <string>

#include "control/dict_parms.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"
#include "parse_fixture.h"

namespace {

using qvx::dict_anchor;
using V = std::vector<std::string>;

class DictTest : public ctltest::ParseTest {
protected:
    void SetUp() override {
        ParseTest::SetUp();
        env_.unset("QVX_TEST_UNSET");
    }

    // Writes DICT.CTL and parses it. One statement ends per line, so "; "
    // in the text starts a new line.
    int parse(std::string content) {
        for (size_t at; (at = content.find("; ")) != std::string::npos;) content[at + 1] = '\n';
        return parse_file("qvxdict.ctl", content, qvx::parse_dict);
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

    qvxtest::ScopedEnv env_;
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
        << out;
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
        {"PDC2040", std::string(50, '-')}, {"PDC2045", "-- Starting parse of DICT.CTL -- Time: "},
        {"PDC2050", std::string(51, '-')}, {"PDC2095", "No Initial value, using default"},
        {"PTC4725", std::string(45, '-')}, {"PTC4740", "--  Dict Control Parsing ended at "}};
    for (const auto& [id, text] : lines) EXPECT_TRUE(said(id, text)) << id << "\n" << out;
    EXPECT_FALSE(said("PDC2180"));
}

TEST_F(DictTest, MissingFileAndFirstStatement) {
    EXPECT_EQ(run(qvx::parse_dict), 1);
    EXPECT_TRUE(said("UOI0055", "Could not find a qvxdict.ctl file")) << out;

    EXPECT_EQ(parse("type CHAR(1);\nname a; type char(1); end;\n"), 1);
    EXPECT_TRUE(said("PDC2075", "First word must be 'name'")) << out;
    EXPECT_TRUE(said("PDC2180", "Parsing ended with errors"));
    EXPECT_EQ(parse("Name a;\n"), 1);  // all-lower or all-upper only
    EXPECT_TRUE(said("PDC2075", "First word must be 'name'"));
    EXPECT_EQ(parse("names a;\n"), 1);
    EXPECT_TRUE(said("PDC2070", "First word must be 'name'"));
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
    EXPECT_TRUE(said("PDC2105E", "Name previously used")) << out;
    EXPECT_TRUE(said("PDC2135E", "ERR Length of 2049 exceeds maximum(2048)"));
    EXPECT_TRUE(said("PDC2140", "Duplicate data type"));
    EXPECT_TRUE(said("PDC2145E", "Invalid data type"));
    EXPECT_TRUE(said("PDC2130", "Duplicate data type"));
    EXPECT_TRUE(said("PDC2115", "Numeric initial value (12345678901234567) of wide exceeds 16"));
    EXPECT_TRUE(said("PDC2180E", "Parsing ended with errors"));
    // A refused element does not cascade into the closing checks.
    EXPECT_FALSE(said("PDC2085"));
    EXPECT_FALSE(said("PDC2090"));
    EXPECT_EQ(names(), (V{"a", "twice", "last"}));
    EXPECT_EQ(initial("a"), "x    ");
    EXPECT_EQ(qvx::find_dict_element("twice")->data_type, 2);  // the first type stands
}

TEST_F(DictTest, StoppingErrorsKeepTheElementsClosedSoFar) {
    const char* cases[][3] = {
        {"bogus x;", "PDC2065", "Unknown keyword (bogus)"},
        {"name n; Type char(1); end;", "PDC2065", "Unknown keyword (Type)"},  // one case only
        {"name abcdefghijabcdefghijabcdefghijkl;", "PDC2100",
         "Dictionary element name is exceeds 29 characters"},
        {"name n; initial 1; name m;", "PDC2085", "No data type"},
        {"name n; number 1; name m;", "PDC2085", "No data type"},
        {"name n; type CHAR(0); name m;", "PDC2090", "No Length specified"},
        {"name n; type CHAR(-65535); end;", "PDC2090", "No Length specified"},
        {"name; type char(1); end;", "PDC2080", "No  name"},
        {"name )x;", "PDC2060",
         "Parsing failed : Syntax error - Position = 6 Right parenthesis without preceeding "
         "Left parenthesis, Text = )"},
        {"name n'x; end;", "PDC2060", "Missing an ending \" or ' within max word length"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(std::string("name kept; type char(2); name open; type char(1);\n") + c[0] +
                        "\nname after; type char(1); end;\n"),
                  1)
            << c[0];
        EXPECT_TRUE(said(c[1], c[2])) << c[0] << "\n" << out;
        EXPECT_TRUE(said("PDC2180", "Parsing ended with errors")) << c[0];
        EXPECT_TRUE(said("PTC4740", "Dict Control Parsing ended at")) << c[0];
        EXPECT_NE(qvx::find_dict_element("kept"), nullptr) << c[0];
        EXPECT_EQ(qvx::find_dict_element("after"), nullptr) << c[0];
    }
    EXPECT_EQ(parse("name abcdefghijabcdefghijabcdefghij1; type char(1); end;\n"), 0) << out;
}

TEST_F(DictTest, WaysTheReadingEnds) {
    // The last element without "end" (or a name after it) is lost.
    EXPECT_EQ(parse("name a; type char(1);\nname b; type integer; initial 5;\n"), 0) << out;
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
    EXPECT_EQ(parse("name a; type char(1); END;\nbogus;\n"), 0) << out;
    EXPECT_EQ(names(), (V{"a"}));
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
        << out;
    EXPECT_EQ(initial("p1"), "SRV1");
    EXPECT_EQ(initial("p2"), "dflt     ");   // the blank before ";" stays too
    EXPECT_EQ(initial("p3"), "-nosuch    "); // neither value nor default
    EXPECT_EQ(initial("p4"), "from env");
    EXPECT_EQ(initial("e1"), "abc    ");
    EXPECT_EQ(initial("e2"), "<none>");
    EXPECT_TRUE(said("PDC2150", "Environmental variable QVX_TEST_UNSET not found")) << out;
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
    EXPECT_TRUE(said("PDC2164", "Parm Name= rdbms, Value= SRV9")) << out;
    EXPECT_TRUE(said("PDC2055", "type integer;"));
    EXPECT_TRUE(said("PDC2165", "Name = t, Type = 2, len = 16"));
    EXPECT_NE(out.find(", Initial = " + std::string(15, ' ') + "3.\n"), std::string::npos);
    EXPECT_TRUE(said("PDC2165", "Name = u, Type = 0, len = 2"));
    EXPECT_EQ(out.find(", Initial = .\n"), std::string::npos);
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
