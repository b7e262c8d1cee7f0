#include "expr/term_table.h"

#include <cstddef>

#include "expr/operations.h"
#include "model/cursor_list.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

struct TableState {
    Term* anchor = nullptr;
    Term* tail = nullptr;
    Term* current_term = nullptr;
    TermIndex* index = nullptr;  // the owner's index of the chain, if any
    TermTableRegistrar registrar = nullptr;
    bool watching = false;  // the cursor-list step is registered
};

TableState& state() {
    static TableState s;
    return s;
}

void cursors_deleted() {
    ++detail::cursor_list_generation;
    detail::current_cursor_ptr = nullptr;
}

void register_table(Term* first) {
    TableState& s = state();
    if (!s.registrar) return;
    switch (s.registrar(first, static_cast<long>(offsetof(Term, next)))) {
        case 0: return;
        case 1:
            PRINT('s', "TRM0100", "Memory registration failed\n");
            quitting(0);
            return;
        case 2: PRINT('w', "TRM0110", "Attempt to register same memory again\n"); return;
        default: PRINT('w', "TRM0120", "Unexpected function return\n"); return;
    }
}

Term* made(int32_t entry_type, int32_t data_type, std::string_view text) {
    Term* t = alloc_term(entry_type, data_type);
    if (!t) return nullptr;
    t->set_text(text);
    chain_term(t);
    return t;
}

// The index key of a shared term: its sort ('n' name, 's' string, a data
// type digit for a number) and its text in lower case.
std::string index_key(char sort, std::string_view text) {
    std::string key(1, sort);
    for (char ch : text) key += ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    return key;
}

// The first term of the chain that matches, or a new one: through the
// index when the owner keeps one (a hit that no longer matches, such as a
// name resolved to a column since, sends the search to the chain).
template <class Matches>
Term* shared(char sort, std::string_view text, int32_t entry_type, int32_t data_type, Matches matches) {
    TableState& s = state();
    std::string key;
    if (s.index) {
        key = index_key(sort, text);
        Term* hit = s.index->find(key);
        if (hit && matches(*hit)) return hit;
    }
    Term* found = nullptr;
    if (!s.index || s.index->find(key)) {
        for (Term* t = s.anchor; t && !found; t = t->next)
            if (matches(*t)) found = t;
    }
    if (!found) found = made(entry_type, data_type, text);
    if (found && s.index) s.index->put(key, found);
    return found;
}

} // namespace

Term* invalid_term_anchor() { return reinterpret_cast<Term*>(static_cast<intptr_t>(-1)); }

void open_lexer(Term* anchor, TermIndex* index) {
    if (anchor == invalid_term_anchor()) {
        PRINT('s', "TRM0150", "Invalid pointer: quitting\n");
        quitting(0);
        return;
    }
    set_term_tb_anchor(anchor);
    state().index = index;
}

void close_lexer(Term*& anchor) {
    TableState& s = state();
    anchor = s.anchor;
    s.anchor = s.tail = nullptr;
    s.current_term = nullptr;
    s.index = nullptr;
}

void set_term_tb_anchor(Term* anchor) {
    TableState& s = state();
    s.anchor = s.tail = anchor;
    s.index = nullptr;  // a chain set this way has no index
    while (s.tail && s.tail->next) s.tail = s.tail->next;
}

Term* get_lex_term_tb_anchor() { return state().anchor; }

void free_perm_term_tb(Term* anchor) {
    TableState& s = state();
    if (anchor && anchor == s.anchor) {
        s.anchor = s.tail = s.current_term = nullptr;
        if (s.index) s.index->clear();
        s.index = nullptr;
    }
    while (anchor) {
        Term* next = anchor->next;
        free_term(anchor, kFreeTerm);
        anchor = next;
    }
}

void set_current_cursor(curs* cursor) {
    watch_cursor_list();
    detail::current_cursor_ptr = cursor;
}

void chain_term(Term* term) {
    TableState& s = state();
    term->next = nullptr;
    if (!s.anchor) {
        s.anchor = s.tail = term;
        register_table(term);
        return;
    }
    s.tail->next = term;
    s.tail = term;
}

void unchain_and_free_term(Term* term) {
    TableState& s = state();
    if (!term) {
        PRINT('w', "LEX0230", "Pointer to memory to free is NULL\n");
        return;
    }
    Term* prev = nullptr;
    Term* t = s.anchor;
    while (t && t != term) prev = std::exchange(t, t->next);
    if (!t) {
        PRINT('w', "LEX0240", "TERM_TABLE structure to free not found\n");
        return;
    }
    (prev ? prev->next : s.anchor) = term->next;
    if (s.tail == term) s.tail = prev;
    if (s.current_term == term) s.current_term = nullptr;
    if (s.index) s.index->forget(term);
    free_term(term, kFreeTerm);
}

Term* name_term(std::string_view text) {
    return shared('n', text, kNameTerm, kUndefined, [text](const Term& t) {
        return (t.entry_type == kNameTerm || t.entry_type == kVectorTerm) && !t.helper &&
               same_text_nocase(t.text(), text);
    });
}

Term* number_term(std::string_view text, int32_t data_type) {
    return shared(static_cast<char>('0' + data_type), text, kNumberConst, data_type, [&](const Term& t) {
        return !t.helper && t.entry_type == kNumberConst && t.data_type == data_type &&
               same_text_nocase(t.text(), text);
    });
}

Term* string_term(std::string_view text) {
    return shared('s', text, kStringConst, kCharacter, [text](const Term& t) {
        return !t.helper && t.entry_type == kStringConst && same_text_nocase(t.text(), text);
    });
}

Term* find_column_term(std::string_view cursor, std::string_view column, const Term* other) {
    for (Term* t = state().anchor; t; t = t->next)
        if (t != other && !t->helper && t->entry_type == kColumnTerm && same_text_nocase(t->cursor_name, cursor) &&
            same_text_nocase(t->text(), column))
            return t;
    return nullptr;
}

void TermIndex::forget(const Term* t) {
    for (char sort : {'n', 's', '2', '3'}) {
        const auto it = terms_.find(index_key(sort, t->text()));
        if (it != terms_.end() && it->second == t) terms_.erase(it);
    }
}

void forget_shared(const Term* term) {
    if (TermIndex* index = state().index) index->forget(term);
}

void set_current_term(Term* term) { state().current_term = term; }
Term* get_current_term() { return state().current_term; }

void set_term_table_registrar(TermTableRegistrar registrar) { state().registrar = registrar; }

void watch_cursor_list() {
    TableState& s = state();
    if (s.watching) return;
    on_delete_cursors(cursors_deleted);
    s.watching = true;
}

void reset_term_tables() {
    TableState& s = state();
    s.anchor = s.tail = s.current_term = nullptr;
    detail::current_cursor_ptr = nullptr;
    s.index = nullptr;
    s.registrar = nullptr;
    clear_reuse_list();
}

} // namespace qvx
