#include "expr/lex_store.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>

#include "expr_fixture.h"

using namespace qvx;
using namespace exprtest;

namespace {

class LexStoreTest : public ExprTest {
protected:
    // Parses text into a term table of its own and stores it.
    LexBlock store(const std::string& text, const std::string& cursor, int kind) {
        LexBlock b;
        b.text = text;
        b.cursor = cursor;
        b.kind = kind;
        b.terms = std::make_shared<TermTable>();
        {
            auto installed = b.terms->install();
            std::optional<LexemeList> list = parse(text);
            EXPECT_TRUE(list.has_value()) << text;
            if (list) b.list = std::make_shared<const LexemeList>(std::move(*list));
        }
        EXPECT_EQ(store_lex_block(b), 0);
        return b;
    }

    static LexBlock ask(const std::string& text, const std::string& cursor, int kind) {
        LexBlock b;
        b.text = text;
        b.cursor = cursor;
        b.kind = kind;
        return b;
    }
};

TEST_F(LexStoreTest, SameTextIsParsedOnceAndDerivedPerCursorAndKind) {
    const LexBlock where = store("GROUPNAME = 'cache' AND FLDVALUE > 1;", "SYSMON", kLexWhere);
    ASSERT_NE(where.replica, nullptr);
    EXPECT_EQ(where.replica->size(), where.list_len);
    EXPECT_EQ(where.text, "GROUPNAME = 'cache' AND FLDVALUE > 1;");

    // What follows the ';' is not part of the key.
    LexBlock again = ask("GROUPNAME = 'cache' AND FLDVALUE > 1; more text", "SYSMON", kLexWhere);
    ASSERT_EQ(find_lex_block(again), 1);
    EXPECT_EQ(again.list, where.list);
    EXPECT_EQ(again.replica, where.replica);
    EXPECT_EQ(lex_store_size(), 1u);

    // Another cursor: a new entry with the same list and term table but
    // its own work copy.
    LexBlock other = ask("GROUPNAME = 'cache' AND FLDVALUE > 1;", "SYSDEV", kLexWhere);
    ASSERT_EQ(find_lex_block(other), 1);
    EXPECT_EQ(other.terms, where.terms);
    EXPECT_EQ(other.list, where.list);
    EXPECT_NE(other.replica, where.replica);
    EXPECT_EQ(lex_store_size(), 2u);

    // A select list of the same text: ROW put before the end, ",rfa" on
    // the text; asked again it is found, not derived again.
    LexBlock cols = ask("GROUPNAME = 'cache' AND FLDVALUE > 1;", "SYSMON", kLexSelectList);
    ASSERT_EQ(find_lex_block(cols), 1);
    EXPECT_EQ(cols.text, "GROUPNAME = 'cache' AND FLDVALUE > 1,rfa;");
    ASSERT_EQ(cols.list_len, where.list_len + 1);
    EXPECT_EQ((*cols.list)[cols.list_len - 2].op, get_row_func_entry());
    EXPECT_TRUE((*cols.list)[cols.list_len - 1].is_end());
    EXPECT_EQ(cols.terms, where.terms);
    LexBlock cols_again = ask("GROUPNAME = 'cache' AND FLDVALUE > 1", "SYSMON", kLexSelectList);
    ASSERT_EQ(find_lex_block(cols_again), 1);
    EXPECT_EQ(cols_again.list, cols.list);
    EXPECT_EQ(lex_store_size(), 3u);

    LexBlock unknown = ask("FLDVALUE > 2", "SYSMON", kLexWhere);
    EXPECT_EQ(find_lex_block(unknown), 0);
}

TEST_F(LexStoreTest, SelectListLosesItsRowEntryForOtherKinds) {
    LexBlock b;
    b.text = "SUM(FLDVALUE),rfa";
    b.cursor = "SYSMON";
    b.kind = kLexSelectList;
    b.terms = std::make_shared<TermTable>();
    {
        auto installed = b.terms->install();
        std::optional<LexemeList> list = parse("SUM(FLDVALUE),rfa");
        ASSERT_TRUE(list);
        list->insert(list->end() - 1, Lexeme{get_row_func_entry(), nullptr});
        b.list = std::make_shared<const LexemeList>(std::move(*list));
    }
    ASSERT_EQ(store_lex_block(b), 0);
    LexBlock w = ask("SUM(FLDVALUE)", "SYSMON", kLexWhere);
    ASSERT_EQ(find_lex_block(w), 1);
    EXPECT_EQ(w.text, "SUM(FLDVALUE)");
    ASSERT_EQ(w.list_len + 1, b.list_len);
    for (const Lexeme& l : *w.list) EXPECT_NE(l.op, get_row_func_entry());

    LexBlock bad = b;
    bad.kind = 3;
    EXPECT_EQ(store_lex_block(bad), 1);
}

struct Link {
    Link* next;
    int* freed;
};
void release_link(void* p) {
    Link* l = static_cast<Link*>(p);
    ++*l->freed;
    delete l;
}

TEST_F(LexStoreTest, RegistryFreesListsElementByElementOnce) {
    int freed = 0;
    Link* third = new Link{nullptr, &freed};
    Link* head = new Link{new Link{third, &freed}, &freed};
    Link* single = new Link{reinterpret_cast<Link*>(0x1), &freed};  // next not followed
    EXPECT_EQ(register_memory(head, static_cast<long>(offsetof(Link, next)), release_link), 0);
    EXPECT_EQ(register_memory(head, static_cast<long>(offsetof(Link, next)), release_link), 2);
    EXPECT_EQ(register_memory(single, -1, release_link), 0);
    EXPECT_EQ(register_memory(&freed, -1, nullptr), 1);
    free_loose_memory();
    EXPECT_EQ(freed, 4);
    free_loose_memory();
    EXPECT_EQ(freed, 4);
}

} // namespace
