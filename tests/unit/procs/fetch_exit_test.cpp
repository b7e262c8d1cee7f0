// Fetch exits: the parsing styles and the output-line rules, value
// conversion, the command line with its substitutions and host variables,
// and whole collections through real commands: no collected value may
// start a command, a hanging exit is stopped, an endless one is cut.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "control/unapplied_clauses.h"
#include "pipeline/in_list.h"
#include "procs/convert_data.h"
#include "procs/exit_command.h"
#include "procs/exit_result.h"
#include "procs/fetch_exit.h"
#include "procs/trace_environment.h"
#include "runtime/settings.h"
#include "../pipeline/row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

class FetchExitTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        install_fetch_exits();
    }

    // A cursor X reading its columns from the exit named by `exit`.
    curs& exit_cursor(const std::vector<std::string>& words, const std::string& exit, const std::string& script) {
        curs& c = make_cursor("X", words);
        c.fetch_exit = match_fetch_exit(exit, "", fetch_exit_table());
        EXPECT_TRUE(c.fetch_exit) << exit;
        c.script = script;
        return c;
    }

    // The rows the lines give, each as its column values joined by "|".
    std::vector<std::string> parsed(curs& c, const std::vector<std::string>& lines, std::string* out = nullptr) {
        build_result_columns(c, rs);
        FetchExitWork w;
        w.kind = c.fetch_exit->parse_kind;
        w.skip = c.start_after;
        w.take = c.stop_after;
        w.taking_limited = c.stop_after > 0;
        w.cursor = &c;
        w.result = &rs;
        const std::string said = captured([&] { parseCmdResults(w, lines); });
        if (out) *out = said;
        std::vector<std::string> rows;
        for (size_t r = 0; r < rs.rows; ++r) {
            std::string row;
            for (size_t i = 0; i < rs.cols.size(); ++i) {
                if (i) row += '|';
                const int32_t n = rs.len(r, i);
                row += n < 0 ? "NULL" : std::string(rs.row(r) + rs.cols[i].offset, static_cast<size_t>(n));
            }
            rows.push_back(row);
        }
        return rows;
    }

    ResultSet rs;
};

using Rows = std::vector<std::string>;

TEST_F(FetchExitTest, ParsingStylesFillColumnsInOrder) {
    struct Case {
        const char* exit;
        std::vector<std::string> words;
        std::string line;
        Rows rows;
    } cases[] = {
        // Words: blanks or a comma; quotes group and go; extra words ignored;
        // cut to the width; a short line leaves the rest null.
        {"fetchx2", {"A^3", "B^5", "C^4"}, "ab,'x y z'   \"q\" extra", {"ab |x y z|q   "}},
        {"fetchx2", {"A^3", "B^5", "C^4"}, "abcdef", {"abc|NULL|NULL"}},
        // Fixed-width fields, a field per column width.
        {"fetchx1", {"A^3", "INT!N^4", "C^2"}, "abc  12xyz", {"abc|  12|xy"}},
        {"fetchx4", {"A^3", "INT!N^4"}, "ab", {"ab |NULL"}},
        // TAB-separated fields: empty fields are one blank.
        {"fetchx3", {"A^3", "B^3", "C^3"}, "a\t\tlonger", {"a  |   |lon"}},
        // Whole line: every column the line's start, trailing blanks gone.
        {"fetchx5", {"A^4", "B^10"}, "ab  cd      ", {"ab|ab  cd"}},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = exit_cursor(k.words, k.exit, "true");
        EXPECT_EQ(parsed(c, {k.line}), k.rows) << k.exit << " " << k.line;
    }
}

TEST_F(FetchExitTest, FixedWidthNumberWithOtherCharactersIsStoredWithAWarning) {
    curs& c = exit_cursor({"INT!N^4"}, "fetchx1", "true");
    std::string out;
    EXPECT_EQ(parsed(c, {"12x4"}, &out), Rows{"12x4"});
    EXPECT_TRUE(has(out, "FXR4030W")) << out;
    EXPECT_TRUE(has(out, "Placing non-number into number for X.N. Value:12x4.")) << out;
    EXPECT_EQ(parsed(c, {" -1."}, &out), Rows{" -1."});
    EXPECT_FALSE(has(out, "FXR4030")) << out;
}

TEST_F(FetchExitTest, MessageLinesGoToTheOutputAndArrowLinesAreData) {
    curs& c = exit_cursor({"A^20"}, "fetchx5", "true");
    std::string out;
    const Rows rows = parsed(c,
                             {"ABC1234W disk almost full", "->ABC1234W as data", "ABCD1234E four letters",
                              "abc1234W lower case", "ABC1234X no level", "ABC1234W"},
                             &out);
    EXPECT_EQ(rows, (Rows{"ABC1234W as data", "abc1234W lower case", "ABC1234X no level", "ABC1234W"}));
    EXPECT_TRUE(has(out, "ABC1234W (")) << out;
    EXPECT_TRUE(has(out, "disk almost full")) << out;
    EXPECT_TRUE(has(out, "ABCD1234E (")) << out;
    EXPECT_FALSE(has(out, "lower case")) << out;
}

TEST_F(FetchExitTest, StartAfterSkipsAndStopAfterEndsTheRows) {
    curs& c = exit_cursor({"A^2"}, "fetchx2", "true");
    c.start_after = 2;
    c.stop_after = 3;
    EXPECT_EQ(parsed(c, {"l1", "l2", "l3", "ABC1234I not counted", "l4", "l5", "l6", "l7"}),
              (Rows{"l3", "l4", "l5"}));
}

TEST(ConvertData, FlagsShapeTheCopy) {
    struct Case {
        int dst_len;
        const char* src;
        int flags;
        std::string want;  // the bytes written
        int len;
    } cases[] = {
        {6, "ab", kConvPad, "ab    ", 6},
        {6, "ab", kConvRight, "    ab", 6},
        {6, "ab   ", kConvTrim, "ab", 2},
        {6, "", 0, " ", 1},
        {8, "a b", kConvQuote, "\"a b\"", 5},
        {8, "a \"b", kConvQuote, "'a \"b'", 6},
        {8, "a'\" b", kConvQuote, "\ta'\" b\t", 7},
        {8, "\"a b\"", kConvQuote, "\"a b\"", 5},
        {5, "a b c d", kConvQuote, "\"a b\"", 5},
        {3, "abcdef", kConvPad | kConvNoRight, "abc", 3},
    };
    for (const Case& k : cases) {
        char dst[16];
        std::memset(dst, 'Z', sizeof dst);
        EXPECT_EQ(convertData(k.dst_len, dst, kConvChar, -1, k.src, kConvChar, k.flags), k.len) << k.src;
        EXPECT_EQ(std::string(dst, static_cast<size_t>(k.len)), k.want) << k.src;
        EXPECT_EQ(dst[k.len], '\0') << k.src;
    }
    char dst[8] = "ZZZZZZZ";
    EXPECT_EQ(convertData(3, dst, kConvChar, 2, "ab", kConvChar, kConvNoTerminator), 2);
    EXPECT_EQ(std::string(dst, 4), "abZZ");
}

TEST(ConvertData, NumbersBetweenTextAndBinary) {
    qvxtest::reset_collector_state();
    int32_t v4 = 0;
    EXPECT_EQ(convertData(4, reinterpret_cast<char*>(&v4), kConvBinary, -1, " -42 ", kConvChar, 0), 4);
    EXPECT_EQ(v4, -42);
    int16_t v2 = 0;
    EXPECT_EQ(convertData(2, reinterpret_cast<char*>(&v2), kConvBinary, -1, "99999", kConvChar, 0), 2);
    EXPECT_EQ(v2, 32767);
    // Exponents only into 8 bytes or more, which receive a 4-byte value.
    auto to_int = [&](const char* text) {
        return convertData(4, reinterpret_cast<char*>(&v4), kConvBinary, -1, text, kConvChar, 0);
    };
    EXPECT_TRUE(has(captured([&] { EXPECT_EQ(to_int("1e3"), 0); }), "DIU4030W"));
    int64_t v8 = 0;
    EXPECT_EQ(convertData(8, reinterpret_cast<char*>(&v8), kConvBinary, -1, "1e3", kConvChar, 0), 4);
    EXPECT_EQ(static_cast<int32_t>(v8), 1000);
    const std::string out = captured([&] { to_int("12a"); });
    EXPECT_TRUE(has(out, "Binary to character conversion error. Value:12a(a)")) << out;

    char text[16];
    const int32_t n = 42;
    EXPECT_EQ(convertData(8, text, kConvChar, 4, reinterpret_cast<const char*>(&n), kConvBinary, 0), 8);
    EXPECT_EQ(std::string(text), "    0042");
    EXPECT_EQ(convertData(8, text, kConvChar, 2, reinterpret_cast<const char*>(&n), kConvBinary, kConvNoRight), 2);
    EXPECT_EQ(std::string(text), "42");
}

TEST_F(FetchExitTest, ProgramNameTakesTheDatabaseType) {
    struct Case {
        const char* type;
        const char* version;
        const char* word;
        const char* want;
    } cases[] = {
        {"sybase", "15.0", "zep##sql", "zep15sql"}, {"sybase", "12.5", "zep##sql", "zep12sql"},
        {"sybase", "11.9", "/x/zep##sqlrun", "/x/zep12sqlrun"}, {"oracle", "15.0", "zep##sql", "zep##sql"},
        {"oracle", "8.1", "run###", "runzeg"}, {"oracle", "9.2", "run###", "runzeh"},
        {"oracle", "10", "run###.sh", "runzeb.sh"}, {"sybase", "", "a###b###", "azepb###"},
    };
    for (const Case& k : cases) {
        env_vars.db_type = k.type;
        env_vars.db_version = k.version;
        EXPECT_EQ(exit_program_name(k.word), k.want) << k.type << " " << k.version << " " << k.word;
    }
}

// What exits find in their environment: the defaults, and the log and
// inventory names beside the output file when exit tracing is asked for.
TEST_F(FetchExitTest, TraceEnvironmentIsPreparedOnce) {
    ::unsetenv("LMX_TRC1");
    ::setenv("LMX_VARPREFIX", "@", 1);
    ::setenv("QVX_COLL_EXE_TRC1", "1", 1);
    env_vars.coll_out = "/var/qvx";
    env_vars.hostname = "h1";
    env_vars.db_type = "qvx";
    std::string out = captured([] { prepare_trace_environment(true); });
    EXPECT_STREQ(std::getenv("LMX_TRC1"), "ERROR");
    const std::string want = "\"/var/qvx/h1_vx_@(systask)_@(sysutcstart)-.LOG\" INVENTORY=\"/var/qvx/h1_vx_@(systask).INV\""
                             " COUNT=03 PRESERVE=0 LIMIT=1 MAXFILES=3";
    EXPECT_EQ(std::string(std::getenv("LMX_TRC1_LOG")), want);
    EXPECT_TRUE(has(out, "Fetch Exit setting lmx_trc1_log:\"" + want + "\"")) << out;
    EXPECT_TRUE(has(out, "Fetch Exit trc1 inv filename:\"/var/qvx/h1_vx_@(systask).INV\"")) << out;
    // Once per process: a later change is not looked at.
    ::unsetenv("QVX_COLL_EXE_TRC1");
    out = captured([] { prepare_trace_environment(true); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::string(std::getenv("LMX_TRC1_LOG")), want);
    reset_trace_environment();
    captured([] { prepare_trace_environment(false); });
    EXPECT_STREQ(std::getenv("LMX_TRC1_LOG"), "/dev/null");
    ::unsetenv("LMX_VARPREFIX");
}

// A cursor S whose one row has V = value, and an in-list L over it.
class HostVariableTest : public FetchExitTest {
protected:
    void SetUp() override {
        FetchExitTest::SetUp();
        sel.item("V", 1, 48);
        s = &make_cursor("S", {"V"});
        s->in_list.ensure().lists = {InList{"L", "V"}};
        captured([] { EXPECT_EQ(edit_in_lists(), 0); });
    }
    void give(const std::vector<Row>& rows) {
        ASSERT_GT(fetch(*s, &sel, rows), 0);
        build_in_list(*s);
    }
    Select sel;
    curs* s = nullptr;
};

TEST_F(HostVariableTest, ColumnsAndInListsAreInsertedUnknownNamesFail) {
    give({Row{"first"}, Row{"two words"}});
    curs& c = exit_cursor({"A"}, "fetchx2", "prog -a [S.V] -l [S.L] -x [not a var] [S.V]x");
    CommandLine line;
    const std::string out = captured([&] { EXPECT_EQ(formatCommand(c, line), 0); });
    EXPECT_EQ(line.text(), "prog -a two words -l  'first'   'two words'  -x [not a var] two wordsx");
    EXPECT_TRUE(has(out, "Host variable 'S.L' is an inlist")) << out;
    EXPECT_EQ(line.words(), (std::vector<std::string>{"prog", "-a", "two words", "-l", "first", "two words", "-x",
                                                      "[not", "a", "var]", "two wordsx"}));

    struct Case {
        const char* script;
        const char* message;
    } failing[] = {
        {"prog [S.NOPE]", "Script host variable (S.NOPE) not found in script prog [S.NOPE]"},
        {"prog [NOCUR.V]", "Script host variable (NOCUR.V) not found"},
    };
    for (const Case& k : failing) {
        c.script = k.script;
        const std::string said = captured([&] { EXPECT_EQ(formatCommand(c, line), 1); });
        EXPECT_TRUE(has(said, k.message)) << said;
    }
    delete_all(*s);
    c.script = "prog [S.V]";
    const std::string said = captured([&] { EXPECT_EQ(formatCommand(c, line), 1); });
    EXPECT_TRUE(has(said, "FXR4020E")) << said;
    EXPECT_TRUE(has(said, "No data in cursor (S) for hv (S.V) in script (prog [S.V])")) << said;
}

// Collected values that would be commands to a shell: with and without a
// shell in the operator's line, bare, in double quotes, in apostrophes and
// after a backslash, nothing runs and the value arrives as it was.
TEST_F(HostVariableTest, NoCollectedValueStartsACommand) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qvx_fx_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string mark = (dir / "ran").string();
    const std::string values[] = {"; touch " + mark, "`touch " + mark + "`", "$(touch " + mark + ")",
                                  "' ; touch " + mark + " ; '", "\" ; touch " + mark + " ; \"", "\\"};
    // The script and what it prints before the value.
    const std::pair<std::string, std::string> scripts[] = {
        {"printf '%s\\n' [S.V]", ""},           {"printf '%s\\n' [S.V] | cat", ""},
        {"printf '%s\\n' \"[S.V]\" | cat", ""},  {"printf '%s\\n' '[S.V]' | cat", ""},
        {"printf '%s\\n' \\[S.V] | cat", "\\"}, {"printf '%s\\n' [S.L] | cat", ""}};
    curs& c = exit_cursor({"OUT^60"}, "fetchx5t5", "true");
    for (const std::string& value : values) {
        delete_all(*s);
        give({Row{value}});
        for (const auto& [script, before] : scripts) {
            c.script = script;
            const std::string out = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030405"), 0); });
            EXPECT_FALSE(std::filesystem::exists(mark)) << script << " with " << value;
            ASSERT_FALSE(c.rows.empty()) << script << " with " << value << "\n" << out;
            std::string got = column_values(c, "OUT").back();
            got.erase(got.find_last_not_of(' ') + 1);
            EXPECT_EQ(got, before + value) << script;
        }
    }
    std::filesystem::remove_all(dir);
}

TEST_F(FetchExitTest, RowsAreStoredLikeFetchedRowsNoRowsFailOrTakeADummy) {
    curs& c = exit_cursor({"NAME^6", "INT!N^5"}, "fetchx2", "printf '%s %s\\n' disk 42 ram 7");
    ASSERT_EQ(run_cursor_fetch_exit(c, "20240102030405"), 0);
    EXPECT_EQ(column_values(c, "NAME"), (std::vector<std::string>{"disk  ", "ram   "}));
    EXPECT_EQ(column_values(c, "N"), (std::vector<std::string>{"   42", "    7"}));
    EXPECT_EQ(c.sql_rc, 100);
    EXPECT_EQ(c.fetch_rows, 2);

    c.script = "true";
    EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030406"), 1);
    EXPECT_EQ(c.sql_rc_text, "              -1");
    c.dummy_last_row = 1;
    EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030407"), 0);
    EXPECT_EQ(c.sql_rc, 100);
}

TEST_F(FetchExitTest, InternalExitsGiveNoRows) {
    struct Case {
        const char* exit;
        const char* message;
    } cases[] = {
        {"fetchxi", "Invalid internal exit option 0"}, {"fetchxit", nullptr}, {"fetchxip", nullptr},
    };
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = exit_cursor({"A"}, k.exit, "zepsmon x");
        const std::string out = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030405"), 1); });
        if (k.message) {
            EXPECT_TRUE(has(out, k.message)) << k.exit << ": " << out;
        }
        EXPECT_EQ(c.sql_rc, -1) << k.exit;
        EXPECT_TRUE(c.rows.empty()) << k.exit;
    }
}

// The row store names the exit's columns where it would name the select
// list: an n! beyond them, a referenced cursor that is held.
TEST_F(FetchExitTest, RowBuildingMessagesNameTheExitsColumns) {
    curs& c = exit_cursor({"A^3"}, "fetchx2", "echo a");
    c.cols[0].occurrence = 3;
    std::string out = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030405"), 1); });
    EXPECT_TRUE(has(out, "FXR4035W")) << out;
    EXPECT_TRUE(has(out, "Occurance (3) exceeds number of select columns (1)")) << out;

    qvxtest::reset_collector_state();
    curs& src = make_cursor("S", {"V"});
    src.held = 'Y';
    curs& x = exit_cursor({"A^3", "S.V"}, "fetchx2", "echo a");
    x.cols[1].source = ColumnRef{&src, 0};
    x.trace = 1;
    x.show_cursor = 1;
    out = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(x, "20240102030405"), 1); });
    EXPECT_TRUE(has(out, "Base cursor held, holding X")) << out;
    EXPECT_TRUE(has(out, "Database column information follows:")) << out;
    EXPECT_TRUE(has(out, "Col # 1=                                A, datatype= 1(1) datalen= 3(3)")) << out;
    EXPECT_EQ(x.held, 'Y');
}

// A script is a fetch exit's command line; only where nothing runs it
// is it named as not applied.
TEST_F(FetchExitTest, ScriptIsNamedOnlyWhereNothingRunsIt) {
    struct Case {
        const char* exit;  // none: no fetch exit
        bool named;
    } cases[] = {{"fetchx2", false}, {"fetchxi1", false}, {nullptr, true}};
    for (const Case& k : cases) {
        qvxtest::reset_collector_state();
        curs& c = make_cursor("X", {"A"});
        if (k.exit) c.fetch_exit = match_fetch_exit(k.exit, "", fetch_exit_table());
        c.script = "echo a";
        const std::string out = captured([&] { report_unapplied_clauses(c); });
        EXPECT_EQ(has(out, "script is read but not applied"), k.named) << (k.exit ? k.exit : "none") << out;
        EXPECT_FALSE(has(out, "fetch_exit is read")) << out;
    }
}

bool has_child() {
    int status = 0;
    return !(::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD);
}

TEST_F(FetchExitTest, AHangingExitIsStoppedAndAnEndlessOneIsCut) {
    curs& hang = exit_cursor({"A"}, "fetchx5t1", "sleep 30");
    const auto start = std::chrono::steady_clock::now();
    const std::string out = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(hang, "20240102030405"), 1); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(has(out, "did not finish in 1 seconds")) << out;
    EXPECT_FALSE(has_child());

    qvxtest::reset_collector_state();
    curs& endless = exit_cursor({"A^3"}, "fetchx5t20", "yes abc");
    endless.row_limit = 1000;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(run_cursor_fetch_exit(endless, "20240102030405"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_EQ(endless.fetch_rows, 300);
    EXPECT_FALSE(has_child());

    // Twice the row limit when that is less.
    qvxtest::reset_collector_state();
    curs& small = exit_cursor({"A^3"}, "fetchx5t20", "yes abc");
    small.row_limit = 10;
    EXPECT_EQ(run_cursor_fetch_exit(small, "20240102030405"), 0);
    EXPECT_EQ(small.fetch_rows, 20);
    EXPECT_EQ(small.rows.size(), 10u);
}

} // namespace
