// The SQL-like select over collected cursors: what the internal
// procedures use instead of going back to the database. A select list
// of expressions and an optional WHERE condition are evaluated over a
// cursor's stored rows (oldest first) and the result is written into one
// variable of the caller; single columns of a cursor's current row are
// read into caller variables or into named terms that later WHERE
// conditions can compare against. Select lists and WHERE texts are kept
// lexed in the lexed-expression store, so each text is lexed once.
//
// A procedure run installs its term table with start_exec_sql and takes
// it back with end_exec_sql; perform_select, select_column and
// declare_C_var without an installed table write SEL1010 and the
// collector ends.
#pragma once

#include <cstdint>
#include <string_view>

#include "expr/select_walk.h"
#include "expr/term.h"
#include "expr/term_table.h"

namespace qvx {

// How a result reaches the caller's variable (the target pointer).
enum SelectTargetType : int {
    kTargetText = 1,     // const char*: the value text, valid until the same term is used again
    kTargetInt = 2,      // int32_t
    kTargetFloat = 3,    // float
    kTargetIgnore4 = 4,  // accepted, nothing stored
    kTargetIgnore5 = 5,  // accepted, nothing stored
};

// Installs the procedures' term table (the lexer's current table too).
// One table serves every procedure run and outlives them: the
// lexed-expression store keeps the lists lexed into it, which name its
// terms, for the whole run.
void start_exec_sql(TermTable& table);
// Takes the table back from the lexer; the module is not initialised again
// until the next start_exec_sql.
void end_exec_sql(TermTable& table);
// True between start_exec_sql and end_exec_sql.
bool exec_sql_started();

// Evaluates the select list over the cursor's rows that pass `where`
// (nullptr: every row) and stores the last group's first value into
// target as `type` says. 0 stored, 1 error, 100 no row.
int perform_select(std::string_view select_list, std::string_view cursor_name, void* target,
                   const char* where, int type);

// Reads one column of the cursor's current row (the row a walk stands
// on, else the newest) into target. With a variable name the value is
// also kept in the name term of that name (its type the target type), so
// that WHERE conditions can name it; `cache` keeps the term between calls
// (nullptr: none). 0 or 1.
int select_column(std::string_view column, std::string_view cursor_name, void* target, int type,
                  const char* variable, Term** cache);

// Makes a caller value visible to expressions as the name term `name`:
// type 1 a zero-terminated text (not copied: it must outlive the uses),
// 2 an int32_t, 3 a float. 0 or 1 (TRM0100, TRM0110).
int declare_C_var(std::string_view name, int type, const void* value);

// Nothing to release (kept for the procedure runner's call order).
void cleanup_select();

// Back to start-up: no table, the descriptors cleared (tests).
void reset_select();

} // namespace qvx
