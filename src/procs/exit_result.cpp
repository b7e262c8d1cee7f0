// The result set of a fetch exit: its columns, taken from the cursor's
// column definitions, and the storage of the parsed rows.
#include "procs/exit_result.h"

#include <algorithm>

namespace qvx {

namespace {

constexpr int32_t kNumberWidth = 16;
constexpr int32_t kTextWidth = 64;

// A column whose value the exit's output gives.
bool takes_output(const columns& col) {
    return !(col.name.size() > 0 && col.name[0] == '%') && !col.source && !col.is_math;
}

bool is_number(const columns& col) {
    return col.decl_type == ColumnType::integer || col.decl_type == ColumnType::floating;
}

} // namespace

void ResultSet::add_row() {
    ++rows;
    data.resize(rows * max_row_size, ' ');
    value_len.resize(rows * cols.size(), -1);
}

void ResultSet::drop_last_row() {
    if (rows == 0) return;
    --rows;
    data.resize(rows * max_row_size);
    value_len.resize(rows * cols.size());
}

void ResultSet::clear_rows() {
    rows = 0;
    data.clear();
    value_len.clear();
}

void build_result_columns(const curs& c, ResultSet& result) {
    result.cols.clear();
    result.clear_rows();
    int32_t offset = 0;
    for (const columns& col : c.cols) {
        if (!takes_output(col)) continue;
        ResultColumn rc;
        rc.type = is_number(col) ? kExitNumber : kExitChar;
        rc.name = col.name;
        rc.length = col.forced_len > 0 ? col.forced_len
                    : col.set_length > 0 ? col.set_length
                    : rc.type == kExitNumber ? kNumberWidth : kTextWidth;
        rc.alt_length = rc.length;
        rc.offset = offset;
        offset += rc.length;
        result.cols.push_back(std::move(rc));
    }
    result.max_row_size = static_cast<size_t>(offset) + 1;
}

} // namespace qvx
