// Running the loads of a cursor after its fetch.
#include "pipeline/loads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <functional>
#include <vector>

#include "control/dictionary.h"
#include "model/cursor_list.h"
#include "pipeline/column_function.h"
#include "pipeline/decode_eval.h"
#include "runtime/messages.h"
#include "support/number_text.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;

std::string_view field_of(const row_data& row, const columns& col) {
    return {row.text() + col.buf_offset, static_cast<size_t>(col.length)};
}

// The rows a load looks at: all stored rows, or with a samples limit the
// current sample's only (the read-outs and column functions show no more).
bool in_view(const curs& c, const row_data& r) { return c.sample_limit == 0 || r.sample_no == c.sample_no; }

std::string_view strip(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

double as_double(std::string_view s) { return number_or_zero(strip(s)); }

// A fetch without rows: the target goes back to its dictionary element's
// initial value, as the virtual cursor's row was built with it (numbers to
// the right, text to the left, cut to the field).
void set_default(char* dst, const columns& dst_col) {
    const dict_element* e = find_dict_element(dst_col.name);
    if (!e || !e->initial) return;
    const auto width = static_cast<size_t>(dst_col.length);
    std::string_view value(*e->initial);
    value = value.substr(0, std::min(value.size(), static_cast<size_t>(e->length)));
    std::memset(dst, ' ', width);
    const size_t n = std::min(width, value.size());
    const bool right = e->data_type == 2;
    std::memcpy(dst + (right ? width - n : 0), right ? value.data() + value.size() - n : value.data(), n);
}

void trace_aggregate(const curs& c, const columns& src, const columns& dst, const std::string& text) {
    if (!c.trace) return;
    PRINT('t', "plo3107", "Moving '%s' from %s (%d:%d) to %s (%d:%d)\n", text.c_str(), src.name.c_str(),
          src.buf_offset, src.length, dst.name.c_str(), dst.buf_offset, dst.length);
}

// The where branch: an aggregate over the matching rows, or the first
// matching row's value.
void where_load(curs& c, Load& load, char* dst) {
    const columns& src = c.cols[static_cast<size_t>(load.src_col)];
    const columns& dst_col = load.target_cur->cols[static_cast<size_t>(load.target_col)];
    load.sum = 0;
    load.matches = 0;
    const row_data* first_match = nullptr;
    const bool aggregate = load.is_count || load.is_sum || load.is_average;
    for (const row_data* r = c.rows.first(); r; r = r->next) {
        if (!in_view(c, *r) || !decode_test_holds(c, c, load.where_ops, *r)) continue;
        ++load.matches;
        if (!first_match) first_match = r;
        if (!aggregate) break;
        if (load.is_sum || load.is_average) load.sum += as_double(field_of(*r, src));
    }
    if (!aggregate) {
        if (first_match) set_one_var(src, dst_col, dst, first_match->text() + src.buf_offset, c);
        return;
    }
    char text[64];
    if (load.is_count) std::snprintf(text, sizeof text, "%d", load.matches);
    else if (load.is_sum) std::snprintf(text, sizeof text, "%.2f", load.sum);
    else if (load.matches > 0) std::snprintf(text, sizeof text, "%.2f", load.sum / load.matches);
    else std::snprintf(text, sizeof text, "0.0");
    const std::string shown(strip(text));
    trace_aggregate(c, src, dst_col, shown);
    put_aggregate(dst, static_cast<size_t>(dst_col.length), shown);
}

// The row whose from column is smallest (MIN) or largest (MAX), bytes
// over the column's length; ties keep the earlier row.
const row_data* extreme_row(const curs& c, const columns& col, bool largest) {
    const row_data* best = nullptr;
    for (const row_data* r = c.rows.first(); r; r = r->next) {
        if (!in_view(c, *r)) continue;
        if (!best) {
            best = r;
            continue;
        }
        const int cmp = field_of(*r, col).compare(field_of(*best, col));
        if (largest ? cmp > 0 : cmp < 0) best = r;
    }
    return best;
}

// One load over rows > 0; 0, or 1 when its column function failed.
int one_load(curs& c, Load& load, char* dst) {
    const columns& src = c.cols[static_cast<size_t>(load.src_col)];
    const columns& dst_col = load.target_cur->cols[static_cast<size_t>(load.target_col)];
    if (load.src_funct != ColumnFunction::none) {
        columns fn = src;
        fn.col_funct = load.src_funct;
        fn.samples = load.src_samples;
        std::vector<char> value(static_cast<size_t>(std::max(src.length, 0)) + 1, ' ');
        if (col_function(c, fn, value.data()) != 0) {
            PRINT('e', "plo3105", "Col_function failed for load, cur = %s, load = %s\n", c.cur_name.c_str(),
                  load.text.c_str());
            return 1;
        }
        set_one_var(src, dst_col, dst, value.data(), c);
        return 0;
    }
    if (load.has_where) {
        if (load.ready) where_load(c, load, dst);
        return 0;
    }
    if (load.has_from) {
        const row_data* row = nullptr;
        const columns& from = c.cols[static_cast<size_t>(load.from_col)];
        if (load.is_min || load.is_max) row = extreme_row(c, from, load.is_max);
        else if (load.is_max_occ) row = get_max_occurance(c, from);
        else PRINT('e', "plo3110", "Bad load directive %s\n", load.text.c_str());
        if (row) set_one_var(src, dst_col, dst, row->text() + src.buf_offset, c);
        return 0;
    }
    if (const row_data* last = c.rows.last()) set_one_var(src, dst_col, dst, last->text() + src.buf_offset, c);
    return 0;
}

// The target field of a load: its column in the virtual cursor's row.
char* target_field(const Load& load) {
    if (!load.target_cur || load.target_col < 0) return nullptr;
    row_data* row = load.target_cur->rows.last();
    if (!row) return nullptr;
    const columns& col = load.target_cur->cols[static_cast<size_t>(load.target_col)];
    if (col.buf_offset + col.length > static_cast<int32_t>(row->size)) return nullptr;
    return row->text() + col.buf_offset;
}

} // namespace

void set_one_var(const columns& src_col, const columns& dst_col, char* dst, const char* src, const curs& c) {
    const std::string_view value = strip({src, static_cast<size_t>(std::max(src_col.length, 0))});
    const auto width = static_cast<size_t>(std::max(dst_col.length, 0));
    if (c.trace)
        PRINT('t', "plo3095", "Moving '%.50s' from %s (%d:%d) to %s (%d:%d)\n", std::string(value).c_str(),
              src_col.name.c_str(), src_col.buf_offset, src_col.length, dst_col.name.c_str(), dst_col.buf_offset,
              dst_col.length);
    std::memset(dst, ' ', width);
    const size_t n = std::min(width, value.size());
    if (src_col.orig_type == kNumberType) std::memcpy(dst + width - n, value.data() + value.size() - n, n);
    else std::memcpy(dst, value.data(), n);
}

void put_aggregate(char* field, size_t width, std::string_view text) {
    std::memset(field, ' ', width);
    if (text.size() <= width) {
        std::memcpy(field + width - text.size(), text.data(), text.size());
        return;
    }
    const size_t point = text.find('.');
    const size_t whole = point == std::string_view::npos ? text.size() : point;
    if (whole > width) {
        std::memset(field, '*', width);
        return;
    }
    // The fraction is shortened; a point left last goes with it.
    size_t keep = width;
    if (keep == whole + 1) keep = whole;
    std::memcpy(field + width - keep, text.data(), keep);
}

// Counting by value: an open-addressing table of indexes into the values
// in order of first appearance. Both stay allocated between calls, so a
// count over a large store allocates nothing once it has run.
const row_data* get_max_occurance(const curs& c, const columns& col) {
    struct Seen {
        std::string_view value;
        const row_data* first;
        int32_t count;
    };
    thread_local std::vector<Seen> seen;
    thread_local std::vector<uint32_t> slots;  // 0 empty, else position in seen + 1
    seen.clear();
    size_t capacity = 16;
    while (capacity < static_cast<size_t>(c.rows.size()) * 2) capacity <<= 1;
    slots.assign(capacity, 0);
    const size_t mask = capacity - 1;
    const std::hash<std::string_view> hash;
    for (const row_data* r = c.rows.first(); r; r = r->next) {
        if (!in_view(c, *r)) continue;
        const std::string_view value = field_of(*r, col);
        for (size_t at = hash(value) & mask;; at = (at + 1) & mask) {
            uint32_t& slot = slots[at];
            if (slot == 0) {
                seen.push_back({value, r, 1});
                slot = static_cast<uint32_t>(seen.size());
                break;
            }
            if (Seen& s = seen[slot - 1]; s.value == value) {
                ++s.count;
                break;
            }
        }
    }
    const Seen* best = nullptr;
    for (const Seen& s : seen)
        if (!best || s.count > best->count) best = &s;
    return best ? best->first : nullptr;
}

int process_loads(curs& c, int rows) {
    if (!c.load_list) return 0;
    for (Load& load : c.load_list->loads) {
        c.rows_changed = 1;
        c.history_pending = 1;
        char* dst = target_field(load);
        if (!dst || load.src_col < 0 || static_cast<size_t>(load.src_col) >= c.cols.size()) continue;
        load.target_cur->rows_changed = 1;
        load.target_cur->history_pending = 1;
        const columns& dst_col = load.target_cur->cols[static_cast<size_t>(load.target_col)];
        if (rows == 0) {
            if (c.trace) PRINT('t', "plo3100", "Setting defaults at loads for cur = %s\n", c.cur_name.c_str());
            set_default(dst, dst_col);
            continue;
        }
        if (one_load(c, load, dst) != 0) return 1;
    }
    return 0;
}

int edit_loads() {
    bool failed = false;
    for (const auto& c : cur_anchor) {
        if (!c->load_list) continue;
        for (Load& load : c->load_list->loads) {
            if (!load.has_where) continue;
            load.ready = bind_decode_test(*c, *c, load.where_ops, "plo3086", "Load Column (%s) not found in cursor %s\n") == 0;
            if (!load.ready) failed = true;
        }
    }
    if (failed) {
        PRINT('e', "plo3088", "Load predicate editing failed\n");
        return 1;
    }
    PRINT('i', "plo3087", "Load predicate editing successful\n");
    return 0;
}

int load_pass() {
    const int rc = parse_loads();
    return rc != 0 ? rc : edit_loads();
}

} // namespace qvx
