// Column exits ("column_exit") and fetch lengths ("set_len") of a cursor
// block, in the order written.
//
//   column_exit NAME R_JUSTIFY;
//   column_exit QUERY SUBSTR ( 1 , 40 );
//   column_exit WHO CONCAT DBNAME;
//   column_exit STARTED MINUTES;
//   set_len QUERY 200;
//
// A column exit reformats a column of the row being built with one of the
// built-in routines below; several exits on one column run in clause
// order. A set_len gives one select-list item its fetch length.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

// The built-in routines.
enum class ExitRoutine : int16_t { r_justify, l_justify, minutes, substr, concat, minutes2, timestamp };

// What a routine takes after its name: nothing, "( start , length )" or
// a column name.
enum class ExitKind : int16_t { plain = 0, substr = 1, concat = 3 };

struct ExitRoutineName {
    std::string_view name;   // matched exactly, as written here ...
    std::string_view lower;  // ... or in lower case
    ExitKind kind;
    ExitRoutine routine;
};

// Every routine, in the order the names are tried.
std::span<const ExitRoutineName> exit_routine_names();

// The routine of that name, null when none is called so.
const ExitRoutineName* find_exit_routine(std::string_view name);

// One column_exit clause.
struct ColumnExit {
    ExitRoutine routine = ExitRoutine::r_justify;
    int16_t start = 0;        // SUBSTR: first position, from 1
    int16_t sub_len = 0;      // SUBSTR: characters taken
    std::string concat_name;  // CONCAT: the column appended, as written
    ColumnRef concat;         // CONCAT: that column, resolved (its cursor also for an own column)
};

// The exits of one column, in clause order.
struct ColumnExitChain {
    std::string col_name;          // the column, fewer than 50 characters
    std::vector<ColumnExit> exits;
    bool bound = false;            // matched to a column
    int16_t column = -1;           // that column's position in the cursor
};

struct ColumnExitClauses {
    std::vector<ColumnExitChain> chains;  // in order of the column's first exit
    std::vector<size_t> in_column_order;  // the bound chains, by their column's position
};

// Parses the text after "column_exit" and adds the exit to its column's
// chain on the cursor. 0 accepted, 1 rejected (reported).
int parse_col_ex(curs& cursor, std::string_view text);

// Longest fetch length a set_len may give; also the largest SUBSTR operand.
constexpr int16_t kMaxSetLen = 2048;

// One set_len clause.
struct SetLenEntry {
    std::string name;  // a select-list item name, at most 49 characters
    int16_t len = 0;
    int16_t index = -1;  // the item's position in the select list, once resolved
};

struct SetLenClauses {
    std::vector<SetLenEntry> entries;  // in clause order
    bool resolved = false;             // every name found in the select list
};

// Parses the text after "set_len" and appends the entry to the cursor.
// 0 accepted, 1 rejected (reported).
int parse_set_len(curs& cursor, std::string_view text);

} // namespace qvx
