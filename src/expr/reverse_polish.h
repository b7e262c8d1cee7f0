// Lexeme lists to reverse Polish order: operands first, each operation
// after its operands, parentheses and commas gone.
#pragma once

#include <optional>

#include "expr/operations.h"

namespace qvx {

// The list in reverse Polish order, ending with an end lexeme; nothing for
// an unbalanced ")" (RPN0010) or a lexeme that is neither term nor
// operation.
std::optional<LexemeList> reverse_pol_notation(const LexemeList& lexemes);

} // namespace qvx
