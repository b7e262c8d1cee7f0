// The percent cursor. Its one row is the storage of every percent
// variable: a column's value lives at the row text plus its buf_offset,
// so a cursor bound to a percent variable reads the current value
// straight from there.
#include "pipeline/percent_cursor.h"

#include <algorithm>
#include <vector>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "control/distributor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

namespace qvx {

curs* percent_cursor = nullptr;

namespace {

constexpr size_t kNameCompare = 50;
constexpr int32_t kNumberWidth = 16;
constexpr int kParmCount = 40;

enum class Fill { blank, server, host, third, host_server };

struct Variable {
    const char* name;
    int16_t type;
    int32_t length;
    Fill fill;
};

// The fixed variables, in the order of the row.
constexpr Variable kVariables[] = {
    {"%me", 1, 32, Fill::server},
    {"%machine", 1, 64, Fill::host},
    {"%machine_me", 1, 64, Fill::third},
    {"%machine_me_ora", 1, 72, Fill::host_server},
    {"%now_time", 1, 16, Fill::blank},
    {"%current_interval", 2, kNumberWidth, Fill::blank},
    {"%now_secs", 2, kNumberWidth, Fill::blank},
    {"%rowno", 2, kNumberWidth, Fill::blank},
    {"%sampleno", 2, kNumberWidth, Fill::blank},
    {"%execution_time", 2, kNumberWidth, Fill::blank},
};

// The run variables refreshed before each built row, in this order.
enum RunField { kInterval, kNowSecs, kRowNo, kSampleNo, kExecTime, kRunFields };
constexpr const char* kRunFieldNames[kRunFields] = {"%current_interval", "%now_secs", "%rowno", "%sampleno",
                                                    "%execution_time"};

struct PercentState {
    std::unordered_map<std::string, size_t> by_name;  // lower-case name -> column
    char* now_time = nullptr;
    char shown_time[14] = {};
    std::array<char*, kRunFields> field{};
    std::array<long, kRunFields> shown{};
    std::array<bool, kRunFields> valid{};
    std::array<std::string, kParmCount> parm_text;  // request parameters in use
    const curs* parms_of = nullptr;                 // the cursor parm_cols were found in
    std::vector<size_t> parm_cols;                  // its "%parm" columns, in order
};

PercentState& state() {
    static PercentState s;
    return s;
}

// True when the name begins with "%parm" in any case (no copy: this runs
// for every request served).
bool is_parm_name(std::string_view name) {
    constexpr std::string_view kParm = "%parm";
    if (name.size() < kParm.size()) return false;
    for (size_t i = 0; i < kParm.size(); ++i) {
        const char ch = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
        if (ch != kParm[i]) return false;
    }
    return true;
}

std::string lower_name(std::string_view name) {
    std::string key(name.substr(0, std::min(name.size(), kNameCompare)));
    for (char& ch : key)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return key;
}

void add_variable(std::vector<columns>& cols, std::string name, int16_t type, int32_t length) {
    columns col;
    col.name = std::move(name);
    col.name_len = static_cast<int16_t>(col.name.size());
    col.orig_type = type;
    col.length = length;
    col.db_len = length;
    col.ordinal = static_cast<int16_t>(cols.size() + 1);
    cols.push_back(std::move(col));
}

void copy_padded(char* field, size_t width, const char* from, size_t n) {
    std::memset(field, ' ', width);
    std::memcpy(field, from, std::min(width, n));
}

void fill_fixed(char* field, const Variable& v) {
    const size_t width = static_cast<size_t>(v.length);
    switch (v.fill) {
        case Fill::blank: std::memset(field, ' ', width); break;
        case Fill::server: copy_padded(field, width, machine_id.server.data(), machine_id.server.size()); break;
        case Fill::host: copy_padded(field, width, machine_id.host.data(), machine_id.host.size()); break;
        case Fill::third: copy_padded(field, width, machine_id.third.data(), machine_id.third.size()); break;
        case Fill::host_server:
            copy_padded(field, width, machine_id.host.data(), machine_id.host.size());
            std::memcpy(field + machine_id.host.size(), machine_id.server.data(), 8);
            break;
    }
}

} // namespace

void put_decimal(char* field, size_t width, long value) {
    std::memset(field, ' ', width);
    unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    size_t pos = width;
    do {
        if (pos == 0) return;
        field[--pos] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0 && pos > 0) field[--pos] = '-';
}

int create_percent_cursor() {
    on_delete_cursors(forget_percent_cursor);  // the variables point into its columns
    auto c = std::make_unique<curs>();
    PercentState& st = state();
    const char* phase = "PCV4600";
    try {
        for (const Variable& v : kVariables) add_variable(c->cols, v.name, v.type, v.length);
        phase = "PCV4610";
        for (const auto& other : cur_anchor)
            add_variable(c->cols, "%sqlcode_" + other->cur_name, 2, kNumberWidth);
        phase = "PCV4620";
        char name[16];
        for (int k = 0; k < kParmCount; ++k) {
            std::snprintf(name, sizeof name, "%%parm%x", static_cast<unsigned>(k));
            add_variable(c->cols, name, 2, kNumberWidth);
        }
        phase = "PCV4600";
        st.by_name.clear();
        for (size_t i = 0; i < c->cols.size(); ++i) st.by_name.emplace(lower_name(c->cols[i].name), i);
    } catch (const std::bad_alloc&) {
        PRINT('e', phase, "Can not build columns for percent-cursor\n");
        st.by_name.clear();
        return 1;
    }

    // Each variable is followed by a zero byte, as in any row text.
    int32_t offset = 0;
    int32_t lengths = 0;
    for (columns& col : c->cols) {
        col.buf_offset = offset;
        offset += col.length + 1;
        lengths += col.length;
    }
    row_data* row = row_data::create(static_cast<size_t>(offset > 0 ? offset - 1 : 0));
    if (!row) {
        PRINT('e', "PCV4600", "Can not build columns for percent-cursor\n");
        st.by_name.clear();
        return 1;
    }
    char* text = row->text();
    std::memset(text, 0, row->size);
    for (size_t i = 0; i < c->cols.size(); ++i) {
        columns& col = c->cols[i];
        char* field = text + col.buf_offset;
        if (i < std::size(kVariables))
            fill_fixed(field, kVariables[i]);
        else
            std::memset(field, ' ', static_cast<size_t>(col.length));
    }
    row->sample_no = 1;
    row->row_no = 1;

    c->cur_name = "%CURSOR";
    c->demand = 1;
    c->no_sql = 1;
    c->held = 'Y';
    c->bound = 1;
    c->length = lengths;
    c->rows.adopt(row);
    c->sample_no = 1;

    st.now_time = text + c->cols[4].buf_offset;
    for (int f = 0; f < kRunFields; ++f) {
        st.field[f] = text + c->cols[st.by_name.at(kRunFieldNames[f])].buf_offset;
        st.valid[f] = false;
    }
    std::memset(st.shown_time, 0, sizeof st.shown_time);
    percent_cursor = &add_cursor(std::move(c));
    state().parms_of = nullptr;  // its "%parm" columns are found again
    for (const auto& other : cur_anchor)
        if (other.get() != percent_cursor) set_percent_sqlcode(*other);
    return 0;
}

columns* find_pcnt_col(std::string_view name) {
    if (!percent_cursor) return nullptr;
    const PercentState& st = state();
    std::string key = lower_name(name);
    if (key == "%machine_me" && db_type_code() == "zeb") key = "%machine_me_ora";
    auto it = st.by_name.find(key);
    if (it == st.by_name.end() || it->second >= percent_cursor->cols.size()) return nullptr;
    return &percent_cursor->cols[it->second];
}

void refresh_percent_fields(const curs& c, const std::string& time_text) {
    PercentState& st = state();
    if (!st.now_time) return;
    const size_t n = std::min(time_text.size(), sizeof st.shown_time);
    if (n != sizeof st.shown_time || std::memcmp(st.shown_time, time_text.data(), n) != 0) {
        copy_padded(st.now_time, 14, time_text.data(), n);
        st.now_time[14] = '0';
        st.now_time[15] = '0';
        std::memset(st.shown_time, 0, sizeof st.shown_time);
        std::memcpy(st.shown_time, time_text.data(), n);
    }
    const long values[kRunFields] = {c.current_interval, c.now_secs, c.row_no, c.sample_no, c.execution_time};
    for (int f = 0; f < kRunFields; ++f) {
        if (st.valid[f] && st.shown[f] == values[f]) continue;
        put_decimal(st.field[f], kNumberWidth, values[f]);
        st.shown[f] = values[f];
        st.valid[f] = true;
    }
}

void set_percent_sqlcode(const curs& c) {
    if (!percent_cursor) return;
    columns* col = find_pcnt_col("%sqlcode_" + c.cur_name);
    if (!col) return;
    put_decimal(percent_cursor->rows.first()->text() + col->buf_offset, kNumberWidth, c.conn_rc);
}

void set_request_parms(std::span<const std::string> parms, int count) {
    if (!percent_cursor) return;
    PercentState& st = state();
    constexpr size_t kLongestParm = 256;
    // The columns are looked up once per percent cursor: this runs twice
    // for every request served.
    if (st.parms_of != percent_cursor || st.parm_cols.empty()) {
        st.parms_of = percent_cursor;
        st.parm_cols.clear();
        for (size_t i = 0; i < percent_cursor->cols.size(); ++i)
            if (is_parm_name(percent_cursor->cols[i].name)) st.parm_cols.push_back(i);
    }
    const size_t given = std::min({parms.size(), static_cast<size_t>(std::max(count, 0)), st.parm_text.size(),
                                   st.parm_cols.size()});
    for (size_t k = 0; k < given; ++k) {
        if (st.parm_cols[k] >= percent_cursor->cols.size()) break;
        columns& col = percent_cursor->cols[st.parm_cols[k]];
        std::string& text = st.parm_text[k];
        text = parms[k];
        col.binding.value_ptr = text.c_str();
        col.length = static_cast<int32_t>(std::min(text.size(), kLongestParm));
    }
}

void forget_percent_cursor() {
    percent_cursor = nullptr;
    PercentState& st = state();
    st.by_name.clear();
    st.now_time = nullptr;
    st.field.fill(nullptr);
    st.valid.fill(false);
    for (auto& t : st.parm_text) t.clear();
    st.parms_of = nullptr;
    st.parm_cols.clear();
}

} // namespace qvx
