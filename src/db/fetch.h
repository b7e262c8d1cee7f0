// The fetch side of a cursor run as the row store sees it: the select
// descriptor holding the columns of the statement and the values of the
// current row, the logon, and one collection (prep_l_fetch).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "control/distributor.h"

namespace qvx {

// Database external type codes of the select items.
enum DbTypeCode : int16_t {
    kDbChar = 1,
    kDbNumber = 2,
    kDbLong = 8,
    kDbRowid = 11,
    kDbDate = 12,
    kDbRaw = 23,
    kDbLongRaw = 24,
    kDbCharFixed = 96,
};

// At most this many select items per statement.
constexpr size_t kMaxSelectItems = 60;

struct SelectItem {
    std::string name;        // at most 30 characters
    int16_t type = 0;        // external type code as described
    int32_t size_chars = 0;  // size in characters
    int32_t size_bytes = 0;  // size in bytes
    int16_t nls_flag = 0;    // 1 non-Unicode, 2 Unicode, other: not character
    int16_t precision = 0;
    int16_t scale = 0;
    int32_t buf_len = 0;     // fetch buffer length (sizing table)
    int16_t orig_type = 0;   // type recorded for the row store
    bool text_is_utf8 = false;  // the backend delivers character data as UTF-8
};

// The select list of a prepared statement and the current row: item i's
// value is value_len[i] bytes at buffer[offset[i]] (numbers already right-
// justified to buf_len); indicator[i] < 0 means null.
struct SelectDescriptor {
    std::vector<SelectItem> items;
    std::vector<char> buffer;
    std::vector<int32_t> offset;
    std::vector<int32_t> value_len;
    std::vector<int16_t> indicator;

    const char* value(size_t i) const { return buffer.data() + offset[i]; }
};

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
