#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pipeline/column_function.h"
#include "pipeline/history.h"
#include "row_fixture.h"
#include "runtime/settings.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

const std::string kPass = "20240102030405";
const std::string kLater = "20240102030505";

class HistoryTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        env_vars.coll_home = dir.path();
        sel.item("N", 2, 3).item("T", 1, 3);
    }

    // A cursor with history, open all day, with the rows of one fetch.
    curs& filled(const std::string& name, std::vector<std::string> words, const std::vector<Row>& rows) {
        curs& c = make_cursor(name, words);
        c.history = 1;
        c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        if (!rows.empty()) {
            EXPECT_GT(fetch(c, &sel, rows), 0);
        }
        return c;
    }

    std::string file(const std::string& cursor) const {
        return dir.exists(cursor + ".HST") ? dir.read(cursor + ".HST") : "<none>";
    }

    qvxtest::TempDir dir;
    Select sel;
};

// Each record is the pass time and the row text with its zero bytes as
// blanks; a second pass without new rows adds nothing; a samples limit
// writes the current sample; a column-function row is one record.
TEST_F(HistoryTest, RecordsArePassTimeAndRowTextOneALine) {
    curs& c = filled("H1", {"N", "T"}, {{"1", "ab"}, {"22", "c"}});
    ASSERT_EQ(do_history(kPass), 0);
    // "  1" "\0" "ab\0" for the first row: the separator and the padding
    // become blanks.
    EXPECT_EQ(file("H1"), kPass + "  1 ab \n" + kPass + " 22 c  \n");
    EXPECT_EQ(c.history_pending, 0);
    ASSERT_EQ(do_history(kLater), 0);
    EXPECT_EQ(file("H1"), kPass + "  1 ab \n" + kPass + " 22 c  \n") << "nothing changed, nothing added";

    c.sample_limit = 2;
    ASSERT_GT(fetch(c, &sel, {{"5", "x"}}), 0);
    ASSERT_EQ(do_history(kLater), 0);
    EXPECT_EQ(file("H1").substr(2 * (kPass.size() + 8)), kLater + "  5 x  \n");

    curs& f = filled("H2", {"MAX!N", "T"}, {{"4", "p"}, {"9", "q"}, {"2", "r"}});
    ASSERT_NE(do_column_func(f), nullptr);
    ASSERT_EQ(do_history(kPass), 0);
    EXPECT_EQ(file("H2"), kPass + "  9 q  \n");
}

// Only cursors with history, with new rows, not held and inside their
// window are written; one without a row length gets its message.
TEST_F(HistoryTest, OnlyDueCursorsAreWritten) {
    filled("NOHIST", {"N"}, {{"1"}}).history = 0;
    filled("HELD", {"N"}, {{"1"}}).held = 'Y';
    curs& closed = filled("CLOSED", {"N"}, {{"1"}});
    closed.ranges = {};  // never open
    curs& empty = filled("EMPTY", {"N"}, {});
    empty.history_pending = 1;
    const std::string out = captured([&] { EXPECT_EQ(do_history(kPass), 0); });
    EXPECT_EQ(file("NOHIST"), "<none>");
    EXPECT_EQ(file("HELD"), "<none>");
    EXPECT_EQ(file("CLOSED"), "<none>");
    EXPECT_EQ(file("EMPTY"), "");
    EXPECT_TRUE(has(out, "CHI1640E")) << out;
    EXPECT_TRUE(has(out, "Cursor (EMPTY) needs history but has no length")) << out;
}

// A file that cannot be opened stops the pass with 1; the cursors after
// it wait for the next pass, which writes them.
TEST_F(HistoryTest, UnopenableFileStopsThePassAndLaterCursorsWait) {
    filled("FIRST", {"N"}, {{"1"}});
    filled("BLOCKED", {"N"}, {{"2"}});
    curs& later = filled("LATER", {"N"}, {{"3"}});
    std::filesystem::create_directory(dir.file("BLOCKED.HST"));  // no file can be opened there
    const std::string out = captured([&] { EXPECT_EQ(do_history(kPass), 1); });
    EXPECT_TRUE(has(out, "CHI1630E")) << out;
    EXPECT_TRUE(has(out, "Can't open " + dir.file("BLOCKED.HST"))) << out;
    EXPECT_EQ(file("FIRST"), kPass + "  1\n");
    EXPECT_EQ(file("LATER"), "<none>");
    EXPECT_EQ(later.history_pending, 1);

    std::filesystem::remove(dir.file("BLOCKED.HST"));
    EXPECT_EQ(do_history(kLater), 0);
    EXPECT_EQ(file("LATER"), kLater + "  3\n");
    EXPECT_EQ(file("FIRST"), kPass + "  1\n");
}

} // namespace
