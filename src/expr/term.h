// Terms of the expression language: every constant, name and column that
// expression text mentions, and every intermediate result the interpreter
// makes, is one TERM_TABLE record. This module makes, copies, checks and
// releases single terms and keeps the reuse list that work variables are
// taken from.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "model/cursor.h"
#include "runtime/trace.h"

namespace qvx {

enum TermEntry : int32_t {
    kStringConst = 1,
    kNumberConst = 2,
    kColumnTerm = 3,
    kNameTerm = 4,   // variable, percent variable, unresolved name, work variable
    kVectorTerm = 5, // the result of ROW
};

enum TermDataType : int32_t {
    kUndefined = 0,
    kCharacter = 1,
    kInteger = 2,
    kDecimal = 3,
    kMaxDataType = 6,  // 4 to 6 are the select's caller variables
};

enum NumericKind : int32_t { kNotNumeric = 0, kIntKind = 2, kDoubleKind = 3 };

// How a term was resolved: not yet, to a value of its own (constants and
// variables), or to a column whose current value it reads.
enum class TermSource : int8_t { none, fixed, column };

constexpr int32_t kTermTag = 2;
constexpr size_t kTermNameLen = 50;   // characters; the field has one more for the zero
constexpr size_t kMaxCursorLen = 8;

// The fields of the record, the ones every evaluation reads first (one
// cache line), the texts after them.
struct Term {
    int32_t tag = kTermTag;
    int32_t entry_type = 0;
    int16_t work = 0;                 // a work variable of the interpreter
    int16_t value_owned = 0;          // value is own_buffer
    int32_t data_type = kUndefined;
    const char* value = name;         // current value, zero-terminated
    int32_t ival = 0;                 // numeric value by numeric_kind
    int32_t numeric_kind = kNotNumeric;
    double dval = 0;
    int32_t len = 0;                  // value length
    TermSource source = TermSource::none;
    int8_t helper = 0;                // 1 a SUM accumulator, 2 a ROW copy (owned by the table)
    bool follows_cursor = false;      // an unqualified name bound to a column of the current
                                      // cursor: bound again when another cursor is current
    uint32_t src_generation = 0;      // cursor-list generation of the resolution
    // Where a column term's value is read (source == column).
    curs* src_cursor = nullptr;
    size_t src_col = 0;
    Term* sum_term = nullptr;         // SUM accumulator (a term of the same table)
    Term* vector_partner = nullptr;   // ROW: the copy of this term, or what a copy stands for
    Term* vector_next = nullptr;      // ROW: next member of a vector
    Term* next = nullptr;             // term table, work chain or reuse list
    char name[kTermNameLen + 1] = {}; // text of the term; also the inline value
    char cursor_name[kMaxCursorLen + 1] = {};
    std::string own_buffer;           // the owned value (value_owned)
    std::string long_text;            // the whole text when it does not fit in name

    Term() = default;
    Term(const Term&) = delete;
    Term& operator=(const Term&) = delete;

    // The term's whole text: the name field, or an owned text that did
    // not fit in it (long constants and names keep their full text there).
    std::string_view text() const { return long_text.empty() ? std::string_view(name) : long_text; }
    bool is_resolved() const { return source != TermSource::none; }
    bool owns_real_buffer() const { return value_owned && value == own_buffer.c_str(); }

    // Makes the owned buffer the value and fills it with text.
    void set_owned(std::string_view text);
    // Drops an owned buffer; the value is the name field again.
    void use_inline();
    // Sets name (cut to the field) and the value; a text longer than the
    // field is kept whole as an owned value.
    void set_text(std::string_view text);
};

// The expression debug switch (the ninth debug level).
inline bool expr_debug() { return debug_on(8); }

// A new zeroed term of tag 2 with the given types, its value the name
// field. Memory exhausted: TRM0010 and the collector ends.
Term* alloc_term(int32_t entry_type, int32_t data_type);

// Copies source into target (value buffer, fields); the target's sum,
// vector and next links are cleared. 0 good, 1 failure (reported).
int copy_term(Term& target, const Term& source);

// Release modes of free_term.
enum FreeMode { kFreeTerm = 0, kReuseTerm = 1, kUnlinkTerm = 2 };

// Frees the term's owned value, clears its links and by mode frees it,
// puts it on the reuse list or only unlinks it. The members of a vector
// (SUM accumulators, ROW copies) are terms of the term table and go with
// it: free_term unlinks the member chain, simple_free_term leaves it.
// With the debug switch on an invalid term is refused (LEX0243; LEX0252
// for simple_free_term).
void free_term(Term* term, int mode);
void simple_free_term(Term* term, int mode);

// With the debug switch on: TRM0200, TRM0210 or TRM0220 for a broken
// term; 0 valid (always 0 with the switch off).
int verify_term(const Term* term);

// The reuse list: freed terms, cleared, that become work variables. Taken
// and given back for every operation of every evaluation, so both ends
// are inline.
namespace detail {
struct ReuseList {
    Term* head = nullptr;
    size_t count = 0;
    ~ReuseList();
};
inline ReuseList reuse_list;

// Every field back to that of a new term (the bytes after the name's
// zero are never read).
inline void clear_term(Term& t) {
    t.tag = kTermTag;
    t.entry_type = 0;
    t.work = 0;
    t.name[0] = '\0';
    t.value = t.name;
    t.value_owned = 0;
    t.data_type = kUndefined;
    t.ival = 0;
    t.dval = 0;
    t.numeric_kind = kNotNumeric;
    t.cursor_name[0] = '\0';
    t.source = TermSource::none;
    t.len = 0;
    t.sum_term = t.vector_partner = t.vector_next = t.next = nullptr;
    t.src_cursor = nullptr;
    t.src_col = 0;
    t.src_generation = 0;
    t.helper = 0;
    t.follows_cursor = false;
    if (!t.own_buffer.empty()) std::string().swap(t.own_buffer);
    if (!t.long_text.empty()) t.long_text.clear();
}
} // namespace detail

// A term from the reuse list, cleared, or a new one; null when memory ran
// out (nothing reported).
inline Term* take_reused_term() {
    detail::ReuseList& r = detail::reuse_list;
    if (Term* t = r.head) {
        r.head = t->next;
        t->next = nullptr;
        --r.count;
        return t;
    }
    return new (std::nothrow) Term;
}

// A work variable to the reuse list: free_term in mode 1, without the
// checks when it holds nothing of its own and the debug switch is off.
// A work variable was taken cleared and its procedures set only its
// value, its number and its SUM and ROW links: those are cleared again.
inline void recycle_work_term(Term* t) {
    if (!t) return;
    if (t->value_owned || expr_debug() || !t->work || t->source != TermSource::none || t->helper) {
        free_term(t, kReuseTerm);
        return;
    }
    t->entry_type = 0;
    t->work = 0;
    t->data_type = kUndefined;
    t->numeric_kind = kNotNumeric;
    t->ival = 0;
    t->dval = 0;
    t->name[0] = '\0';
    t->value = t->name;
    t->len = 0;
    t->sum_term = t->vector_partner = t->vector_next = nullptr;
    t->next = detail::reuse_list.head;
    detail::reuse_list.head = t;
    ++detail::reuse_list.count;
}

// Frees the reuse list (tests, exit).
void clear_reuse_list();
inline size_t reuse_list_size() { return detail::reuse_list.count; }

// Owner of a work variable handed to a caller: put on the reuse list when
// it goes.
struct RecycleTerm {
    void operator()(Term* t) const { recycle_work_term(t); }
};
using TermPtr = std::unique_ptr<Term, RecycleTerm>;

} // namespace qvx
