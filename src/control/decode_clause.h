// Decode clauses of a cursor block ("decode"): tests on one column of the
// row being built and what replaces its value on the first test that
// holds. The same tests serve the "where" of a load and "iterate_where".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

struct InList;

// Operator codes, as the decode traces show them.
enum class DecodeOperator : int16_t {
    none = 0,
    equal = 1,          // "="
    greater = 2,        // ">"
    less = 3,           // "<"
    null = 4,           // "NULL"
    otherwise = 5,      // "DEFAULT"
    greater_equal = 6,  // ">="
    less_equal = 7,     // "<="
    not_equal = 8,      // "~="
    search = 9,         // "search"
    in = 10,            // "in"
    and_mask = 11,      // "&"
};

enum class OperandType : int16_t { none = 0, number = 1, string = 2, column = 3, in_list = 5 };
enum class ReplacementType : int16_t { none = 0, number = 1, string = 2, column = 3, run = 4 };

// One "and" of a test: it holds for the same value as the test.
struct DecodeAndPart {
    DecodeOperator operatr = DecodeOperator::none;
    OperandType operand_type = OperandType::none;
    double op_num = 0;
    int16_t operand_ll = 0;
    std::string operand;         // 256 bytes: a number right-aligned, a string left-aligned
    std::string operand_column;  // as written
    ColumnRef ref;               // resolved operand column (cursor set also for an own column)
    uint32_t and_mask = 0;
};

// One decode clause (one test) on a column.
struct DecodeOp {
    DecodeOperator operatr = DecodeOperator::none;
    OperandType operand_type = OperandType::none;
    double op_num = 0;
    int16_t operand_ll = 0;
    std::string operand;              // 256 bytes, aligned as above
    std::string operand_column;       // operand column or in-list name, as written
    ReplacementType replacement_type = ReplacementType::none;
    int16_t replacement_ll = 0;
    std::string replacement;          // 256 bytes, aligned as the operand
    std::string replacement_column;   // replacement column or cursor to run, as written
    ColumnRef ref;                    // resolved operand column
    ColumnRef rep;                    // resolved replacement column
    std::vector<DecodeAndPart> and_parts;
    curs* run_cursor = nullptr;       // replacement type run: the cursor scheduled
    uint32_t and_mask = 0;
    const InList* in_list = nullptr;  // operand type in_list, looked up on first use
};

// The decodes of one column, in clause order.
struct DecodeAnchor {
    std::string col_name;
    std::vector<DecodeOp> ops;
    bool prepared = false;  // constants narrowed and in-lists looked up (first evaluation)
    int16_t column = -1;    // a test's column in the cursor whose rows it reads (bind_decode_test)
};

struct DecodeClauses {
    std::vector<DecodeAnchor> anchors;  // in order of first appearance of the column
};

// Parses the text after "decode" and chains the test under its column's
// anchor on the cursor. 0 accepted, 1 rejected (reported).
int parse_decode(curs& cursor, std::string_view text);

// Parses one "and" of a test: its operator and operand, from start (just
// after the word "and") in text, the whole clause. Appends the part to
// parts; returns the position after it, or 0 after an error (reported).
int parse_and(std::vector<DecodeAndPart>& parts, const std::string& text, int start);

// Parses a test that replaces nothing (a load's "where", an
// "iterate_where"): the text gets " , ' '" appended and the test goes into
// test (col_name and one operation), not on the cursor's decode list.
// 0 accepted, 1 rejected (reported).
int parse_decode_test(curs& cursor, std::string_view text, DecodeAnchor& test);

} // namespace qvx
