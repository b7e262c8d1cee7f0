// The expression lexer: expression text to a flat lexeme list, table
// driven. A character-class table, two state machines given as transition
// matrices (one for expressions and function argument lists, one for
// single terms) and one routine per state; the routines of the expression
// machine run the term machine for every term, and the function routine
// of the term machine runs the expression machine again for the argument
// list. The terms the lexemes name live in the current term table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "expr/operations.h"

namespace qvx {

constexpr int kCharClasses = 13;
constexpr int kStates = 8;

// Class of a character, 0 for none. The zero byte ends an expression like
// ';' (with the debug switch on, LEX0035 says so).
int char_class(char ch);

// The state one run is in while a routine looks at the current character.
struct LexRun {
    const char* text;
    size_t& pos;        // shared by nested runs
    int cls;            // class of the character at pos
    int depth;          // parenthesis depth of this run
    LexemeList& out;
    int& count;         // references appended
};

// A state routine's answer: 0 go on with the next character by the
// matrix, 1 stop (success), 2 go on by the class the routine has set,
// -1 stop (failure, reported).
using StateRoutine = int (*)(LexRun& run);
using StateTable = std::array<StateRoutine, kStates + 1>;                  // by state, from 1
using SwitchMatrix = std::array<std::array<int8_t, kCharClasses + 1>, kStates + 1>;  // [state][class]

extern const SwitchMatrix express_switch_mx;
extern const SwitchMatrix term_switch_mx;
extern const StateTable ExprStateTable;
extern const StateTable SubExprStateTable;
extern const StateTable TermStateTable;

// What one run of a machine works with: the routine table, the text, the
// caller's position and its lexeme counter.
struct LexContext {
    const StateTable* routines;
    const char* text;
    size_t* pos;
    int* count;
};

// Runs one state machine from *ctx.pos; the lexemes, or nothing after a
// reported failure. *ctx.pos is left where the run stopped.
std::optional<LexemeList> lexer(LexContext& ctx, const SwitchMatrix& matrix);

// Lexes one expression from pos up to and including its end (';' or the
// end of the text) and converts it to reverse Polish order. pos is left
// one character after the end. The owner's term table must be installed
// and the current cursor set. Nothing after LEX0005 (lexing) or LEX0007
// (conversion).
std::optional<LexemeList> parse_expression(const char*& pos);

// The expression end sign.
char get_expr_end_sign();

// Appends one lexeme, counting it; "Expression is too long" under the
// given id when the list is full.
bool append_lexeme(LexRun& run, Lexeme lexeme, const char* too_long_id);

// The term machine's routines (term_lexer.cpp).
int init_term_rtn(LexRun& run);
int name_rtn(LexRun& run);
int qualif_name_rtn(LexRun& run);
int function_rtn(LexRun& run);
int number_rtn(LexRun& run);
int string_rtn(LexRun& run);
int end_term_rtn(LexRun& run);
int expr_error_rtn(LexRun& run);

// The expression machine's start routine (also the term machine's).
int init_expr_rtn(LexRun& run);

} // namespace qvx
