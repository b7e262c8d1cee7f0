// What the parts of the SQL-like select share: the check that a term
// table is installed, the storing of a result into the caller's target,
// the conversions of value texts to numbers and the AND terms of a
// condition.
#pragma once

#include <cstdint>
#include <string_view>

#include <vector>

#include "expr/operations.h"
#include "expr/term.h"

namespace qvx {

// True with a term table installed; else SEL1010 and the collector ends
// (false when the exit returns).
bool sql_initialised();

// Stores the first member of the ROW vector into target as type says and
// puts the result back on the reuse list (result is cleared). 0 or 1.
int dispose_result(TermPtr& result, void* target, int type);

// The whole text (leading white space allowed) as a decimal integer or as
// a number; false when something else follows or the value does not fit.
bool text_to_int(std::string_view text, int32_t& out);
bool text_to_double(std::string_view text, double& out);

// A span of a reverse Polish list: [first, end).
struct Range {
    uint32_t first;
    uint32_t end;
};

// The spans of the condition's AND terms, in order, when there are two or
// more and each is an operation of pure operations (no assignment, SUM or
// ROW); else none, and the condition is evaluated whole.
std::vector<Range> conjuncts_of(const LexemeList& list);

} // namespace qvx
