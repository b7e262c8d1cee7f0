// The current term table: the chain of terms that the lexer and the
// interpreter work on. Each owner (the IF conditions of all cursors, the
// internal procedures) keeps its own chain and installs it before parsing
// or evaluating; the module keeps the installed chain with its tail, the
// cursor whose columns unqualified names resolve to, and the name term
// that waits for its "(" or ".".
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "expr/term.h"
#include "model/cursor.h"

namespace qvx {

// An index over the constants and names of one chain, kept by the chain's
// owner: the shared terms are then found without walking the chain (a
// table holding the conditions of thousands of cursors). It only speeds
// the look-ups up; every hit is checked, and the chain decides.
class TermIndex {
public:
    Term* find(const std::string& key) const {
        const auto it = terms_.find(key);
        return it == terms_.end() ? nullptr : it->second;
    }
    void put(const std::string& key, Term* t) { terms_[key] = t; }
    // Drops the entries of the term under its present text.
    void forget(const Term* t);
    void clear() { terms_.clear(); }

private:
    std::unordered_map<std::string, Term*> terms_;
};

// Makes the chain the current term table, with the owner's index of it
// if it keeps one. The invalid anchor (the value -1) is refused with
// TRM0150 and the collector ends.
void open_lexer(Term* anchor, TermIndex* index = nullptr);
// Gives the current chain back to the owner's variable and clears the
// current anchor.
void close_lexer(Term*& anchor);

void set_term_tb_anchor(Term* anchor);
Term* get_lex_term_tb_anchor();

// The anchor value that open_lexer refuses.
Term* invalid_term_anchor();

// Frees every term of the chain.
void free_perm_term_tb(Term* anchor);

// The cursor unqualified names resolve to; null for none. Read for every
// column value, so it is read in place.
namespace detail {
inline curs* current_cursor_ptr = nullptr;
}
void set_current_cursor(curs* cursor);
inline curs* current_cursor() { return detail::current_cursor_ptr; }

// Appends a term to the current table; the first term of an empty table
// registers the table with the memory registry (when one is set).
void chain_term(Term* term);

// Removes the term from the current table and frees it (LEX0230 for a
// null term, LEX0240 when it is not in the table).
void unchain_and_free_term(Term* term);

// The shared terms of the current table, found or made (and chained):
// a name (entry type 4 or 5, text ignoring case), a number of the data
// type, a string constant (text ignoring case). Null only when memory ran
// out.
Term* name_term(std::string_view text);
Term* number_term(std::string_view text, int32_t data_type);
Term* string_term(std::string_view text);
// Drops the index entries of a term whose text or kind is about to change.
void forget_shared(const Term* term);

// An existing column term of the table for cursor and column (ignoring
// case), other than the one given; null for none.
Term* find_column_term(std::string_view cursor, std::string_view column, const Term* other);

// The name term awaiting its "(" or "." while a term is lexed.
void set_current_term(Term* term);
Term* get_current_term();

// Memory registry of term tables: called with the first term of a new
// table and the offset of its next link; answers 0 registered, 1 failed
// (TRM0100, the collector ends), 2 registered before (TRM0110), other
// (TRM0120). Null: tables are not registered.
using TermTableRegistrar = int (*)(void* chunk, long next_offset);
void set_term_table_registrar(TermTableRegistrar registrar);

// Generation of the cursor list: grows whenever the cursors are deleted,
// so that a column resolution made before is made again. Read for every
// column value, so it is read in place; watch_cursor_list() makes sure
// the deletion is seen (called when a resolution is made).
namespace detail {
inline uint32_t cursor_list_generation = 1;
}
inline uint32_t cursor_generation() { return detail::cursor_list_generation; }
void watch_cursor_list();

// Owner of a chain: frees it when it goes; install() makes it current
// for as long as the returned guard lives.
class TermTable {
public:
    TermTable() = default;
    ~TermTable() { free_perm_term_tb(head_); }
    TermTable(const TermTable&) = delete;
    TermTable& operator=(const TermTable&) = delete;

    class Installed {
    public:
        explicit Installed(TermTable& t) : table_(t) { open_lexer(t.head_, &t.index_); }
        ~Installed() { close_lexer(table_.head_); }
        Installed(const Installed&) = delete;
        Installed& operator=(const Installed&) = delete;

    private:
        TermTable& table_;
    };
    [[nodiscard]] Installed install() { return Installed(*this); }
    Term* head() const { return head_; }

private:
    Term* head_ = nullptr;
    TermIndex index_;  // terms made while the table is installed
};

// Back to start-up: no current table, cursor, current term or registrar;
// the reuse list freed (tests).
void reset_term_tables();

} // namespace qvx
