// Merging a fetch exit's rows into its cursor: each parsed row is laid out
// as a select list and built by the row store like a fetched row, so that
// binding, null handling, water marks, math, decodes, column exits, the
// store and the row limit are the same for both.
#include <algorithm>
#include <cstring>

#include "db/fetch.h"
#include "procs/exit_result.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

SelectDescriptor result_layout(const ResultSet& rs) {
    SelectDescriptor d;
    int32_t at = 0;
    for (const ResultColumn& col : rs.cols) {
        const int16_t type = col.type == kExitNumber ? kDbNumber : kDbChar;
        SelectItem item;
        item.name = col.name;
        item.type = type;
        item.orig_type = type;
        item.buf_len = col.length;
        item.size_chars = col.length;
        item.size_bytes = col.alt_length;
        d.items.push_back(std::move(item));
        d.offset.push_back(at);
        d.value_len.push_back(col.length);
        d.indicator.push_back(0);
        at += col.length;
    }
    d.buffer.assign(static_cast<size_t>(at), ' ');
    return d;
}

namespace {

// Row r of the result set into the select list, whose items lie at the
// same offsets as the row's columns: the row is copied as it is, then text
// shorter than its column is blank-padded and numbers are right-justified
// like fetched numbers; a column the row did not reach is null.
void fill_layout(const ResultSet& rs, size_t r, SelectDescriptor& d) {
    const char* row = rs.row(r);
    std::memcpy(d.buffer.data(), row, d.buffer.size());
    for (size_t i = 0; i < rs.cols.size(); ++i) {
        const ResultColumn& col = rs.cols[i];
        const size_t width = static_cast<size_t>(col.length);
        const int32_t len = rs.len(r, i);
        d.indicator[i] = len < 0 ? -1 : 0;
        size_t n = std::min(static_cast<size_t>(std::max(len, 0)), width);
        if (col.type != kExitNumber) {
            if (n < width) std::memset(d.buffer.data() + d.offset[i] + n, ' ', width - n);
            continue;
        }
        const char* src = row + col.offset;
        while (n > 0 && src[0] == ' ') ++src, --n;
        while (n > 0 && src[n - 1] == ' ') --n;
        char* dst = d.buffer.data() + d.offset[i];
        std::memmove(dst + width - n, src, n);
        std::memset(dst, ' ', width - n);
    }
}

} // namespace

int merge_DB_DATA2curs(FetchExitWork& w, curs& c, const RowSink& sink) {
    ResultSet& rs = *w.result;
    SelectDescriptor d = result_layout(rs);
    int rc = 0;
    for (size_t r = 0; r < rs.rows; ++r) {
        fill_layout(rs, r, d);
        ++c.fetch_rows;
        ++c.row_no;
        if ((c.trace && c.show_row) || debug_on(6)) trace_fetched_row(c, d);
        if (sink(c, &d, w.date) <= 0) {
            PRINT('w', "fxr4035", "Time = %s For cursor %s, merge failed after = %d rows\n", w.date.c_str(),
                  c.cur_name.c_str(), static_cast<int>(r));
            PRINT('w', "fxr4040", "Holding cursor\n");
            c.held = 'Y';
            set_sql_code(c, -1);
            rc = 1;
            break;
        }
    }
    rs.clear_rows();
    return rc;
}

} // namespace qvx
