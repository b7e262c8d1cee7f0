// One evaluation run: the entries of each cursor, the evaluations applied
// to them and the selected rows written out.
#include "channel/evaluator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "channel/serve_nupa.h"
#include "pipeline/cluster.h"
#include "pipeline/column_function.h"
#include "pipeline/send_layout.h"
#include "runtime/messages.h"
#include "runtime/window.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr int32_t kMaxCompare = 2048;  // widest text the comparison takes

bool class_accepted(const distrib& d, int32_t class_no) {
    return class_no >= 0 && class_no < static_cast<int32_t>(d.class_sw.size()) &&
           d.class_sw[static_cast<size_t>(class_no)] != 0;
}

bool is_water(int32_t funct) {
    return funct == static_cast<int32_t>(ColumnFunction::high_water) ||
           funct == static_cast<int32_t>(ColumnFunction::low_water);
}

// Which comparison class holds: -1 less, 0 equal, 1 greater.
int numeric_class(const columns& col, const char* value, const e_ptr& e) {
    char text[kMaxCompare + 1];
    size_t n = static_cast<size_t>(col.length);
    if (is_water(static_cast<int32_t>(col.col_funct)) && col.water_mark) {
        n = std::min(col.water_mark->size(), sizeof text - 1);
        value = col.water_mark->data();
    }
    std::memcpy(text, value, n);
    text[n] = '\0';
    const char* p = text;
    while (*p == ' ') ++p;
    const double x = std::strtod(p, nullptr);
    if (x == e.value) return 0;
    return x < e.value ? -1 : 1;
}

// Byte-wise, the shorter side padded with blanks. A fetched text is
// filled up with zero bytes behind its value: the value ends there.
int text_class(const columns& col, const char* value, const e_ptr& e) {
    const size_t width = static_cast<size_t>(col.length);
    const void* zero = std::memchr(value, '\0', width);
    const size_t a = zero ? static_cast<size_t>(static_cast<const char*>(zero) - value) : width;
    const size_t b = e.value_text.size();
    const size_t n = std::max(a, b);
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a ? value[i] : ' ');
        const auto y = static_cast<unsigned char>(i < b ? e.value_text[i] : ' ');
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void select(row_entry& entry, int16_t reason, e_ptr& e) {
    entry.selected = 1;
    entry.reason = reason;
    entry.evaluation = static_cast<int16_t>(e.ordinal);
    e.fired = 1;
}

// Tests the column in every stored row not selected yet.
void test_rows(curs& c, const columns& col, e_ptr& e, PredicateRows& rows, const char* before_id) {
    for (row_entry& entry : rows.entries()) {
        if (entry.kind != 1) continue;
        if (entry.selected) {
            if (c.trace) PRINT('t', before_id, "Row stat set before %s\n", e.name.c_str());
            continue;
        }
        if (do_compare(col, entry.text() + col.buf_offset, e))
            select(entry, ER_SATISFIED, e);
        else
            e.candidate = &entry;
    }
}

// A column-function column: the value is the extra entry's. MIN and MAX
// report the stored row that holds the value.
void test_function(curs& c, const columns& col, e_ptr& e, PredicateRows& rows) {
    row_entry& extra = rows.extra();
    const char* value = extra.text() + col.buf_offset;
    const bool min = e.col_funct == static_cast<int32_t>(ColumnFunction::min);
    const bool max = e.col_funct == static_cast<int32_t>(ColumnFunction::max);
    if (min || max) {
        if (!do_compare(col, value, e)) {
            e.candidate = &extra;
            return;
        }
        e.fired = 1;
        const size_t len = static_cast<size_t>(std::max(col.length, 0));
        for (row_entry& entry : rows.entries()) {
            if (entry.kind != 1 || entry.selected) continue;
            if (std::memcmp(entry.text() + col.buf_offset, value, len) != 0) continue;
            select(entry, min ? ER_MIN : ER_MAX, e);
            break;
        }
        return;
    }
    if (extra.selected) {
        if (c.trace) PRINT('t', "cev1720", "Col stat set before %s\n", e.name.c_str());
        return;
    }
    if (do_compare(col, value, e))
        select(extra, ER_SATISFIED, e);
    else
        e.candidate = &extra;
}

// The evaluation's function over a column kept without it, computed now.
void test_computed(curs& c, const columns& found, e_ptr& e, PredicateRows& rows) {
    columns col = found;
    col.col_funct = static_cast<ColumnFunction>(e.col_funct);
    std::string work(static_cast<size_t>(std::clamp(col.length, 0, kMaxCompare)) + 1, ' ');
    col.length = static_cast<int32_t>(work.size() - 1);
    if (col_function(c, col, work.data()) == 0 && do_compare(col, work.data(), e)) {
        for (row_entry& entry : rows.entries())
            if (!entry.selected) select(entry, ER_SATISFIED, e);
        e.fired = 1;
        return;
    }
    e.candidate = &rows.extra();
}

void apply_evaluation(curs& c, e_ptr& e, PredicateRows& rows) {
    e.candidate = nullptr;
    e.fired_before = e.fired;
    e.fired = 0;
    if (c.trace)
        PRINT('t', "cev1685", "for eval: funct = %d, col_ll = %d , col = %s\n", e.col_funct, e.col_name_ll,
              e.col_name.c_str());
    const columns* by_name = nullptr;
    for (const columns& col : c.cols) {
        if (c.trace)
            PRINT('t', "cev1695", "for col: funct = %d, col_ll = %d , col = %s\n",
                  static_cast<int>(col.col_funct), col.name_len, col.name.c_str());
        if (col.name != e.col_name) continue;
        if (!by_name) by_name = &col;
        if (static_cast<int32_t>(col.col_funct) != e.col_funct) continue;
        if (e.col_funct == 0)
            test_rows(c, col, e, rows, "cev1730");
        else
            test_function(c, col, e, rows);
        return;
    }
    if (c.trace) PRINT('t', "cev1740", "No column/col-funct match for eval %s\n", e.name.c_str());
    if (!by_name) {
        PRINT('w', "cev1750", "Can't match for eval %d\n", e.ordinal);
        return;
    }
    if (e.col_funct == 0)
        test_rows(c, *by_name, e, rows, "cev1755");
    else
        test_computed(c, *by_name, e, rows);
}

// Copies a row image (at most the cursor's row length) behind a fresh
// row header at dest.
row_data* copy_row(void* dest, const row_data* from, size_t length) {
    auto* r = new (dest) row_data;
    r->size = static_cast<uint32_t>(length);
    std::memset(r->text(), ' ', length);
    r->text()[length] = '\0';
    if (!from) return r;
    r->sample_no = from->sample_no;
    r->row_no = from->row_no;
    r->age = from->age;
    std::memcpy(r->text(), from->text(), std::min<size_t>(from->size, length));
    return r;
}

// Writes the selected entries; false when the sender failed.
bool send_selected(curs& c, PredicateRows& rows, RowSender sender) {
    std::vector<char> out;
    for (row_entry& entry : rows.entries()) {
        if (!entry.selected) continue;
        if (out.empty()) out.resize(static_cast<size_t>(std::max(c.row_size ? c.row_size : get_row_size(c), 1)));
        make_row(c, out.data(), *entry.row);
        if (sender(c, out.data()) != 0) return false;
    }
    return true;
}

} // namespace

int do_compare(const columns& col, const char* value, const e_ptr& e) {
    if (col.length < 0 || col.length > kMaxCompare) {
        PRINT('w', "cev1795", "Improper length on column string %s\n", col.name.c_str());
        return 0;
    }
    if (e.value_ll < 0 || e.value_ll > kMaxCompare) {
        PRINT('w', "cev1800", "Improper length on constant string %s\n", e.value_text.c_str());
        return 0;
    }
    const int cls = e.value_type == 1 && col.orig_type == kNumberType ? numeric_class(col, value, e)
                                                                      : text_class(col, value, e);
    const int32_t flag = cls < 0 ? e.less : cls == 0 ? e.equal : e.greater;
    return flag ? 1 : 0;
}

int get_predicate_rows(curs& c, PredicateRows& rows) {
    rows.clear();
    cluster* cl = open_cursor(c);
    if (!cl) return 1;
    close_cur(cl);
    const size_t length = static_cast<size_t>(std::max(c.length, 0));
    const size_t image = (length + 4) / 4 * 4;  // the text and its closing zero
    const size_t units = (sizeof(row_data) + image + 7) / 8;
    const size_t count = c.rows.size() + 1;
    try {
        rows.entries_.resize(count);
        rows.images_.assign(units * count, 0);
    } catch (const std::bad_alloc&) {
        rows.clear();
        PRINT('e', "cev1680", "Unable to get memory for predicate eval\n");
        return 2;
    }
    size_t i = 0;
    auto fill = [&](const row_data* from, int16_t kind) {
        row_entry& entry = rows.entries_[i];
        entry.kind = kind;
        entry.row = copy_row(rows.images_.data() + i * units, from, length);
        if (i > 0) rows.entries_[i - 1].next = &entry;
        ++i;
    };
    for (const row_data* r = c.rows.first(); r; r = r->next) fill(r, 1);
    const row_data* extra = c.has_col_funct && c.column_data ? c.column_data.get() : c.rows.last();
    fill(extra, 2);
    return 0;
}

void mark_entries(curs& c, const distrib& d, PredicateRows& rows) {
    for (e_ptr& e : c.evals) apply_evaluation(c, e, rows);
    if (!d.send_false) return;
    for (e_ptr& e : c.evals) {
        if (e.fired || !e.fired_before || !e.candidate || e.candidate->selected) continue;
        e.candidate->selected = 1;
        e.candidate->reason = ER_STOPPED;
        e.candidate->evaluation = static_cast<int16_t>(e.ordinal);
    }
}

int do_evaluator(long time, distrib& d, RowSender sender) {
    if (!sender) sender = send_a_row;
    int status = 0;
    PredicateRows rows;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (static_cast<long>(c.window_end) <= time) set_window_c(c, time);
        if (static_cast<long>(c.window_start) > time || c.held == 'Y' || !class_accepted(d, c.class_no) ||
            c.evals.empty())
            continue;
        const int rc = get_predicate_rows(c, rows);
        if (rc != 0) {
            status = rc;
            continue;
        }
        mark_entries(c, d, rows);
        const bool sent = send_selected(c, rows, sender);
        for (e_ptr& e : c.evals) {
            if (!sent) e.fired = e.fired_before;
            e.candidate = nullptr;  // the entries go now
        }
        rows.clear();
    }
    return status;
}

} // namespace qvx
