// Evaluating and applying decodes: the first test that holds for a
// column's value in the row being built, and what it does (replace the
// value, hold or release cursors, schedule a cursor to run).
#pragma once

#include <string_view>

#include "control/decode_clause.h"
#include "model/cursor.h"

namespace qvx {

// Binds every cursor's decodes once all cursors are known (edit pass
// "decodes"); 0 good, 1 after errors (each reported).
int edit_decode();

// Binds a test made by parse_decode_test. Its column must be a column of
// value_cursor (otherwise missing_id / missing_text, a format taking the
// column and the cursor name, are reported); operand and "and" columns
// resolve from owner by the column-reference rules. 0 good, 1 reported.
int bind_decode_test(curs& owner, curs& value_cursor, DecodeAnchor& test, const char* missing_id,
                     const char* missing_text);

// True when the bound test holds for its column's value in row (a row of
// the value cursor; the value is present). owner is the cursor whose
// clause the test is.
bool decode_test_holds(curs& owner, curs& value_cursor, DecodeAnchor& test, const row_data& row);

// The first operation of ops that holds for value (the column's bytes in
// row_text), else the DEFAULT one, else null. indicator < 0: the value
// is null.
const DecodeOp* eval_decode(const columns& column, const char* value, const char* row_text, int indicator,
                            curs& cursor, DecodeAnchor& ops);

// Evaluates and applies the column's decodes to its bytes in row_text.
void do_decode(const columns& column, char* row_text, int indicator, curs& cursor);

// The row step "decode": every column with decodes, in column order.
void decode_row(curs& cursor, row_data& row);

// 1 when text (length bytes) is a hold or release action, taken; 0 when it
// is a plain replacement.
int special_decode(curs& cursor, const char* text, size_t length);

// Forgets the collector-wide below-hold marker (tests).
void reset_decodes();

} // namespace qvx
