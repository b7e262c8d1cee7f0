// The evaluation file (base name "eval"): threshold evaluations, each a
// block of statements naming a cursor, a column (optionally with a
// column-function prefix), an operator and a value. Read once at start-up
// when PROCESS.CTL has an "evaluator"; every evaluation is kept on the
// cursor it names.
#pragma once

#include <string_view>

#include "model/evaluation.h"

namespace qvx {

// Keyword codes of the evaluation file.
enum EvalKeyword : int {
    EK_NONE = 0,
    EK_EVAL = 1,
    EK_VALUE = 2,
    EK_CURSOR = 3,
    EK_COLUMN = 4,
    EK_OPERATOR = 5,
    EK_NAME = 6,
    EK_END = 7,
};

// Code of a keyword written all in lower or all in upper case; 0 for any
// other word and for words shorter than 3 or longer than 8 characters.
int eval_key_word(const char* word, int length);
inline int eval_key_word(std::string_view word) {
    return eval_key_word(word.data(), static_cast<int>(word.size()));
}

// Reads the evaluation file; 0 when every evaluation was accepted, 1 when
// the file cannot be opened or any statement failed.
int parse_eval();

// Reads the evaluation file at start-up; a failure ends the collector
// through quitting(-1001).
int init_eval();

// Number of evaluations accepted so far.
int eval_count();

// Forgets the evaluations of every cursor and the ordinal count (tests).
void reset_eval();

} // namespace qvx
