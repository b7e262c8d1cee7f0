// Dummy rows: the placeholder text, its row, and the layout of a cursor
// that has not built a row yet.
#include "pipeline/dummy_rows.h"

#include <algorithm>
#include <cstring>

#include "pipeline/percent_cursor.h"
#include "pipeline/row_store.h"
#include "pipeline/send_layout.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;

// Blanks; "N/A" at the start of every text column, '0' at the end of
// every number column.
void build_dummy_text(curs& c) {
    c.dummy_text.assign(static_cast<size_t>(c.length), ' ');
    for (const columns& col : c.cols) {
        const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
        const size_t len = static_cast<size_t>(std::max(col.length, 0));
        if (len == 0 || at + len > c.dummy_text.size()) continue;
        if (col.orig_type == kNumberType)
            c.dummy_text[at + len - 1] = '0';
        else
            c.dummy_text.replace(at, std::min<size_t>(len, 3), "N/A", std::min<size_t>(len, 3));
    }
}

bool hold(curs& c) {
    c.held = 'Y';
    return false;
}

// The messages of a layout failure name what the columns were laid out
// from: a fetch's select list or a fetch exit's column data.
bool position_beyond(const columns& col, size_t items, RowOrigin origin) {
    if (origin == RowOrigin::fetch_exit)
        PRINT('e', "cdu4540", "Occurance (%d) exceeds column limit (%d)\n", col.occurrence, static_cast<int>(items));
    else
        PRINT('e', "cdu4525", "Occurance (%d) exceeds sqlda limit (%d)\n", col.occurrence, static_cast<int>(items));
    return false;
}

// The column's position in the cursor, from 1.
int position_of(const curs& c, const columns& col) { return static_cast<int>(&col - c.cols.data()) + 1; }

bool name_missing(const curs& c, const columns& col, RowOrigin origin) {
    if (origin == RowOrigin::fetch_exit)
        PRINT('e', "cdu4550", "No database description found for %s\n", col.name.c_str());
    else
        PRINT('e', "cdu4535", "No sqlda entry found for %s.%s (%d)\n", c.cur_name.c_str(), col.name.c_str(),
              position_of(c, col));
    return false;
}

void take_item(columns& col, const SelectItem& it) {
    col.orig_type = it.orig_type;
    col.length = std::max<int32_t>(it.buf_len, 0);
    col.db_len = col.length;
}

// A named column: the select item of that name; a column with a width of
// its own may lack one.
bool lay_out_by_name(curs& c, columns& col, const SelectDescriptor& d, RowOrigin origin) {
    if (origin == RowOrigin::sql && c.no_sql) {
        PRINT('e', "cdu4530", "Name (%s) not resolved in non_sql cursor %s\n", col.name.c_str(), c.cur_name.c_str());
        return hold(c);
    }
    if (origin == RowOrigin::fetch_exit && d.items.empty()) {
        PRINT('e', "cdu4545", "Name (%s) not resolved no coldata for cursor %s\n", col.name.c_str(),
              c.cur_name.c_str());
        return hold(c);
    }
    const auto item = std::find_if(d.items.begin(), d.items.end(), [&](const SelectItem& it) { return it.name == col.name; });
    if (item == d.items.end()) {
        const int32_t own = col.length > 0 ? col.length : col.set_length;
        if (own <= 0) return name_missing(c, col, origin);
        col.length = own;
        return true;
    }
    take_item(col, *item);
    return col.length > 0 || name_missing(c, col, origin);
}

// Type and width of one column, from where its value would come.
bool lay_out_column(curs& c, columns& col, const SelectDescriptor& d, RowOrigin origin) {
    col.send_type = send_type_of(col.decl_type);
    if (col.set_length == 0) col.set_length = col.forced_len;
    if (!col.name.empty() && col.name[0] == '%') {
        const columns* pc = find_pcnt_col(col.name);
        if (!pc) {
            PRINT('e', "pdu4520", "Un-identified percent variable %s\n", col.name.c_str());
            return hold(c);
        }
        col.orig_type = pc->orig_type;
        col.length = pc->db_len > 0 ? pc->db_len : pc->length;
        col.db_len = col.length;
        return true;
    }
    if (col.source) {
        const columns& read = col.source.cursor->cols[static_cast<size_t>(col.source.column)];
        col.orig_type = read.orig_type;
        col.length = read.length;
        col.db_len = read.db_len;
        return true;
    }
    if (col.is_math) {
        col.orig_type = kNumberType;
        if (col.length <= 0) col.length = col.forced_len > 0 ? col.forced_len : 16;
        return true;
    }
    if (col.occurrence > 0) {
        if (static_cast<size_t>(col.occurrence) > d.items.size()) return position_beyond(col, d.items.size(), origin);
        take_item(col, d.items[static_cast<size_t>(col.occurrence - 1)]);
        return true;
    }
    return lay_out_by_name(c, col, d, origin);
}

} // namespace

int setup_dummy(curs& c, const SelectDescriptor& d, RowOrigin origin) {
    int32_t offset = 0;
    for (columns& col : c.cols) {
        if (!lay_out_column(c, col, d, origin)) return 1;
        col.buf_offset = offset;
        if (col.set_length == col.length) col.set_length = 0;
        offset += col.length + 1;
    }
    c.length = offset > 0 ? offset - 1 : 0;
    c.row_size = 0;  // the send layout follows the new row layout
    return 0;
}

void build_dummy_last_row(curs& c) {
    if (c.length <= 0) return;
    if (c.dummy_text.size() != static_cast<size_t>(c.length)) build_dummy_text(c);
    row_data* row = row_data::create(c.dummy_text.size());
    if (!row) return;
    std::memcpy(row->text(), c.dummy_text.data(), c.dummy_text.size());
    row->sample_no = c.sample_no;
    row->row_no = ++c.row_no;
    row->len = static_cast<uint32_t>(c.length);
    append_row(c, row);
    if (c.trace) {
        PRINT('t', "cdu4515", "Added dummy last row\n");
        PRINT('t', "cdu4515", "Row %d of %s: %.*s\n", row->row_no, c.cur_name.c_str(), c.length, row->text());
    }
}

void add_dummy_rows(curs& c, int) {
    if (c.dummy_last_row || (c.conditional_dummy_last_row && c.rows.empty())) build_dummy_last_row(c);
}

} // namespace qvx
