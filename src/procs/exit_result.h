// The result set of a fetch exit: the columns its output fills and the
// rows parsed from the output lines, and the working set of one
// collection. Shared by the parsing and the merging of exit rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/fetch.h"
#include "model/cursor.h"

namespace qvx {

enum : char { kExitChar = 1, kExitNumber = 2 };

struct ResultColumn {
    char type = kExitChar;   // kExitChar or kExitNumber
    char source_type = 1;
    std::string name;
    int32_t length = 0;      // width of the value
    int32_t alt_length = 0;  // width of a fixed-width field of a number column
    int32_t offset = 0;      // position in a row's buffer
};

// Columns and rows, kept per cursor between collections (the rows only
// for one collection). Row r's buffer is max_row_size bytes at
// data[r * max_row_size]; value_len[r * columns + i] is the length of
// column i's value at the column's offset, -1 when the row did not reach
// the column.
struct ResultSet {
    std::vector<ResultColumn> cols;
    size_t max_row_size = 0;  // sum of the lengths + 1
    std::vector<char> data;
    std::vector<int32_t> value_len;
    size_t rows = 0;

    const char* row(size_t r) const { return data.data() + r * max_row_size; }
    int32_t len(size_t r, size_t col) const { return value_len[r * cols.size() + col]; }
    // A new row, every column unfilled; its buffer and lengths are last_row()
    // and last_len().
    void add_row();
    void drop_last_row();
    char* last_row() { return data.data() + (rows - 1) * max_row_size; }
    int32_t* last_len() { return value_len.data() + (rows - 1) * cols.size(); }
    void clear_rows();
};

// The columns of a cursor's exit output: every column that takes a value
// from the output (not a percent variable, a cursor.column reference or a
// math column), in order, named after the column. The width is "^n" or
// the set_len width, else 16 for numbers and 64 for text.
void build_result_columns(const curs& cursor, ResultSet& result);

// The working set of one collection.
struct FetchExitWork {
    std::string command;     // the command line as built (for traces)
    std::string program;     // its first word
    std::string date;
    int kind = 0;            // parse kind
    int option = 0;          // run option
    int skip = 0;            // data lines still to skip (start_after)
    int take = 0;            // rows still to take (stop_after), 0 = no limit
    bool taking_limited = false;
    curs* cursor = nullptr;
    ResultSet* result = nullptr;
    const RowSink* sink = nullptr;  // where a script's rows go (the row store when none)
};

// True for a line in message form: three upper-case letters, four digits,
// a level letter E, W, I, S or T and a blank (or four letters, four digits,
// the letter, a blank), more than 9 characters in all.
bool is_message_line(std::string_view line);

// One output line: a message-form line goes to the message output; a data
// line ("->" removed from its start) is skipped, or parsed into a new row.
// False once the stop_after rows are taken.
bool parse_exit_line(FetchExitWork& work, std::string_view line);

// All the output lines; the number of rows.
int parseCmdResults(FetchExitWork& work, const std::vector<std::string>& lines);

// The parsing styles: each fills the row last added to the result set and
// returns the number of columns filled.
int simpleParsing(const curs& cursor, ResultSet& result, std::string_view line);   // words
int syntaxParsing(const curs& cursor, ResultSet& result, std::string_view line);   // fixed-width
int tabbedParsing(const curs& cursor, ResultSet& result, std::string_view line);   // TAB-separated
int cformatParsing(const curs& cursor, ResultSet& result, std::string_view line);  // whole line

// The result set as a select list without values (names, types, widths),
// as the row store binds the columns by it.
SelectDescriptor result_layout(const ResultSet& result);

// Hands every row of the result set to sink in order, counting it in the
// cursor; then releases the rows. 0 good, 1 when a row was refused
// (fxr4035, fxr4040; the cursor is held, its result code -1).
int merge_DB_DATA2curs(FetchExitWork& work, curs& cursor, const RowSink& sink);

} // namespace qvx
