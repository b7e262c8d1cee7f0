// The procedures of the operation table. Each takes the arguments in
// source order and the result work variable; 0 good, 1 failed (reported).
#pragma once

#include "expr/term.h"

namespace qvx {

// Logical: the arguments must be numbers; the result is 1 or 0.
int or_prc(Term* const* args, Term& result);
int and_prc(Term* const* args, Term& result);
int not_prc(Term* const* args, Term& result);

// Comparisons through compare_subr; LIKE with the wildcards % and _.
int equ_prc(Term* const* args, Term& result);
int nequ_prc(Term* const* args, Term& result);
int less_prc(Term* const* args, Term& result);
int nless_prc(Term* const* args, Term& result);
int grt_prc(Term* const* args, Term& result);
int ngrt_prc(Term* const* args, Term& result);
int like_prc(Term* const* args, Term& result);

// Assignment to the first argument; the result tells whether the value
// assigned is not empty (text) or not zero (number).
int asgnt_prc(Term* const* args, Term& result);

// Arithmetic in double; an integer pair gives an integer, a division
// always a double.
int plus_prc(Term* const* args, Term& result);
int minus_prc(Term* const* args, Term& result);
int mltpl_prc(Term* const* args, Term& result);
int div_prc(Term* const* args, Term& result);
int neg_prc(Term* const* args, Term& result);

// The select functions: a running sum per group, and the vector of a
// select list's values that tells where a new group begins.
int sum_func(Term* const* args, Term& result);
int row_func(Term* const* args, Term& result);

} // namespace qvx
