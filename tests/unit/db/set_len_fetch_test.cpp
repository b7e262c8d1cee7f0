// set_len over SQLite fetches: the named items are fetched at the given
// lengths (text cut or widened, numbers right-justified to the new
// width) on every collection, and a name the select list lacks holds
// the cursor at its first fetch, before any row is built.
#include <gtest/gtest.h>

#include <string>

#include "control/column_exit_clause.h"
#include "fetch_fixture.h"
#include "runtime/settings.h"

using namespace qvx;
using qvxtest::captured;
using qvxtest::has;

namespace {

class SetLenFetch : public dbtest::FetchTest {
protected:
    void SetUp() override {
        FetchTest::SetUp();
        env_.unset("COLL_CONNECT");
        env_vars.coll_home = dir_.path();
        env_vars.serverid = "DEMO";
        cursor.cur_name = "C1";
        qvxtest::sqlite(dir_.file("DEMO.db"),
                        "CREATE TABLE t(name VARCHAR(8), n INTEGER, note VARCHAR(4));"
                        "INSERT INTO t VALUES('abcdefgh', 12345, 'wxyz');");
    }

    qvxtest::TempDir dir_;
};

TEST_F(SetLenFetch, NamedItemsTakeTheirLengthsOnEveryCollection) {
    for (const char* clause : {"name 3", "n 8", "note 1", "note 6"})  // the later note wins
        ASSERT_EQ(parse_set_len(cursor, clause), 0) << clause;
    ASSERT_EQ(logon(), 0);
    for (int collection = 1; collection <= 2; ++collection) {
        ASSERT_EQ(fetch("SELECT name, n, note, name AS same FROM t"), 0) << collection;
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0].buf_len, 3);
        EXPECT_EQ(items[1].buf_len, 8);
        EXPECT_EQ(items[2].buf_len, 6);
        EXPECT_EQ(items[3].buf_len, 24);  // another item: by its type
        EXPECT_EQ(rows[0], (std::vector<std::string>{"abc", "   12345", "wxyz", "abcdefgh"})) << collection;
        EXPECT_TRUE(cursor.set_len->resolved);
        EXPECT_EQ(cursor.held, 0);
    }
}

TEST_F(SetLenFetch, UnknownNameHoldsTheCursorAtItsFirstFetch) {
    ASSERT_EQ(parse_set_len(cursor, "name 3"), 0);
    ASSERT_EQ(parse_set_len(cursor, "NAME 3"), 0);  // names compare byte for byte
    ASSERT_EQ(logon(), 0);
    int rc = 0;
    const std::string out = captured([&] { rc = fetch("SELECT name, n FROM t"); });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(cursor.held, 'Y');
    EXPECT_TRUE(rows.empty()) << "no row is built";
    EXPECT_TRUE(has(out, "PCL4570W") && has(out, "For cursor C1 the set_len name (NAME) not_found")) << out;
    EXPECT_TRUE(has(out, "PCL4575W") && has(out, "Holding cursor")) << out;
    EXPECT_FALSE(cursor.set_len->resolved);
}

} // namespace
