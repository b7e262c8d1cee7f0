// Row building. The first row of a cursor binds every column to where its
// value comes from and lays out the row text; from then on a row is one
// allocation and a copy per column, so a large fetch costs little more
// than the fetch itself.
#include "pipeline/row_store.h"

#include "pipeline/row_steps.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pipeline/bases.h"
#include "pipeline/cursor_listing.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/send_layout.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;

enum class Outcome { ok, reject, hold };

// A percent variable's value; a request parameter that stands in for a
// "%parm" variable is cut or blank-padded to the column's width.
[[gnu::noinline]] void copy_percent(char* dst, size_t len, const columns& col) {
    const columns& pc = percent_cursor->cols[static_cast<size_t>(col.binding.percent_col)];
    if (pc.binding.value_ptr) {
        const size_t n = std::min(len, static_cast<size_t>(std::max(pc.length, 0)));
        std::memcpy(dst, pc.binding.value_ptr, n);
        std::memset(dst + n, ' ', len - n);
    } else {
        std::memcpy(dst, col.binding.value_ptr, len);
    }
}

// The first select-list item whose name has the same length and bytes.
int find_item(const SelectDescriptor& d, const std::string& name) {
    for (size_t i = 0; i < d.items.size(); ++i)
        if (d.items[i].name == name) return static_cast<int>(i);
    return -1;
}

bool descriptor_covers(const SelectDescriptor* d, int item) {
    if (item < 0) return true;
    const size_t need = static_cast<size_t>(item) + 1;
    return d && d->items.size() >= need && d->offset.size() >= need && d->value_len.size() >= need &&
           d->indicator.size() >= need;
}

// A fetch exit's result columns: type and source type, length and
// alternate length.
void trace_exit_columns(const SelectDescriptor& d) {
    PRINT('t', "cat1541", "Database column information follows:\n");
    for (size_t i = 0; i < d.items.size(); ++i) {
        const SelectItem& it = d.items[i];
        PRINT('t', "cat1546", "Col #%2d= %32.32s, datatype= %d(%d) datalen= %d(%d)\n", static_cast<int>(i + 1),
              it.name.c_str(), it.type, it.orig_type, it.buf_len, it.size_bytes);
    }
}

void trace_select_list(const curs& c, const SelectDescriptor& d, RowOrigin origin) {
    if (origin == RowOrigin::fetch_exit) return trace_exit_columns(d);
    PRINT('t', "cat1540", "SQLDA columns follow for %s\n", c.cur_name.c_str());
    for (size_t i = 0; i < d.items.size(); ++i) {
        const SelectItem& it = d.items[i];
        PRINT('t', "cat1545", "Col #%d= %.*s, datatype= %d datalen= %d\n", static_cast<int>(i + 1),
              static_cast<int>(it.name.size()), it.name.c_str(), it.type, it.buf_len);
    }
}

void bind_item(columns& col, const SelectDescriptor& d, int item, int& max_item) {
    const SelectItem& it = d.items[static_cast<size_t>(item)];
    col.binding.source = ValueSource::select;
    col.binding.select_item = static_cast<int16_t>(item);
    col.orig_type = it.orig_type;
    col.length = std::max<int32_t>(it.buf_len, 0);
    col.db_len = col.length;
    max_item = std::max(max_item, item);
}

// A percent variable: the percent cursor's column of that name.
Outcome bind_percent(const curs& c, columns& col) {
    const columns* pc = find_pcnt_col(col.name);
    if (!pc || !percent_cursor->rows.first()) {
        PRINT('e', "cat1560", "Un-identified percent variable %s\n", col.name.c_str());
        return Outcome::hold;
    }
    col.binding.source = ValueSource::percent;
    col.binding.value_ptr = percent_cursor->rows.first()->text() + pc->buf_offset;
    col.binding.percent_col = static_cast<int16_t>(pc - percent_cursor->cols.data());
    col.orig_type = pc->orig_type;
    // A demand cursor runs for the request whose parameter it shows: the
    // parameter's own length. Otherwise the variable's declared width, as
    // a request parameter in it may be shorter or longer at any later row.
    col.length = c.demand && pc->binding.value_ptr ? pc->length : pc->db_len;
    col.db_len = col.length;
    return Outcome::ok;
}

// Another cursor's column (cursor.column): its type and widths.
Outcome bind_reference(const curs& c, columns& col, RowOrigin origin) {
    const curs& src = *col.source.cursor;
    const bool exit = origin == RowOrigin::fetch_exit;
    if (src.held == 'Y') {
        if (exit)
            PRINT('e', "cat1566", "Base cursor held, holding %s\n", c.cur_name.c_str());
        else
            PRINT('e', "cat1565", "Source cursor %s held, holding %s\n", src.cur_name.c_str(), c.cur_name.c_str());
        return Outcome::hold;
    }
    if (!src.current_row()) {
        if (exit)
            PRINT('e', "cat1571", "Base cursor has no last row, holding %s\n", c.cur_name.c_str());
        else
            PRINT('e', "cat1570", "Source cursor %s has no last row, holding %s\n", src.cur_name.c_str(),
                  c.cur_name.c_str());
        return Outcome::hold;
    }
    const columns& read = src.cols[static_cast<size_t>(col.source.column)];
    col.binding.source = ValueSource::reference;
    col.orig_type = read.orig_type;
    col.length = read.length;
    col.db_len = read.db_len;
    return Outcome::ok;
}

// A select-list item by its position (n!).
Outcome bind_position(const curs& c, columns& col, const SelectDescriptor* d, int& max_item, RowOrigin origin) {
    if (!d) {
        PRINT('e', "cat1575", "Cannot use n! addressing in NO_SQL cursor %s\n", c.cur_name.c_str());
        return Outcome::hold;
    }
    if (static_cast<size_t>(col.occurrence) > d->items.size()) {
        if (origin == RowOrigin::fetch_exit) {
            PRINT('e', "cat1581", "Occurance (%d) exceeds number of select columns (%d)\n", col.occurrence,
                  static_cast<int>(d->items.size()));
            return Outcome::reject;
        }
        PRINT('e', "cat1580", "Occurance (%d) exceeds sqlda limit (%d), %s\n", col.occurrence,
              static_cast<int>(d->items.size()), c.cur_name.c_str());
        return Outcome::reject;
    }
    bind_item(col, *d, col.occurrence - 1, max_item);
    return Outcome::ok;
}

// The first select-list item of the column's name; a column with a width
// of its own may stay unbound.
void report_no_item(const char* cname, const columns& col, RowOrigin origin) {
    if (origin == RowOrigin::fetch_exit)
        PRINT('e', "cat1591", "No database column found for %s.%s\n", cname, col.name.c_str());
    else
        PRINT('e', "cat1590", "No sqlda entry found for %s.%s\n", cname, col.name.c_str());
}

Outcome bind_by_name(const curs& c, columns& col, const SelectDescriptor* d, int& max_item, RowOrigin origin) {
    const char* cname = c.cur_name.c_str();
    if (!d) {
        PRINT('e', "cat1585", "Name (%s) not resolved in non_sql cursor %s\n", col.name.c_str(), cname);
        return Outcome::hold;
    }
    const int item = find_item(*d, col.name);
    if (item < 0) {
        const int32_t own = col.length > 0 ? col.length : col.set_length;
        if (own <= 0) {
            report_no_item(cname, col, origin);
            return Outcome::reject;
        }
        col.length = own;  // unbound, with a width of its own
        return Outcome::ok;
    }
    bind_item(col, *d, item, max_item);
    if (col.length == 0) {
        report_no_item(cname, col, origin);
        return Outcome::reject;
    }
    return Outcome::ok;
}

Outcome bind_column(const curs& c, columns& col, const SelectDescriptor* d, int& max_item, RowOrigin origin) {
    col.binding.source = ValueSource::none;
    col.binding.select_item = -1;
    col.binding.value_ptr = nullptr;
    col.send_type = send_type_of(col.decl_type);
    if (col.set_length == 0) col.set_length = col.forced_len;
    if (!col.name.empty() && col.name[0] == '%') return bind_percent(c, col);
    if (col.source) return bind_reference(c, col, origin);
    if (col.is_math) {
        // A number of the width the math binding gave it (16 unless "^n"
        // says otherwise); the value comes with the row steps.
        col.binding.source = ValueSource::math;
        col.orig_type = kNumberType;
        if (col.length <= 0) col.length = col.forced_len > 0 ? col.forced_len : 16;
        return Outcome::ok;
    }
    if (col.occurrence > 0) return bind_position(c, col, d, max_item, origin);
    return bind_by_name(c, col, d, max_item, origin);
}

// Binds every column and lays out the row text (sets buf_offset of each
// column and the cursor's length).
Outcome bind_columns(curs& c, const SelectDescriptor* d, RowOrigin origin) {
    int32_t offset = 0;
    int max_item = -1;
    for (columns& col : c.cols) {
        if (const Outcome bound = bind_column(c, col, d, max_item, origin); bound != Outcome::ok) return bound;
        col.buf_offset = offset;
        if (col.set_length == col.length) col.set_length = 0;
        offset += col.length + 1;
    }
    c.length = offset > 0 ? offset - 1 : 0;
    c.max_select_item = static_cast<int16_t>(max_item);
    c.checks_sources = false;
    for (const columns& col : c.cols)
        if (col.binding.source == ValueSource::reference || col.binding.source == ValueSource::none)
            c.checks_sources = true;
    c.row_size = 0;  // the send layout follows the new row layout
    return Outcome::ok;
}

void put_null(char* dst, size_t len, int16_t orig_type) {
    std::memset(dst, ' ', len);
    if (orig_type != kNumberType)
        std::memcpy(dst, "NULL", std::min<size_t>(len, 4));
    else if (len > 0)
        dst[len - 1] = '0';
}

// Copies len bytes of a row's text from offset; what the row lacks (it
// was stored under an older layout) reads as blanks.
void copy_from_row(char* dst, size_t len, const row_data& src, int32_t offset) {
    const size_t at = static_cast<size_t>(std::max(offset, 0));
    const size_t n = at < src.size ? std::min(len, src.size - at) : 0;
    std::memcpy(dst, src.text() + at, n);
    std::memset(dst + n, ' ', len - n);
}

// The columns whose value may be missing for this row: an unbound column
// and a reference to a cursor without rows. Tested before a row is taken,
// so that filling it cannot fail.
Outcome check_sources(const curs& c, RowOrigin origin) {
    for (const columns& col : c.cols) {
        if (col.binding.source == ValueSource::reference && !locate_base_row(*col.source.cursor, c)) {
            // The row read is the source's current row; base clauses choose
            // another one.
            PRINT('e', "cat1595", "No last row for cur %s as used by %s\n", col.source.cursor->cur_name.c_str(),
                  c.cur_name.c_str());
            return Outcome::reject;
        }
        if (col.binding.source == ValueSource::none) {
            if (origin == RowOrigin::fetch_exit)
                PRINT('e', "cat1601", "Could not match %.*s - holding cursor %s\n", static_cast<int>(col.name.size()),
                      col.name.c_str(), c.cur_name.c_str());
            else
                PRINT('e', "cat1600", "Could not match %s - holding cursor %s\n", col.name.c_str(),
                      c.cur_name.c_str());
            return Outcome::hold;
        }
    }
    return Outcome::ok;
}

// Copies every column's value into the row text and notes which values
// were null (the row steps see only the text).
void fill_values(curs& c, const SelectDescriptor* d, char* text) {
    for (columns& col : c.cols) {
        char* dst = text + col.buf_offset;
        const size_t len = static_cast<size_t>(col.length);
        col.value_null = false;
        switch (col.binding.source) {
            case ValueSource::select: {
                const size_t i = static_cast<size_t>(col.binding.select_item);
                if (d->indicator[i] < 0) {
                    put_null(dst, len, col.orig_type);
                    col.value_null = true;
                    break;
                }
                const size_t at = static_cast<size_t>(std::max(d->offset[i], 0));
                const size_t have = at < d->buffer.size() ? d->buffer.size() - at : 0;
                const size_t n = std::min({len, static_cast<size_t>(std::max(d->value_len[i], 0)), have});
                std::memcpy(dst, d->buffer.data() + at, n);
                std::memset(dst + n, 0, len - n);
                break;
            }
            case ValueSource::percent:
                copy_percent(dst, len, col);
                break;
            case ValueSource::reference:
                copy_from_row(dst, len, *locate_base_row(*col.source.cursor, c),
                              col.source.cursor->cols[static_cast<size_t>(col.source.column)].buf_offset);
                break;
            default:  // math: computed after the copy
                std::memset(dst, ' ', len);
                break;
        }
        dst[len] = '\0';
    }
}

row_data* take_first_row(curs& c) noexcept {
    if (c.reading_row && c.reading_row == c.rows.first()) c.reading_row = nullptr;
    if (c.rows.first() == c.chosen_row) c.chosen_row = nullptr;
    row_data* row = c.rows.pop_front();
    row->age = 0;
    row->len = 0;
    return row;
}

int refuse(curs& c, Outcome outcome) {
    if (outcome == Outcome::hold) c.held = 'Y';
    return 0;
}

// A cursor with base clauses needs the select list the base rows are
// positioned by.
bool base_rows_usable(const curs& c, const SelectDescriptor* d) {
    if (!c.base || d) return true;
    PRINT('e', "cba1535", "Cannot use BASE in non_sql cursor %s\n", c.cur_name.c_str());
    return false;
}

// Binds the columns (again when the select list no longer covers the
// binding) and checks that every value has its source.
Outcome bind_and_check(curs& c, const SelectDescriptor* d, RowOrigin origin) {
    if (c.bound && !descriptor_covers(d, c.max_select_item)) c.bound = 0;
    if (!c.bound) {
        const Outcome bound = bind_columns(c, d, origin);
        if (bound != Outcome::ok) return bound;
    }
    return c.checks_sources ? check_sources(c, origin) : Outcome::ok;
}

// The row the new one is built in: a full store gives its oldest row
// instead of freeing it after the append. Null when memory ran out.
row_data* take_row(curs& c, bool& recycled) {
    recycled = c.row_limit > 0 && c.rows.size() >= c.row_limit && c.rows.first() &&
               c.rows.first() != c.rows.last() && c.rows.first()->size == static_cast<uint32_t>(c.length);
    return recycled ? take_first_row(c) : row_data::create(static_cast<size_t>(c.length));
}

// Stores the finished row and trims the store to its row limit.
void store_row(curs& c, row_data* row, bool recycled) {
    row->sample_no = c.sample_no;
    row->row_no = c.row_no;
    append_row(c, row);
    if (recycled)
        c.rows_changed = 1;
    else if (c.row_limit > 0 && c.rows.size() > c.row_limit)
        free_first_row(c);
}

} // namespace

void take_parameter_widths(curs& c) {
    if (!c.bound || !percent_cursor) return;
    for (const columns& col : c.cols) {
        if (col.binding.source != ValueSource::percent || col.binding.percent_col < 0) continue;
        const columns& pc = percent_cursor->cols[static_cast<size_t>(col.binding.percent_col)];
        if (pc.binding.value_ptr && pc.length != col.length) {
            c.bound = 0;  // the next row binds and lays the row out again
            return;
        }
    }
}

int merge_text(curs& c, const SelectDescriptor* d, const std::string& time_text, RowOrigin origin) {
    if (!base_rows_usable(c, d)) return refuse(c, Outcome::hold);
    // The base rows this row reads are chosen before anything is bound or
    // taken: a base without a row rejects the row.
    if (c.base && set_bases(c, *d, origin) != 0) return refuse(c, Outcome::reject);
    if (c.trace && (c.show_cursor || debug_on(6)) && d) trace_select_list(c, *d, origin);
    refresh_percent_fields(c, time_text);

    if (const Outcome ready = bind_and_check(c, d, origin); ready != Outcome::ok) return refuse(c, ready);
    // From here on nothing may reject the row: a step that can must run
    // before the row is taken.
    bool recycled = false;
    row_data* row = take_row(c, recycled);
    if (!row) return -1;
    fill_values(c, d, row->text());
    run_row_steps(c, *row);
    store_row(c, row, recycled);
    if (c.show_cursor) sho_cur(c);
    c.bound = 1;
    return c.length;
}

} // namespace qvx
