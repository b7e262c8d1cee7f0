// What the parts of the SQL-like select share: the check that a term
// table is installed, the storing of a result into the caller's target
// and the conversions of value texts to numbers.
#pragma once

#include <cstdint>
#include <string_view>

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

} // namespace qvx
