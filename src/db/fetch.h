// The database side of a cursor run: the logon, the SQL fetch that hands
// rows to a row sink, and the result codes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/distributor.h"
#include "model/select_row.h"

namespace qvx {

// Where a built or fetched row goes: the row store's merge_text, or a
// test's stand-in. Same results as merge_text.
using RowSink = std::function<int(curs&, const SelectDescriptor*, const std::string&)>;

// Buffer length and row-store type of a described item by its type code;
// false (nothing changed) for a refused type.
bool size_select_item(SelectItem& item);

// Name of a type code in traces ("O_CHAR", "O_NUMBER", ... "default").
const char* db_type_name(int type);

// Logs on for the distributor; the database result code, 0 when connected.
// A failure is reported and recorded as the server status.
int connect_to_DB(distrib& d);

// The logon of connect_to_DB without its report: the result code, and in
// detail the database's message.
int log_on_distributor(distrib& d, std::string& detail);

// Called when a fetch ran to its end (code 100), with the select list
// still described: the rows it built are known, the descriptor is still
// there (a dummy row is laid out from it).
using FetchEnd = std::function<void(curs&, const SelectDescriptor&)>;

// The SQL fetch of one collection: prepares and describes sql (the
// cursor's select text, with its host variables merged) and hands every
// fetched row to sink; a sink result of 0 or less holds the cursor and
// stops the fetch. at_end, when given, follows a fetch that ran to its
// end. 0 good, else 1 or a database code.
int sql_fetch(curs& cursor, const std::string& sql, const std::string& time_text, const RowSink& sink,
              const FetchEnd& at_end = {});

// Records the cursor's database result code (sql_rc and its text).
void set_sql_code(curs& cursor, int code);

// The trace of one fetched row (debug level 8 per column, and the row
// itself when the cursor is traced).
void trace_fetched_row(const curs& cursor, const SelectDescriptor& d);

// Classifies the current result code: 0 good, 100 end of data, else the
// code (reported).
int check_sql_code(int code, const char* statement, const char* label, bool report);

// Rolls back and releases the connection.
int rollback();

} // namespace qvx
