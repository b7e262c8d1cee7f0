// The fetch side of a cursor run as the row store sees it: the select
// descriptor holding the columns of the statement and the values of the
// current row, the logon, and one collection (prep_l_fetch).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/distributor.h"
#include "model/select_row.h"

namespace qvx {

// Where a fetched row goes: the row store's merge_text, or a test's
// stand-in. Same results as merge_text.
using RowSink = std::function<int(curs&, const SelectDescriptor*, const std::string&)>;

// Buffer length and row-store type of a described item by its type code;
// false (nothing changed) for a refused type.
bool size_select_item(SelectItem& item);

// Name of a type code in traces ("O_CHAR", "O_NUMBER", ... "default").
const char* db_type_name(int type);

// Logs on for the distributor; the database result code, 0 when connected.
int connect_to_DB(distrib& d);

// One collection of the cursor: fetches every row and hands it to
// merge_text; adds the rows stored to rows. 0 good, else 1 or a database
// code.
int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows);
// The same with the rows handed to sink.
int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows, const RowSink& sink);

// Classifies the current result code: 0 good, 100 end of data, else the
// code (reported).
int check_sql_code(int code, const char* statement, const char* label, bool report);

// Rolls back and releases the connection.
int rollback();

} // namespace qvx
