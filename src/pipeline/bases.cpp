#include "pipeline/bases.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "control/base_clause.h"
#include "model/cursor_list.h"
#include "pipeline/column_versions.h"
#include "pipeline/cursor_run.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr size_t kCursorName = 8;
constexpr size_t kReportedName = 50;  // the key item last warned about, kept this long

// The key item last reported as unmatched: the warning is written when
// another item fails to match, not for every row.
std::string last_unmatched;

// The messages of the two row builders (a fetch or a fetch exit's output).
struct BaseTexts {
    const char* no_item_id;
    const char* no_item;
    const char* no_row_id;
    const char* no_row;
    const char* dummy_id;
    const char* none_id;
};

constexpr BaseTexts kSqlTexts{"cba3330", "Failed to find SQLDA name %s. Using 'last_row'\n",
                              "cba3350", "Failed to find source row matching %s. Using 'last_row'\n",
                              "cba3345", "cba3365"};
constexpr BaseTexts kExitTexts{"ccb3330", "Failed to find database column %s using 'last_row'\n",
                               "ccb3350", "Failed to find matching source row %s using 'last_row'\n",
                               "ccb3345", "ccb3365"};

const BaseTexts& texts_for(RowOrigin origin) { return origin == RowOrigin::fetch_exit ? kExitTexts : kSqlTexts; }

bool is_age_target(const curs& c, const BaseEntry& e) { return !c.age_to.empty() && e.base_name == c.age_to; }

int find_item(const SelectDescriptor& d, const std::string& name) {
    for (size_t i = 0; i < d.items.size(); ++i)
        if (d.items[i].name == name) return static_cast<int>(i);
    return -1;
}

bool in_current_sample(const curs& b, const row_data& r) { return b.sample_limit <= 0 || r.sample_no == b.sample_no; }

// The index of the base cursor's rows by their first len key bytes at
// offset, made again when the rows changed since it was made.
const BaseIndex& index_of(BaseEntry& e, int32_t offset, int32_t len) {
    const curs& b = *e.base_cur;
    BaseIndex& ix = e.index;
    const int32_t sample = b.sample_limit > 0 ? b.sample_no : -1;
    if (ix.made && ix.stamp == b.rows.changes() && ix.sample_no == sample && ix.compare_len == len) return ix;
    ix.first_of.clear();
    ix.first_of.reserve(static_cast<size_t>(b.rows.size()));
    const size_t end = static_cast<size_t>(offset) + static_cast<size_t>(len);
    for (row_data* r = b.rows.first(); r; r = r->next)
        if (in_current_sample(b, *r) && r->size >= end)
            ix.first_of.emplace(std::string_view(r->text() + offset, static_cast<size_t>(len)), r);
    ix.stamp = b.rows.changes();
    ix.sample_no = sample;
    ix.compare_len = len;
    ix.made = true;
    return ix;
}

// With the cursor's trace: the key looked for and every candidate.
void trace_search(const BaseEntry& e, std::string_view key, int32_t offset) {
    const int len = static_cast<int>(key.size());
    PRINT('t', "cba3355", "Looking for (%d) - (%.*s)\n", len, len, key.data());
    const curs& b = *e.base_cur;
    for (const row_data* r = b.rows.first(); r; r = r->next)
        if (in_current_sample(b, *r) && r->size >= static_cast<size_t>(offset) + key.size())
            PRINT('t', "cba3360", "    Found (%.*s)\n", len, r->text() + offset);
}

// The base row when no row holds the key.
row_data* unmatched(const curs& c, const BaseEntry& e, std::string_view key, int32_t offset, const BaseTexts& t) {
    curs& b = *e.base_cur;
    if (b.rows.empty() && is_age_target(c, e)) return nullptr;
    if (!b.dummy_last_row && !b.conditional_dummy_last_row) {
        const std::string name = e.key_name.substr(0, kReportedName);
        if (name != last_unmatched) {
            PRINT('w', t.no_row_id, t.no_row, e.key_name.c_str());
            last_unmatched = name;
        }
        if (c.trace) trace_search(e, key, offset);
        return b.current_row();
    }
    if (c.trace)
        PRINT('t', t.dummy_id, "Using dummy last row in %s to match %s\n", b.cur_name.c_str(), e.key_name.c_str());
    return b.current_row();
}

void position(const curs& c, BaseEntry& e, const SelectDescriptor& d, const BaseTexts& t) {
    curs& b = *e.base_cur;
    e.row_stamp = b.rows.changes();
    const int item = find_item(d, e.key_name);
    if (item < 0 || static_cast<size_t>(item) >= d.offset.size()) {
        PRINT('w', t.no_item_id, t.no_item, e.key_name.c_str());
        e.row = b.current_row();
        return;
    }
    const columns& key_col = b.cols[static_cast<size_t>(e.base_col)];
    const size_t at = static_cast<size_t>(std::max(d.offset[static_cast<size_t>(item)], 0));
    const size_t have = at < d.buffer.size() ? d.buffer.size() - at : 0;
    const int32_t len = static_cast<int32_t>(std::min<size_t>(
        {static_cast<size_t>(std::max(key_col.length, 0)),
         static_cast<size_t>(std::max(d.items[static_cast<size_t>(item)].buf_len, 0)), have}));
    const std::string_view key(d.buffer.data() + at, static_cast<size_t>(len));
    const BaseIndex& ix = index_of(e, key_col.buf_offset, len);
    const auto hit = ix.first_of.find(key);
    e.row = hit != ix.first_of.end() ? hit->second : unmatched(c, e, key, key_col.buf_offset, t);
}

bool bind_entry(curs& c, BaseEntry& e) {
    const char* name = c.cur_name.c_str();
    e.base_cur = nullptr;
    e.base_col = -1;
    curs* b = e.base_name.size() <= kCursorName ? find_cursor(e.base_name) : nullptr;
    if (b == &c) {
        PRINT('e', "eba3295", "Can't use yourself as base cursor(%s)\n", name);
        return false;
    }
    if (!b) {
        PRINT('e', "eba3300", "Base cursor (%s) not found, cursor %s\n", e.base_name.c_str(), name);
        return false;
    }
    if (b->virtual_cur) {
        PRINT('e', "eba3305", "Base cursor (%s) cannot be a virtual table, cursor %s\n", e.base_name.c_str(), name);
        return false;
    }
    if (trace_all)
        PRINT('t', "eba3310", "Base cursor (%s) col (%s)\n", e.base_name.c_str(), e.base_col_name.c_str());
    columns* col = nullptr;
    curs* version = nullptr;
    if (search_curs_vers_insert(*b, e.base_col_name, col, version) != 0) {
        PRINT('e', "eba3315", "Referenced column(%s) not found for base %s, curs->cur_name\n",
              e.base_col_name.c_str(), e.base_name.c_str());
        return false;
    }
    e.base_cur = version;
    e.base_col = column_position(*version, *col);
    e.row = nullptr;
    e.index = BaseIndex{};
    return true;
}

} // namespace

int edit_bases() {
    bool good = true;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (!c.base || is_age_to_copy(c)) continue;
        for (BaseEntry& e : c.base->entries) good = bind_entry(c, e) && good;
    }
    if (!good) {
        PRINT('e', "eba3325", "Base references editing failed\n");
        return 1;
    }
    PRINT('i', "eba3320", "Base references editing successful\n");
    return 0;
}

int set_bases(curs& c, const SelectDescriptor& d, RowOrigin origin) {
    if (!c.base) return 0;
    const BaseTexts& t = texts_for(origin);
    for (BaseEntry& e : c.base->entries) {
        if (!e.base_cur || e.base_col < 0) continue;  // not bound: the edit pass failed
        position(c, e, d, t);
    }
    for (const BaseEntry& e : c.base->entries) {
        if (e.row || !e.base_cur || is_age_target(c, e)) continue;
        PRINT('e', t.none_id, "Have no base row in cursor %s\n", c.cur_name.c_str());
        return 1;
    }
    return 0;
}

const row_data* locate_base_row(const curs& referenced, const curs& cursor) {
    if (cursor.base)
        for (const BaseEntry& e : cursor.base->entries)
            if (e.base_cur == &referenced)
                // A row chosen before the base cursor's rows changed may be gone.
                return e.row && e.row_stamp == referenced.rows.changes() ? e.row : referenced.current_row();
    return referenced.current_row();
}

const char* locate_base(const curs& referenced, const curs& cursor, int32_t offset) {
    const row_data* row = locate_base_row(referenced, cursor);
    return row ? row->text() + offset : nullptr;
}

void reset_bases() { last_unmatched.clear(); }

} // namespace qvx
