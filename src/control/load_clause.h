// Load clauses of a cursor block ("load"): a value of this cursor's rows,
// copied or aggregated, goes into a column of a virtual cursor after every
// fetch. The texts are kept as read; parse_loads makes the load records
// once every cursor is known (a load names its target cursor).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/decode_clause.h"
#include "model/cursor.h"

namespace qvx {

// One load, in clause order.
struct Load {
    std::string text;                 // the statement as written
    int16_t src_col = -1;             // source column: position in this cursor's columns
    std::string src_form;             // the source as written (a column-list entry)
    ColumnFunction src_funct = ColumnFunction::none;  // a column-function prefix of the source
    int16_t src_samples = 0;          // the function's sample count
    curs* target_cur = nullptr;       // the virtual cursor receiving the value
    int16_t target_col = -1;          // its column: position in target_cur's columns
    bool is_min = false, is_max = false, is_max_occ = false;  // from MIN / MAX / MAX_OCCURANCE
    bool is_count = false, is_sum = false, is_average = false;
    bool has_from = false, has_where = false;
    DecodeAnchor where_ops;           // the where test (bound by edit_loads)
    int16_t from_col = -1;            // the column compared by from
    double sum = 0;                   // running sum of the last run
    int32_t matches = 0;              // matching rows of the last run
    bool ready = false;               // the where test is bound to its column
};

struct LoadClauses {
    std::vector<std::string> texts;   // the statements as written
    std::vector<Load> loads;          // made by parse_loads
};

// Parses the load texts of every cursor (again from the texts on each
// call). Ends with "Load parsing ended ok." or "... with errors."; 0 good,
// 1 after errors (each reported).
int parse_loads();

// Parses one load text of the cursor into load; 0 good, 1 reported.
int parse_load(curs& cursor, const std::string& text, Load& load);

} // namespace qvx
