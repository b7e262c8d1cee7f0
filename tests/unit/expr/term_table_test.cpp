#include "expr/term_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "expr_fixture.h"
#include "runtime/trace.h"

using namespace qvx;
using namespace exprtest;

namespace {

using Ids = std::vector<std::string>;

class TermTableTest : public ExprTest {};

int answer = 0;
void* registered = nullptr;
long registered_offset = -1;
int registrar(void* chunk, long offset) {
    registered = chunk;
    registered_offset = offset;
    return answer;
}

// A tap for death tests: the lines go to standard error.
void to_stderr(char letter, const char* msgid, const std::string& text) {
    std::fprintf(stderr, "%s%c %s", msgid ? msgid : "", letter, text.c_str());
}

} // namespace

TEST_F(TermTableTest, CopyTermGivesTheTargetItsOwnValue) {
    Term* source = alloc_term(kNameTerm, kCharacter);
    source->set_owned(std::string(80, 'v'));
    source->len = 80;
    Term* target = alloc_term(kNameTerm, kUndefined);
    Term other;
    target->next = target->sum_term = target->vector_next = target->vector_partner = &other;
    ASSERT_EQ(copy_term(*target, *source), 0);
    EXPECT_EQ(target->value_owned, 1);
    EXPECT_NE(target->value, source->value);
    EXPECT_EQ(std::string(target->value), std::string(80, 'v'));
    EXPECT_EQ(target->len, 80);
    EXPECT_EQ(target->next, nullptr);
    EXPECT_EQ(target->sum_term, nullptr);
    EXPECT_EQ(target->vector_next, nullptr);
    EXPECT_EQ(target->vector_partner, nullptr);

    // A source without a buffer of its own: the target's buffer goes, the
    // value is the target's name field holding the source's value.
    Term* small = alloc_term(kNumberConst, kInteger);
    small->set_text("42");
    ASSERT_EQ(copy_term(*target, *small), 0);
    EXPECT_EQ(target->value_owned, 0);
    EXPECT_EQ(target->value, target->name);
    EXPECT_STREQ(target->value, "42");
    EXPECT_EQ(target->len, 2);

    // An owned value that is the name field is a broken term.
    small->value_owned = 1;
    EXPECT_EQ(copy_term(*target, *small), 1);
    EXPECT_EQ(ids, Ids{"TRM0020E"});
    small->value_owned = 0;
    for (Term* t : {source, target, small}) free_term(t, kFreeTerm);
    EXPECT_EQ(ids.size(), 1u);
}

TEST_F(TermTableTest, FreeingReportsMissingAndBrokenTerms) {
    unchain_and_free_term(nullptr);
    Term* loose = alloc_term(kNameTerm, kUndefined);
    unchain_and_free_term(loose);  // not in the table: left alone
    EXPECT_EQ(ids, (Ids{"LEX0230W", "LEX0240W"}));
    ids.clear();

    loose->value_owned = 1;  // owned, but the value is the name field
    free_term(loose, kReuseTerm);
    EXPECT_EQ(ids, Ids{"LEX0245E"});
    EXPECT_EQ(reuse_list_size(), 1u);
    Term* again = take_reused_term();
    EXPECT_EQ(again, loose);
    EXPECT_EQ(again->value, again->name);
    EXPECT_EQ(again->value_owned, 0);
    free_term(again, kFreeTerm);

    // Unchaining keeps the chain and its tail whole.
    Term* a = name_term("A");
    Term* b = name_term("B");
    Term* c = name_term("C");
    unchain_and_free_term(c);
    Term* d = name_term("D");
    unchain_and_free_term(a);
    EXPECT_EQ(get_lex_term_tb_anchor(), b);
    EXPECT_EQ(b->next, d);
    EXPECT_EQ(d->next, nullptr);
}

TEST_F(TermTableTest, VerifyingNeedsTheDebugSwitch) {
    Term* t = alloc_term(9, kUndefined);
    std::strcpy(t->name, "odd");
    EXPECT_EQ(verify_term(t), 0);
    my_trace_all[8] = 1;
    EXPECT_EQ(verify_term(t), 1);
    t->entry_type = kNameTerm;
    t->data_type = 7;
    EXPECT_EQ(verify_term(t), 1);
    t->data_type = kMaxDataType;
    EXPECT_EQ(verify_term(t), 0);
    t->tag = 1;
    EXPECT_EQ(verify_term(t), 1);
    EXPECT_EQ(ids, (Ids{"TRM0210E", "TRM0220E", "TRM0200E"}));
    EXPECT_EQ(lines.front(), "TRM0210 Term odd type is invalid\n");
    ids.clear();
    free_term(t, kFreeTerm);  // refused: not freed
    simple_free_term(t, kFreeTerm);
    EXPECT_EQ(ids, (Ids{"TRM0200E", "LEX0243E", "TRM0200E", "LEX0252E"}));
    t->tag = kTermTag;
    free_term(t, kFreeTerm);
}

// The first term of an empty table registers it, with the offset of next.
TEST_F(TermTableTest, NewTablesAreRegistered) {
    set_term_table_registrar(registrar);
    const std::vector<std::pair<int, Ids>> answers = {{0, {}}, {2, {"TRM0110W"}}, {5, {"TRM0120W"}}};
    for (const auto& [a, want] : answers) {
        answer = a;
        ids.clear();
        Term* chain = nullptr;
        open_lexer(nullptr);
        Term* first = name_term("A");
        name_term("B");
        EXPECT_EQ(registered, first);
        EXPECT_EQ(registered_offset, static_cast<long>(offsetof(Term, next)));
        EXPECT_EQ(ids, want) << a;
        close_lexer(chain);
        free_perm_term_tb(chain);
    }
}

TEST_F(TermTableTest, CloseAndOpenKeepTheOwnersChain) {
    TermTable owner;
    {
        auto in = owner.install();
        name_term("A");
        name_term("B");
    }
    EXPECT_EQ(get_lex_term_tb_anchor(), nullptr);
    ASSERT_NE(owner.head(), nullptr);
    {
        auto in = owner.install();
        name_term("C");  // appended behind the tail found again
        EXPECT_EQ(name_term("a"), owner.head());
    }
    EXPECT_STREQ(owner.head()->next->next->name, "C");
}

using TermTableDeathTest = TermTableTest;

TEST_F(TermTableDeathTest, InvalidAnchorAndFailedRegistrationEndTheCollector) {
    EXPECT_EXIT(
        {
            set_message_tap(to_stderr);
            open_lexer(invalid_term_anchor());
            std::exit(3);
        },
        testing::ExitedWithCode(0), "TRM0150S Invalid pointer: quitting");
    EXPECT_EXIT(
        {
            set_message_tap(to_stderr);
            set_term_table_registrar([](void*, long) { return 1; });
            Term* chain = nullptr;
            close_lexer(chain);
            name_term("A");
            std::exit(3);
        },
        testing::ExitedWithCode(0), "TRM0100S Memory registration failed");
}
