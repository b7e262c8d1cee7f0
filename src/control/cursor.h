// COLLECT.CTL: the cursor parser and the checks of a cursor block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"
#include "model/cursor_list.h"

namespace qvx {

// Reads COLLECT.CTL; 0 on success, 1 otherwise.
int parse_curs();

// Keyword code of a COLLECT.CTL word (any case, full length; at most 59
// characters), 0 when it is no keyword.
int test_word(const char* word, size_t length);

// Appends a column for a host-variable word (the text after ":"):
//   [digits][type!][digits][function!][type!][digits]name[^length]
// Types INT! FLOAT! TS! NS!, functions AVG! SUM! MIN! MAX! WAVG! TREND!
// HW! LW! COUNT! (each all upper or all lower case). Returns 0, or 1 when
// the word names no column.
int add_column(std::string_view word, curs& cursor);

// Rewrites the model INSERT (its first length characters): the VALUES
// list becomes "(?,...,?)", one "?" per host variable, and the column-name
// list is read into insert_col_names. 0 good, 1 after an error.
int compact_insert(curs& cursor, size_t length);

// Builds sel_piece: insert_select as written, or a SELECT of the column
// names (pseudo-columns and repeated names left out) from the table name;
// then " WHERE " and insert_where. 0 good, 1 when nothing is selected.
int set_selects(curs& cursor);

// The checks and defaults of a finished cursor block; 0 good, 1 after an
// error (every check runs and reports).
int edit_cursor_block(curs& cursor);

// Appends the daily range (start, end), in seconds after midnight, to a
// list; an end before its start runs past midnight (86400 is added).
void set_operate(std::vector<OpRange>& list, long start, long end);

// The fetch exits a cursor may name (matched case-insensitively): the
// table set at start-up by the layer that runs them, none before.
const std::vector<FetchExitSpec>& known_fetch_exits();
void set_known_fetch_exits(const std::vector<FetchExitSpec>* table);

// Builds the column descriptor of a script exit's cursor from its
// insert_select text (set at start-up by the layer that runs scripts);
// 0 good, 1 after an error. Without one a script cursor is not checked.
using ScriptExitParser = int (*)(curs& cursor);
void set_script_exit_parser(ScriptExitParser parser);
int parse_script_columns(curs& cursor);

// The fetch exit a fetch_exit clause names: a known exit's name, then
// optionally "t" with time-out seconds (in the same word or the next one;
// 30 when none) or "p". Empty when the word names no known exit. The
// second form searches the given table instead of the known exits.
std::optional<FetchExitSpec> match_fetch_exit(std::string_view word, std::string_view next_word);
std::optional<FetchExitSpec> match_fetch_exit(std::string_view word, std::string_view next_word,
                                              const std::vector<FetchExitSpec>& table);

} // namespace qvx
