// Base clauses of a cursor block ("base"): the cursors whose rows this
// cursor's rows are joined to on the collector side.
//
//   base DBS on datid->oid;
//
// For every row this cursor fetches, the row of DBS whose column oid
// holds the fetched value of the select item datid is the row that
// DBS.column references of the row read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/cursor.h"

namespace qvx {

// The rows of a base cursor by key: the oldest row of each key, over the
// rows of the current sample when the cursor keeps samples. Made when a
// row is positioned and the chain has changed since (stamp), so that one
// fetch joining N rows to M rows costs N + M look-ups.
struct BaseIndex {
    std::unordered_map<std::string_view, row_data*> first_of;  // views into the rows' text
    uint64_t stamp = 0;       // the chain's change stamp the index was made at
    int32_t sample_no = -1;   // the base cursor's sample then
    int32_t compare_len = -1; // key bytes compared
    bool made = false;
};

// One "base NAME on KEY->COLUMN".
struct BaseEntry {
    std::string base_name;     // the base cursor
    std::string base_col_name; // its key column (after "->")
    std::string key_name;      // this cursor's select item carrying the key (after "on")
    curs* base_cur = nullptr;  // bound by edit_bases
    int16_t base_col = -1;     // base_col_name's position in base_cur
    // The base row chosen for the row being built, and the base chain's
    // stamp then (a row chosen before the chain changed is not used).
    row_data* row = nullptr;
    uint64_t row_stamp = 0;
    BaseIndex index;
};

struct BaseClauses {
    std::vector<std::string> texts;  // the statements as written
    std::vector<BaseEntry> entries;  // in clause order
};

// Parses the text after "base" and appends the entry to the cursor's
// list: 0 accepted, 1 rejected ("Invalid base format: %s\n", pba3285
// without "on ", pba3290 without "->" or a key column).
int parse_base(curs& cursor, std::string_view text);

} // namespace qvx
