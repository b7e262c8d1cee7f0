#include "pipeline/virtual_cursors.h"

#include <algorithm>
#include <cstring>

#include "control/cursor.h"
#include "control/dictionary.h"
#include "control/keyword_case.h"
#include "control/source_position.h"
#include "pipeline/send_layout.h"
#include "db/server_status.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr int16_t kCharType = 1;
constexpr int16_t kNumberType = 2;
constexpr int kShortestStatus = 6;

// Blank area of the column's width with the initial value in it: numbers
// to the right, text to the left, cut to the width.
void put_initial(char* area, size_t width, const std::string& value, bool right) {
    std::memset(area, ' ', width);
    area[width] = '\0';
    const size_t n = std::min(width, value.size());
    std::memcpy(area + (right ? width - n : 0), value.data(), n);
}

int build_virtual(curs& c) {
    const SourceLineScope at(c.def_line);
    c.demand = 1;
    c.interval = 0;
    const bool server_status = keyword_matches(c.cur_name, "servstat");

    std::vector<const dict_element*> elements;
    int32_t row_len = 0;
    for (const columns& col : c.cols) {
        const dict_element* e = find_dict_element(col.name);
        if (!e) {
            PRINT('e', "pvt2185", "Host var not matched: %s.%s (%d)\n", c.cur_name.c_str(), col.name.c_str(),
                  static_cast<int>(col.name.size()));
            return 1;
        }
        elements.push_back(e);
        row_len += e->length + 1;
    }

    row_data* row = row_data::create(static_cast<size_t>(row_len) + 1);
    if (!row) return 1;
    std::memset(row->text(), 0, static_cast<size_t>(row_len) + 1);
    row->sample_no = 1;
    row->row_no = 1;
    c.rows.adopt(row);
    c.sample_no = 1;
    c.length = row_len;
    c.rows_changed = 1;
    c.history_pending = 1;

    int32_t offset = 0;
    for (size_t i = 0; i < c.cols.size(); ++i) {
        columns& col = c.cols[i];
        const dict_element& e = *elements[i];
        col.buf_offset = offset;
        col.length = e.length;
        col.db_len = e.length;
        col.send_type = send_type_of(col.decl_type);
        if (col.set_length == 0) col.set_length = col.forced_len;
        char* area = row->text() + offset;
        offset += e.length + 1;

        if (server_status && keyword_matches(col.name, "sqlrc")) {
            if (col.length < kShortestStatus) {
                PRINT('w', "pvt2190", "SQLRC in SERVSTAT is too short at %d (at least 6)\n", col.length);
            } else {
                on_delete_cursors(forget_server_status);
                servstatus = area;
                servstatus_len = col.length;
            }
        }
        if (e.initial) {
            put_initial(area, static_cast<size_t>(e.length), *e.initial, e.data_type == 2);
            col.orig_type = e.data_type == 4 ? kNumberType : kCharType;
            if (trace_all)
                PRINT('t', "pvt2195", " Init %s.%s = '%s'\n", c.cur_name.c_str(), col.name.c_str(), area);
        }
    }
    c.bound = 1;
    return 0;
}

} // namespace

int init_virtuals() {
    for (const auto& c : cur_anchor)
        if (c->virtual_cur && build_virtual(*c) != 0) return 1;
    return 0;
}

} // namespace qvx
