// The store of lexed expressions: every expression text that has been
// lexed and put into reverse Polish order, kept with its list and its term
// table for the whole run, so that a select list or a WHERE condition that
// the internal procedures run on every pass is parsed once. Entries with
// the same text form a group; within it an entry per cursor and kind,
// derived from a neighbour when first asked for (sharing its term table).
// Beside it, the registry of memory chains freed together at the end.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "expr/operations.h"
#include "expr/term_table.h"

namespace qvx {

// Kinds of stored entries.
enum LexKind : int {
    kLexPlain = 1,       // an expression, no cursor
    kLexCursor = 2,      // an expression of one cursor
    kLexSelectList = 4,  // a select list: its text ends in ",rfa", its list in ROW
    kLexWhere = 5,       // a WHERE condition
};

// What a caller and the store exchange. In: text, cursor, kind (and, to
// store, list and terms). Out: the stored text, cursor, list, its length
// in references (the end included), the term table and, for select lists
// and WHERE conditions, the work copy an evaluation overwrites.
struct LexBlock {
    std::string text;
    std::string cursor;
    int kind = 0;
    std::shared_ptr<const LexemeList> list;
    size_t list_len = 0;
    std::shared_ptr<TermTable> terms;
    LexemeList* replica = nullptr;
};

// 1 found (the block filled from the entry, an entry of the asked cursor
// or kind derived when missing), 0 not found, 2 error (parse again).
int find_lex_block(LexBlock& block);

// Stores the block's text, list, terms and cursor as an entry of its kind
// (1, 2, 4 or 5; any other fails) beside the entries of the same text,
// and fills the block from the new entry. 0 stored, 1 failed.
int store_lex_block(LexBlock& block);

// Registers a memory chunk: with an offset that is not negative a list
// whose next pointer lies at that offset in every element, else a single
// block; release frees one element. 0 registered, 2 registered before,
// 1 no registry (no release function).
int register_memory(void* chunk, long offset, void (*release)(void*));

// Frees every registered chunk (a list element by element) and empties
// the registry.
void free_loose_memory();

// Entries in the store (tests and benchmarks).
size_t lex_store_size();

// Empties the store and the registry (the registry's chunks are freed).
void reset_lex_store();

} // namespace qvx
