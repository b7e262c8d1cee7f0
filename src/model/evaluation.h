// Evaluations: threshold conditions from the evaluation file, each on one
// column of one cursor. A cursor keeps its evaluations newest first.
#pragma once

#include <cstdint>
#include <string>

namespace qvx {

struct row_entry;

struct e_ptr {
    std::string name;           // at most 35 characters
    std::string cursor_name;    // at most 8 characters
    int32_t less = 0;           // the operator holds "<"
    int32_t equal = 0;          // the operator holds "="
    int32_t greater = 0;        // the operator holds ">"
    int16_t col_name_ll = 0;    // length of col_name
    std::string col_name;       // at most 32 characters, without a function prefix
    int32_t value_type = 0;     // 1 numeric, 2 character
    double value = 0.0;         // when value_type is 1
    int32_t fired = 0;          // held for some row at this run
    int32_t fired_before = 0;   // fired at the previous run
    int16_t value_ll = 0;       // length of value_text
    std::string value_text;     // as written, surrounding quotes removed
    int32_t col_funct = 0;      // 0 plain column, else a column-function code
    int32_t ordinal = 0;        // from 1, in file order of the accepted evaluations
    row_entry* candidate = nullptr;  // last entry tested that did not satisfy, this run
};

} // namespace qvx
