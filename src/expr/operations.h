// The operation table of the expression language (operators, functions,
// parentheses and the separator, with their argument counts, priorities
// and procedures), its three look-ups, and the lexeme: one entry of a
// lexeme list or reverse Polish list, naming an operation or a term.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "expr/term.h"

namespace qvx {

// An operation's procedure: the arguments in source order (for a variable
// count followed by a null entry) and the result work variable; 0 good,
// 1 failed (reported).
using OperationProc = int (*)(Term* const* args, Term& result);

enum OperationKind : int16_t { kOperator = 1, kFunction = 2, kSeparator = 3 };

constexpr int32_t kOperationTag = 1;
constexpr int32_t kTableEndTag = 3;
constexpr int16_t kVariableArgs = -1;
constexpr int kMaxVariableArgs = 100;

struct Operation {
    int32_t tag;         // kOperationTag, kTableEndTag for the end row
    const char* text;
    int16_t kind;        // OperationKind
    int16_t args;        // kVariableArgs: up to kMaxVariableArgs
    int16_t priority;
    OperationProc proc;  // null for parentheses and the separator
    int16_t check;       // 4, 5: arguments must hold a value; 6: need not
};

// Equal texts, ignoring the case of ASCII letters.
bool same_text_nocase(std::string_view a, std::string_view b);

// "operation" for an operator, "function" otherwise (messages).
const char* operation_word(const Operation& op);

// The two-argument operators and the separator; the unary operators; the
// functions. The token must equal the row's text, ignoring case.
const Operation* find_oper_type(std::string_view token);
const Operation* find_spec_oper_type(std::string_view token);
const Operation* find_function(std::string_view token);

// The ROW function row (select lists end in it).
const Operation* get_row_func_entry();

// The row of that text and kind (tests and tools); null for none.
const Operation* operation_row(std::string_view text, int16_t args);

// One lexeme: an operation row or a term; neither is the end of a list.
struct Lexeme {
    const Operation* op = nullptr;
    Term* term = nullptr;

    bool is_end() const { return !op && !term; }
};

// A lexeme list or a reverse Polish list, ending with an end lexeme.
using LexemeList = std::vector<Lexeme>;

// The most references a list holds, its end included.
constexpr int kMaxLexemes = 2000;

} // namespace qvx
