// Script exits: a cursor whose rows are the output lines of a script, an
// internal procedure or a program. Its insert_select names the columns
// the lines fill (dictionary elements give their types and widths), its
// script text names the exit and its parameters. Each output line is a
// row, split into words that fill the columns in order, or a message in
// message form ("ABC1234W text") passed on to the message output; "->"
// in front of a line makes it a row whatever follows.
#pragma once

#include <string>
#include <string_view>

#include "model/cursor.h"
#include "procs/exit_result.h"

namespace qvx {

// Builds the cursor's column descriptor (script_columns) from its
// insert_select text: "SELECT a, b(...), c FROM ...". 0 good, 1 after an
// error (pcc3990, pcc4000, pcc4005 with pcc4010).
int parse_script_exit(curs& cursor);

// Runs the cursor's script and stores the rows of its output. Mode 9 runs
// the parameters as an internal procedure and splits rows with the simple
// word splitter; mode 1 runs the exit as a program and splits rows with
// the control-file tokenizer; any other mode runs the program with the
// simple splitter. 0 (status 100, or -1 when the script gave nothing),
// 1 when a host variable is missing or a row could not be stored.
int parse_script_text(curs& cursor, FetchExitWork& work, int mode);

// What an output line is (its final newline already removed).
enum class ScriptLine { row, message };
// Classifies a line; for a row, row gets its text ("->" dropped).
ScriptLine route_script_line(std::string_view line, std::string_view& row);

// Fills the descriptor's columns from the words of a row: every column
// null first, then one word per column in order (quotes dropped, cut to
// the column's width, numbers right-aligned, text left-aligned). Returns
// the number of columns filled.
int fill_script_row(SelectDescriptor& columns, std::string_view row, int mode);

// The parameters of a script with their "[name" host variables replaced
// (the name ends at a blank, a comma, "]" or the end; a "]" is dropped,
// any other end character kept): a cursor.column by that column's text
// in its cursor's newest row, an in-list by its text without parentheses
// and with blanks for commas. False after ccc4020/ccc4015 (script names
// the script in the messages).
bool merge_script_vars(std::string_view parms, const std::string& script, std::string& out);

} // namespace qvx
