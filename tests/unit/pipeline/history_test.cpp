#include <gtest/gtest.h>

#include <filesystem>

#include "pipeline/column_function.h"
#include "pipeline/history.h"
#include "row_fixture.h"
#include "runtime/settings.h"
#include "support/testenv.h"

using namespace qvx;
using namespace rowtest;

namespace {

const std::string kPass = "20240102030405", kLater = "20240102030505";

class HistoryTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        env_vars.coll_home = dir.path();
        sel.item("N", 2, 3).item("T", 1, 3);
    }
    // A cursor with history, open all day, holding the rows.
    curs& filled(const std::string& name, const std::vector<std::string>& words, const std::vector<Row>& rows) {
        curs& c = make_cursor(name, words);
        c.history = 1;
        c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
        if (!rows.empty()) {
            EXPECT_GT(fetch(c, &sel, rows), 0) << name;
        }
        return c;
    }
    std::string file(const std::string& cursor) const {
        return dir.exists(cursor + ".HST") ? dir.read(cursor + ".HST") : "<none>";
    }
    qvxtest::TempDir dir;
    Select sel;
};

// A record is the pass time and the row text, its zero bytes as blanks, on
// a line; only changed, unheld cursors with history inside their window
// are written; a column-function row is one record.
TEST_F(HistoryTest, DueCursorsGetOneRecordPerRow) {
    curs& c = filled("H1", {"N", "T"}, {{"1", "ab"}, {"22", "c"}});
    curs& f = filled("H2", {"MAX!N", "T"}, {{"4", "p"}, {"9", "q"}, {"2", "r"}});
    ASSERT_NE(do_column_func(f), nullptr);
    filled("NOHIST", {"N"}, {{"1"}}).history = 0;
    filled("HELD", {"N"}, {{"1"}}).held = 'Y';
    filled("CLOSED", {"N"}, {{"1"}}).ranges = {};
    filled("EMPTY", {"N"}, {}).history_pending = 1;
    const std::string out = qvxtest::captured([&] { EXPECT_EQ(do_history(kPass), 0); });
    EXPECT_EQ(file("H1"), kPass + "  1 ab \n" + kPass + " 22 c  \n");
    EXPECT_EQ(file("H2"), kPass + "  9 q  \n");
    for (const char* none : {"NOHIST", "HELD", "CLOSED"}) EXPECT_EQ(file(none), "<none>") << none;
    EXPECT_EQ(file("EMPTY"), "");
    EXPECT_TRUE(qvxtest::has(out, "CHI1640E")) << out;
    EXPECT_TRUE(qvxtest::has(out, "Cursor (EMPTY) needs history but has no length")) << out;

    c.sample_limit = 2;  // and a new sample: only it is written
    ASSERT_GT(fetch(c, &sel, {{"5", "x"}}), 0);
    ASSERT_EQ(do_history(kLater), 0);
    EXPECT_EQ(file("H1"), kPass + "  1 ab \n" + kPass + " 22 c  \n" + kLater + "  5 x  \n");
    EXPECT_EQ(file("H2"), kPass + "  9 q  \n") << "nothing changed, nothing added";
}

// A file that cannot be opened stops the pass with 1; the cursors after it
// wait for the next pass.
TEST_F(HistoryTest, UnopenableFileStopsThePass) {
    filled("FIRST", {"N"}, {{"1"}});
    filled("BLOCKED", {"N"}, {{"2"}});
    filled("LATER", {"N"}, {{"3"}});
    std::filesystem::create_directory(dir.file("BLOCKED.HST"));
    const std::string out = qvxtest::captured([&] { EXPECT_EQ(do_history(kPass), 1); });
    EXPECT_TRUE(qvxtest::has(out, "CHI1630E") && qvxtest::has(out, "Can't open " + dir.file("BLOCKED.HST"))) << out;
    EXPECT_EQ(file("FIRST"), kPass + "  1\n");
    EXPECT_EQ(file("LATER"), "<none>");
    std::filesystem::remove(dir.file("BLOCKED.HST"));
    EXPECT_EQ(do_history(kLater), 0);
    EXPECT_EQ(file("LATER"), kLater + "  3\n");
    EXPECT_EQ(file("FIRST"), kPass + "  1\n");
}

} // namespace
