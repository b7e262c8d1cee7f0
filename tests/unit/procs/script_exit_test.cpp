// Script exits: the columns read from insert_select, the routing of output
// lines, the words of a row, host variables, whole runs through a real
// program (start_after, stop_after, messages, a refused row holding the
// cursor) and the look-up of internal procedures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "control/dictionary.h"
#include "pipeline/in_list.h"
#include "procs/fetch_exit.h"
#include "procs/internal_procs.h"
#include "procs/script_exit.h"
#include "../pipeline/row_fixture.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

void dict(const std::string& name, int16_t type, int16_t length) {
    auto e = std::make_unique<dict_element>();
    e->name = name;
    e->data_type = type;
    e->length = length;
    dict_anchor.push_back(std::move(e));
}

class ScriptExitTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        install_fetch_exits();
        dict("NAME", 0, 6);
        dict("N", 2, 5);
        dict("M", 4, 3);
    }

    // A cursor X whose columns NAME and N the script's lines fill.
    curs& script_cursor(const std::string& script) {
        curs& c = make_cursor("X", {"NAME", "INT!N"});
        c.fetch_exit = match_fetch_exit("fetchxi1", "", fetch_exit_table());
        c.raw_insert_select = "SELECT NAME, N FROM script";
        c.script = script;
        EXPECT_EQ(parse_script_exit(c), 0);
        return c;
    }

    int run(curs& c, int mode, std::string* out = nullptr) {
        FetchExitWork w;
        w.date = "20240102030405";
        int rc = 0;
        const std::string said = captured([&] { rc = parse_script_text(c, w, mode); });
        if (out) *out = said;
        return rc;
    }

    // The columns after filling them from row, "NULL" for a null column.
    static std::vector<std::string> filled(SelectDescriptor d, std::string_view row, int mode = 9) {
        fill_script_row(d, row, mode);
        std::vector<std::string> v;
        for (size_t i = 0; i < d.items.size(); ++i)
            v.push_back(d.indicator[i] < 0 ? "NULL"
                                           : std::string(d.value(i), static_cast<size_t>(d.items[i].buf_len)));
        return v;
    }
};

using Texts = std::vector<std::string>;

TEST_F(ScriptExitTest, InsertSelectGivesDictionaryTypedColumns) {
    curs& c = make_cursor("X", {"NAME"});
    c.raw_insert_select = "  select (NAME, N(x), M) from t";
    ASSERT_EQ(parse_script_exit(c), 0);
    const SelectDescriptor& d = *c.script_columns;
    ASSERT_EQ(d.items.size(), 3u);
    const std::vector<std::pair<std::string, int16_t>> want{{"NAME", kDbChar}, {"N", kDbNumber}, {"M", kDbNumber}};
    int32_t at = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(d.items[i].name, want[i].first);
        EXPECT_EQ(d.items[i].type, want[i].second) << i;
        EXPECT_EQ(d.offset[i], at) << i;
        EXPECT_EQ(d.indicator[i], 1);
        at += d.items[i].buf_len;
    }
    EXPECT_EQ(d.buffer.size(), static_cast<size_t>(6 + 5 + 3));

    struct Case {
        const char* text;
        std::vector<const char*> messages;
    } bad[] = {
        {"INSERT NAME FROM t", {"PCC3990E", "Invalid insert_select"}},
        {"SELECTNAME FROM t", {"Invalid insert_select"}},
        {"SELECT NAME, N", {"PCC4000E", "Bad insert_select text"}},
        {"SELECT NAME, NOPE FROM t", {"No dictionary entry found for NOPE", "PCC4010E", "Script parsing failed"}},
    };
    for (const Case& k : bad) {
        c.raw_insert_select = k.text;
        const std::string out = captured([&] { EXPECT_EQ(parse_script_exit(c), 1) << k.text; });
        for (const char* m : k.messages) EXPECT_TRUE(has(out, m)) << k.text << ": " << out;
    }
}

TEST_F(ScriptExitTest, ACursorBlockChecksItsScriptColumns) {
    curs& c = script_cursor("x ZEPCACD");
    c.insert = "insert into t (NAME, N) values (:NAME, :N)";
    c.table_name = "t";
    c.interval = 10;
    EXPECT_EQ(edit_cursor_block(c), 0);
    c.raw_insert_select = "SELECT NOPE FROM t";
    std::string out = captured([&] { EXPECT_EQ(edit_cursor_block(c), 1); });
    EXPECT_TRUE(has(out, "No dictionary entry found for NOPE")) << out;
    c.raw_insert_select.reset();
    out = captured([&] { EXPECT_EQ(edit_cursor_block(c), 1); });
    EXPECT_TRUE(has(out, "Fetch exit fetchxi1 requires 'script' and 'select'")) << out;
}

TEST_F(ScriptExitTest, MessageFormLinesAreNotRowsUnlessMarked) {
    struct Case {
        const char* line;
        bool message;
        const char* row;
    } cases[] = {
        {"ABC1234W disk almost full", true, ""}, {"->ABC1234W x", false, "ABC1234W x"},
        {"ABC1234E ", true, ""},                  {"ABC1234W", false, "ABC1234W"},
        {"ABC1234S x", false, "ABC1234S x"},      {"AbC1234I x", false, "AbC1234I x"},
        {"ABC1234Tx", false, "ABC1234Tx"},        {"-> a b", false, " a b"},
    };
    for (const Case& k : cases) {
        std::string_view row;
        const ScriptLine kind = route_script_line(k.line, row);
        EXPECT_EQ(kind == ScriptLine::message, k.message) << k.line;
        if (!k.message) {
            EXPECT_EQ(row, k.row) << k.line;
        }
    }
}

TEST_F(ScriptExitTest, WordsFillColumnsInOrder) {
    const SelectDescriptor& d = *script_cursor("x y").script_columns;
    struct Case {
        const char* row;
        int mode;
        Texts want;
    } cases[] = {
        {"disk", 9, {"disk  ", "NULL"}},
        {"", 9, {"NULL", "NULL"}},
        {"averylongname 1234567", 9, {"averyl", "12345"}},
        {"'two words', 7", 9, {"two wo", "    7"}},
        {"\"ab\" \"9\" extra", 9, {"ab    ", "    9"}},
        {"\tab\t 3", 9, {"ab    ", "    3"}},
        {"'ab' 12", 1, {"ab    ", "   12"}},
        {"disk 42", 1, {"disk  ", "   42"}},
    };
    for (const Case& k : cases) EXPECT_EQ(filled(d, k.row, k.mode), k.want) << k.row << " mode " << k.mode;
}

TEST_F(ScriptExitTest, HostVariablesTakeColumnsAndInLists) {
    Select sel;
    sel.item("V", 1, 8);
    curs& s = make_cursor("S", {"V"});
    s.in_list.ensure().lists = {InList{"L", "V"}};
    captured([] { EXPECT_EQ(edit_in_lists(), 0); });

    std::string out;
    std::string said = captured([&] { EXPECT_FALSE(merge_script_vars("-a [S.V]", "p -a [S.V]", out)); });
    EXPECT_TRUE(has(said, "CCC4020E")) << said;
    EXPECT_TRUE(has(said, "No data in cursor (S) for hv (S.V) in script (p -a [S.V])")) << said;

    ASSERT_GT(fetch(s, &sel, {Row{"one"}, Row{"two"}}), 0);
    build_in_list(s);
    ASSERT_TRUE(merge_script_vars("-a [S.V] -b [ S.V,x -l [S.L] -e [S.V", "p", out));
    const std::string list = s.in_list->lists[0].text;
    std::string items = list.substr(list.find('(') + 1, list.rfind(')') - list.find('(') - 1);
    for (char& ch : items)
        if (ch == ',') ch = ' ';
    EXPECT_EQ(out, "-a two      -b two     ,x -l " + items + " -e two     ");

    for (const char* name : {"S.NOPE", "NOCUR.V", "plain"}) {
        const std::string parms = std::string("[") + name + "]";
        said = captured([&] { EXPECT_FALSE(merge_script_vars(parms, "p " + parms, out)); });
        EXPECT_TRUE(has(said, "Script host variable (" + std::string(name) + ") not found in script p " + parms))
            << said;
    }
}

TEST_F(ScriptExitTest, ProgramOutputBecomesRowsAndMessages) {
    curs& c = script_cursor("printf 'disk 42\\nABC1234W almost full\\n->ram 7\\ncpu 3\\n'");
    c.trace = 1;
    std::string out;
    ASSERT_EQ(run(c, 2, &out), 0) << out;
    EXPECT_EQ(column_values(c, "NAME"), (Texts{"disk  ", "ram   ", "cpu   "}));
    EXPECT_EQ(column_values(c, "N"), (Texts{"   42", "    7", "    3"}));
    EXPECT_TRUE(has(out, "ABC1234W almost full")) << out;
    EXPECT_TRUE(has(out, "Call Exit printf, Parms 'disk 42")) << out;
    EXPECT_TRUE(has(out, "Exit returned:\"->ram 7\"")) << out;
    EXPECT_EQ(c.conn_rc_text, "             100");
    EXPECT_EQ(c.fetch_rows, 3);

    // Per run: the first two rows skipped, then one stored; the next run
    // counts again.
    c.start_after = 2;
    c.stop_after = 1;
    for (int i = 0; i < 2; ++i) {
        delete_all(c);
        ASSERT_EQ(run(c, 2), 0);
        EXPECT_EQ(column_values(c, "NAME"), (Texts{"cpu   "})) << "run " << i;
    }
}

// A collected value that would be a command to a shell is one argument of
// the program and nothing else.
TEST_F(ScriptExitTest, NoCollectedValueStartsACommand) {
    const std::string mark = std::string(::testing::TempDir()) + "qvx_script_ran_" + std::to_string(::getpid());
    Select sel;
    sel.item("V", 1, 60);
    curs& s = make_cursor("S", {"V^60"});
    curs& c = script_cursor("printf %s\\n x[S.V]");
    const std::pair<std::string, std::string> cases[] = {
        {"; touch " + mark, "x;    "}, {"$(touch " + mark + ")", "x$(tou"}, {"`touch " + mark + "`", "x`touc"}};
    for (const auto& [value, first_word] : cases) {
        delete_all(s);
        ASSERT_GT(fetch(s, &sel, {Row{value}}), 0);
        delete_all(c);
        ASSERT_EQ(run(c, 2), 0) << value;
        EXPECT_FALSE(std::filesystem::exists(mark)) << value;
        EXPECT_EQ(column_values(c, "NAME"), (Texts{first_word})) << value;
    }
}

TEST_F(ScriptExitTest, ARefusedRowHoldsTheCursor) {
    curs& c = script_cursor("printf 'a 1\\nb 2\\nc 3\\n'");
    int calls = 0;
    const RowSink sink = [&calls](curs&, const SelectDescriptor*, const std::string&) { return ++calls < 3 ? 1 : 0; };
    FetchExitWork w;
    w.date = "20240102030405";
    w.sink = &sink;
    const std::string out = captured([&] { EXPECT_EQ(parse_script_text(c, w, 2), 1); });
    EXPECT_TRUE(has(out, "CCC4035W")) << out;
    EXPECT_TRUE(has(out, "Time = 20240102030405 For cursor X, merge failed after = 2 rows")) << out;
    EXPECT_TRUE(has(out, "Holding cursor")) << out;
    EXPECT_EQ(c.held, 'Y');
    EXPECT_EQ(c.conn_rc, -1);
}

TEST_F(ScriptExitTest, ProceduresAreFoundByExactName) {
    // Every name of the table is found as it is written.
    for (const InternalProcEntry& e : cur_func_tb())
        EXPECT_FALSE(has(captured([&] { exec_internal(e.name); }), "SMON010E")) << e.name;
    struct Case {
        const char* parms;
        bool found;
    } cases[] = {{"ZEPCACD", true}, {"ZEPCACD   ", true}, {"zepcacd", false}, {" ZEPCACD", false}, {"ZEPCAC", false}};
    for (const Case& k : cases) {
        const std::string out = captured([&] { exec_internal(k.parms); });
        EXPECT_EQ(has(out, "SMON010E"), !k.found) << k.parms << ": " << out;
    }
    const std::string out = captured([] { smon_curs_driver("ZEPNONE"); });
    EXPECT_TRUE(has(out, "Can't find a proc for cursor ZEPNONE")) << out;

    // Through the fetch exit: no chain, no rows, status -1.
    curs& c = script_cursor("smon ZEPNONE");
    const std::string said = captured([&] { EXPECT_EQ(run_cursor_fetch_exit(c, "20240102030405"), 0); });
    EXPECT_TRUE(has(said, "SMON010E")) << said;
    EXPECT_EQ(c.conn_rc_text, "              -1");
    EXPECT_TRUE(c.rows.empty());
}

} // namespace
