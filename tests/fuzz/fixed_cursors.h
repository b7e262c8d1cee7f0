// The fixed cursors some fuzz targets run their inputs over: a cursor
// with its columns laid out as the first built row fixes them, and rows
// built from field texts.
#pragma once

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "model/cursor.h"
#include "model/cursor_list.h"

namespace qvxfuzz {

struct Col {
    const char* name;
    int16_t type;
    int32_t length;
};

// The cursor, added to the cursor list, bound, each column one byte
// apart; row_limit 0 keeps every row.
inline qvx::curs& fixed_cursor(const std::string& name, std::initializer_list<Col> cols, int32_t row_limit = 0) {
    auto c = std::make_unique<qvx::curs>();
    c->cur_name = name;
    c->row_limit = row_limit;
    int32_t offset = 0;
    for (const Col& d : cols) {
        qvx::columns col;
        col.name = d.name;
        col.name_len = static_cast<int16_t>(col.name.size());
        col.orig_type = d.type;
        col.length = d.length;
        col.buf_offset = offset;
        offset += d.length + 1;
        c->cols.push_back(col);
    }
    c->length = offset - 1;
    c->bound = 1;
    return qvx::add_cursor(std::move(c));
}

// A row of the cursor from the fields' texts, each blank-padded, in the
// given sample.
inline void add_fixed_row(qvx::curs& c, std::initializer_list<const char*> fields, int32_t sample_no) {
    qvx::row_data* r = qvx::row_data::create(static_cast<size_t>(c.length));
    std::memset(r->text(), 0, static_cast<size_t>(c.length) + 1);
    size_t i = 0;
    for (const char* f : fields) {
        const qvx::columns& col = c.cols[i++];
        std::memset(r->text() + col.buf_offset, ' ', static_cast<size_t>(col.length));
        std::memcpy(r->text() + col.buf_offset, f, std::min(std::strlen(f), static_cast<size_t>(col.length)));
    }
    r->sample_no = sample_no;
    r->row_no = c.rows.size() + 1;
    c.rows.append(r);
}

} // namespace qvxfuzz
