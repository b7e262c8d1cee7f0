// Math clauses of a cursor block ("math"): a column computed from numbers,
// other columns of the row being built and columns of other cursors'
// current rows, combined with + - * / and parentheses.
//
//   math [decimal N] [noround|round] [initial X] [high|low] NAME expression
//
//   math decimal 1 HIT_PCT ( READS - MISSES ) * 100 / READS
//   math high PEAK SESS.ACTIVE
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

// Word kinds of an expression; an evaluation cell uses the same codes,
// with value for a filled-in value and used_up for a cell already spent.
enum class MathKind : int16_t {
    used_up = 0,
    name = 1,
    left = 2,      // "("
    right = 3,     // ")"
    value = 4,     // a constant (a cell: any value)
    add = 5,
    subtract = 6,
    multiply = 7,
    divide = 8,
};

// Running high or low over the answers of a cursor's life.
enum class MathWater : int16_t { none = 0, high = 1, low = 2 };

// One word of an expression.
struct MathWord {
    std::string text;           // as written; a name at most 49 characters
    MathKind kind = MathKind::name;
    double value = 0;           // a constant's value
    curs* ref_cur = nullptr;    // the cursor of a cursor.column name; null for an own column
    int16_t ref_col = -1;       // the column named: its position in its cursor's columns
};

// A cell of the work array the expression is reduced in.
struct MathCell {
    double value = 0;
    MathKind kind = MathKind::used_up;
};

// One math clause.
struct MathDef {
    std::string name;            // the column it computes; fewer than 50 characters
    std::string text;            // the clause as written, for messages
    std::vector<MathWord> words;  // in text order
    int16_t paren_count = 0;     // "(" words
    std::vector<MathCell> math;  // work array, one cell per word, reused for every row
    int16_t decimals = 2;        // digits kept after the point
    int16_t round = 1;           // 1 round, 0 noround
    double round_add = 0.005;    // 0.5 / 10^decimals when rounding, else 0
    double prev_answer = 0;      // last answer, for high and low
    MathWater water = MathWater::none;
    int16_t have_prev = 0;       // prev_answer is set
    double initial = 0;          // answer while the age_to target has no copy yet

    int16_t word_count() const { return static_cast<int16_t>(words.size()); }
};

struct MathClauses {
    std::vector<MathDef> defs;  // in clause order
};

// Parses the text after "math" and appends the definition to the
// cursor's math list. 0 accepted; 1 rejected (reported: the caller counts
// the clause as an error of the file).
int parse_math(curs& cursor, std::string_view text);

} // namespace qvx
