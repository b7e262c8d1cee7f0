// The expression interpreter: evaluates a reverse Polish list against the
// collected rows. Names resolve to cursor columns, percent variables or
// work variables of the expression; every operation's result is a work
// variable, and the last one is the answer. The select-wide processing
// mode and row status steer SUM and ROW across the rows of one select.
#pragma once

#include <span>

#include "expr/operations.h"

namespace qvx {

// Evaluates the list (overwritten: consumed operands become end lexemes,
// each operation's slot its result), so a stored list is copied first.
// The caller has installed the owner's term table and set the current
// cursor. The result, or null after a reported failure or for a list
// without operations; every other work variable is put on the reuse list.
TermPtr interpreter(std::span<Lexeme> list);

// Frees every term of the chain except keep (free_term in the mode),
// clears keep's next and empties the anchor. Int0070 for an empty chain
// with a term to keep.
void free_work_chain(Term*& chain, Term* keep, int mode);

// Resolves a term before use: constants take their value, names become
// columns of the current cursor, percent variables or work variables,
// column terms read the current value of their column. 0 good.
int edit_arg_term(Term& term);

// The value text as a number: integer (numeric kind 2) when the whole text
// is a decimal integer, else double (kind 3) when it is a number, else
// kind 0 and the numeric value cleared.
void term_str2num(Term& term);

// Compares two arguments (text with text, else as numbers); result's sign
// orders args[0] against args[1]. 0 good, 1 failed (reported).
int compare_subr(Term* const* args, int& result);

// Processing mode of the select: 0 first selected row, 1 first row of a
// new group, 2 any further row.
void set_proc_mode(int mode);
int get_proc_mode();
// Row status: 0 no row produced, 1 failed, 2 same group, 3 a new group.
void set_row_status(int status);
int get_row_status();

// Mode and row status back to 0 (tests).
void reset_interpreter();

} // namespace qvx
