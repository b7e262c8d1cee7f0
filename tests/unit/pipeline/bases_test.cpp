// Base rows: a cursor's rows joined on a key to the rows of a base
// cursor, the clause syntax and binding, and qualified column names.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/base_clause.h"
#include "pipeline/bases.h"
#include "pipeline/column_ref.h"
#include "pipeline/in_list.h"
#include "row_fixture.h"
#include "runtime/trace.h"

using namespace qvx;
using namespace rowtest;
using qvxtest::captured;
using qvxtest::has;

namespace {

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// B holds keys and values; X fetches keys and reads B.V from the row of
// B that "base B on K->K" chooses.
class BaseTest : public StoreTest {
public:
    void SetUp() override {
        StoreTest::SetUp();
        bsel.item("K", 2, 4).item("V", 1, 4);
        xsel.item("K", 2, 4);
        b = &make_cursor("B", {"K", "V"});
        x = &make_cursor("X", {"K", "B.V"});
    }
    // Binds the clause and the qualified names; the edit output.
    std::string bind(const std::string& clause = "B on K->K") {
        EXPECT_EQ(parse_base(*x, clause), 0);
        return captured([] {
            EXPECT_EQ(edit_bases(), 0);
            EXPECT_EQ(set_qualifieds(), 0);
        });
    }
    void base_rows(const std::vector<Row>& rows) { ASSERT_GT(fetch(*b, &bsel, rows), 0); }
    // Fetches one X row per key; the B.V value each row read ("-" for a
    // rejected row), and the output.
    std::vector<std::string> join(const std::vector<std::string>& keys, std::string* out = nullptr,
                                  RowOrigin origin = RowOrigin::sql) {
        std::vector<std::string> got;
        const std::string text = captured([&] {
            ++x->sample_no;
            for (const std::string& k : keys) {
                xsel.set({k});
                std::string v = merge_text(*x, &xsel.d, "20240102030405", origin) > 0
                                    ? column_text(*x, *x->rows.last(), "B.V")
                                    : "-";
                std::replace(v.begin(), v.end(), '\0', ' ');  // the zero bytes after a short text
                got.push_back(v);
            }
        });
        if (out) *out = text;
        return got;
    }

    Select bsel, xsel;
    RowChain taken;  // rows handed away from B
    curs* b = nullptr;
    curs* x = nullptr;
};

TEST_F(BaseTest, ChoosesTheRowOfTheKeyElseTheLastRowWarningOncePerKeyItem) {
    bind();
    base_rows({Row{"1", "one"}, Row{"2", "two"}, Row{"3", "thr"}, Row{"2", "dup"}});
    std::string out;
    EXPECT_EQ(join({"2", "9", "9", "1", "3", "9"}, &out),
              (std::vector<std::string>{"two ", "dup ", "dup ", "one ", "thr ", "dup "}));
    EXPECT_EQ(count_of(out, "Failed to find source row matching K. Using 'last_row'"), 1u) << out;

    // Rows built from a fetch exit's output report with their own texts.
    reset_bases();
    join({"9"}, &out, RowOrigin::fetch_exit);
    EXPECT_TRUE(has(out, "Failed to find matching source row K using 'last_row'")) << out;
}

TEST_F(BaseTest, KeyItemMissingFromTheSelectListReadsTheLastRow) {
    bind("B on NOPE->K");
    base_rows({Row{"1", "one"}, Row{"2", "two"}});
    std::string out;
    EXPECT_EQ(join({"1"}, &out), std::vector<std::string>{"two "});
    EXPECT_TRUE(has(out, "Failed to find SQLDA name NOPE. Using 'last_row'")) << out;
}

TEST_F(BaseTest, EmptyBaseRejectsEveryRowUnlessItIsTheAgeToTarget) {
    bind();
    std::string out;
    EXPECT_EQ(join({"1", "2"}, &out), (std::vector<std::string>{"-", "-"}));
    EXPECT_EQ(count_of(out, "Have no base row in cursor X"), 2u) << out;
    EXPECT_EQ(x->rows.size(), 0);

    // The age_to target starts empty: no base row, and the row is built
    // (it has no reference to the target here, that one is refused).
    x->cols.pop_back();
    x->bound = 0;
    x->age_to = "B";
    xsel.set({"1"});
    out = captured([&] { EXPECT_GT(merge_text(*x, &xsel.d, "20240102030405"), 0); });
    EXPECT_FALSE(has(out, "Have no base row")) << out;
    EXPECT_EQ(x->rows.size(), 1);
}

TEST_F(BaseTest, DummyRowBaseUsesItsLastRowWithoutWarning) {
    bind();
    b->dummy_last_row = 1;
    x->trace = trace_something = 1;
    base_rows({Row{"1", "one"}, Row{"0", "N/A"}});
    std::string out;
    EXPECT_EQ(join({"1", "7"}, &out), (std::vector<std::string>{"one ", "N/A "}));
    EXPECT_TRUE(has(out, "Using dummy last row in B to match K")) << out;
    EXPECT_FALSE(has(out, "Failed to find")) << out;
}

TEST_F(BaseTest, SamplesLimitSearchesOnlyTheCurrentSample) {
    bind();
    b->sample_limit = 2;
    base_rows({Row{"1", "old"}, Row{"2", "old"}});
    base_rows({Row{"2", "new"}, Row{"3", "new"}});
    ASSERT_EQ(b->rows.size(), 4);
    // Key 1 lives only in the older sample: the last row is read.
    EXPECT_EQ(join({"2", "1", "3"}), (std::vector<std::string>{"new ", "new ", "new "}));
}

// Every way the base rows change makes the next row search them anew.
TEST_F(BaseTest, IndexFollowsEveryChangeOfTheBaseRows) {
    bind();
    const struct {
        const char* what;
        void (*change)(BaseTest&);
        std::vector<std::string> expected;  // keys 1, 2, 3
    } cases[] = {
        {"new sample after delete_all",
         [](BaseTest& t) {
             delete_all(*t.b);
             t.base_rows({Row{"2", "re2"}, Row{"1", "re1"}});
         },
         {"re1 ", "re2 ", "re1 "}},
        {"recycled rows at the row limit",
         [](BaseTest& t) {
             t.b->row_limit = 3;
             t.base_rows({Row{"3", "c3"}, Row{"1", "c1"}});
         },
         {"c1  ", "c1  ", "b3  "}},
        {"oldest row trimmed", [](BaseTest& t) { free_first_row(*t.b); }, {"b3  ", "b2  ", "b3  "}},
        {"rows handed to another chain",
         [](BaseTest& t) {
             row_data* first = row_data::create(static_cast<size_t>(t.b->length));
             const std::string text = std::string("   3\0mv3\0", 9);
             std::copy(text.begin(), text.end(), first->text());
             t.b->rows.adopt(first);
         },
         {"mv3 ", "mv3 ", "mv3 "}},
        {"chain taken by another cursor", [](BaseTest& t) { t.taken = std::move(t.b->rows); }, {"-", "-", "-"}},
    };
    for (const auto& tc : cases) {
        delete_all(*b);
        b->row_limit = 200;
        base_rows({Row{"1", "b1"}, Row{"2", "b2"}, Row{"3", "b3"}});
        EXPECT_EQ(join({"1", "2", "3"}), (std::vector<std::string>{"b1  ", "b2  ", "b3  "})) << tc.what;
        tc.change(*this);
        EXPECT_EQ(join({"1", "2", "3"}), tc.expected) << tc.what;
    }
}

TEST_F(BaseTest, ClauseSyntaxAndBindingErrors) {
    const struct {
        const char* clause;
        const char* message;  // empty: parses, the binding reports
    } parse_cases[] = {
        {"B K->K", "Invalid base format: B K->K"},
        {"B on K", "Invalid base format: B on K"},
        {"B on K->", "Invalid base format: B on K->"},
        {"B on ->K", "Invalid base format: B on ->K"},
    };
    for (const auto& tc : parse_cases) {
        const std::string out = captured([&] { EXPECT_EQ(parse_base(*x, tc.clause), 1); });
        EXPECT_TRUE(has(out, tc.message)) << tc.clause << ": " << out;
    }
    EXPECT_FALSE(x->base) << "a rejected clause adds no entry";

    make_cursor("VIRT", {"K"}).virtual_cur = 1;
    for (const char* clause : {"X on K->K", "NOPE on K->K", "VIRT on K->K", "B on K->NOCOL", "B on K -> V"})
        EXPECT_EQ(parse_base(*x, clause), 0) << clause;
    const std::string out = captured([] { EXPECT_EQ(edit_bases(), 1); });
    for (const char* message :
         {"Can't use yourself as base cursor(X)", "Base cursor (NOPE) not found, cursor X",
          "Base cursor (VIRT) cannot be a virtual table, cursor X",
          "Referenced column(NOCOL) not found for base B, curs->cur_name", "Base references editing failed"})
        EXPECT_TRUE(has(out, message)) << message << "\n" << out;
    EXPECT_EQ(x->base->entries.back().base_col, 1) << "blanks around -> are allowed";
}

TEST_F(BaseTest, QualifiedNameErrors) {
    curs& aged = make_cursor("AGED", {"K"});
    x->age_to = "AGED";
    for (const char* word : {"NOPE.V", "X.K", "AGED.K", "B.NOCOL", "B.2"}) ASSERT_EQ(add_column(word, *x), 0);
    x->cols.back().name = "B.2";  // a column number
    std::string out = captured([] { EXPECT_EQ(set_qualifieds(), 1); });
    for (const char* message :
         {"Source cursor (NOPE) not found for NOPE.V", "Cant reference to the same cursor for X.K",
          "Column reference (AGED.K) to own aged data not allowed", "Source column (NOCOL) not found for B.NOCOL",
          "Qualified name resolution failed"})
        EXPECT_TRUE(has(out, message)) << message << "\n" << out;
    EXPECT_EQ(x->cols[1].source.cursor, b);
    EXPECT_EQ(x->cols[1].source.column, 1);
    EXPECT_EQ(x->cols.back().source.column, 1) << "B.2 is B's second column";

    x->cols.resize(2);
    (void)aged;
    out = captured([] { EXPECT_EQ(set_qualifieds(), 0); });
    EXPECT_TRUE(has(out, "Qualified name resolution successful, 1 resolved")) << out;
}

} // namespace
