// Binding math clauses: each name of an expression becomes a column of
// the cursor itself or a column of another cursor (cursor.column), and
// each column named like a clause becomes the math column it computes.
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor_list.h"
#include "pipeline/column_versions.h"
#include "pipeline/math_eval.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kNameField = 50;    // column and math names compare over this many bytes
constexpr size_t kCursorField = 9;   // cursor names: 8 characters and a zero
constexpr int16_t kNumberType = 2;
constexpr int32_t kDefaultWidth = 16;

bool same_name(std::string_view a, std::string_view b) {
    return a.substr(0, std::min(a.size(), kNameField)) == b.substr(0, std::min(b.size(), kNameField));
}

int16_t column_index(const curs& c, std::string_view name) {
    for (size_t i = 0; i < c.cols.size(); ++i)
        if (same_name(c.cols[i].name, name)) return static_cast<int16_t>(i);
    return -1;
}

// Binds one name word; false after an error (reported).
bool bind_word(curs& c, const MathDef& m, MathWord& w) {
    w.ref_cur = nullptr;
    w.ref_col = column_index(c, w.text);
    if (w.ref_col >= 0) return true;

    const size_t dot = w.text.find('.');
    if (dot == std::string::npos) {
        PRINT('e', "pma3475", "In math, variable (%s) not matched\n", w.text.c_str());
        return false;
    }
    const std::string cursor_part = w.text.substr(0, dot);
    const std::string column_part = w.text.substr(dot + 1);
    curs* named = cursor_part.size() < kCursorField ? find_cursor(cursor_part) : nullptr;
    if (!named) {
        PRINT('e', "pma3490", "Cursor (%s) not found in text '%s'\n", cursor_part.c_str(), m.text.c_str());
        return false;
    }
    if (named == &c) {
        PRINT('e', "pma3495", "Qualified reference to own table in math, text = %s\n", m.text.c_str());
        return false;
    }
    if (!c.age_to.empty() && named->cur_name == c.age_to)
        PRINT('i', "pma3480", "Note -- referencing age_to cursor in (%s) for math (%s)\n", c.cur_name.c_str(),
              m.name.c_str());
    columns* col = nullptr;
    curs* version = nullptr;
    if (search_curs_vers(*named, column_part, col, version) == 0) {
        w.ref_cur = version;
        w.ref_col = column_position(*version, *col);
        return true;
    }
    PRINT('e', "pma3500", "Column (%s) not found in %s\n", column_part.c_str(), named->cur_name.c_str());
    return false;
}

// Makes every column named like a clause a math column.
void mark_math_columns(curs& c) {
    const std::vector<MathDef>& defs = c.math->defs;
    for (size_t i = 0; i < c.cols.size(); ++i) {
        columns& col = c.cols[i];
        col.is_math = false;
        col.math_def = -1;
        for (size_t d = 0; d < defs.size(); ++d) {
            if (!same_name(defs[d].name, col.name)) continue;
            col.is_math = true;
            col.math_def = static_cast<int16_t>(d);
            col.orig_type = kNumberType;
            col.length = col.forced_len > 0 ? col.forced_len : kDefaultWidth;
            col.ordinal = static_cast<int16_t>(i + 1);
            break;
        }
    }
}

// A math column is computed in column order, so it may only read math
// columns before it. False after an error (reported).
bool reads_only_earlier(const curs& c) {
    bool ok = true;
    for (size_t i = 0; i < c.cols.size(); ++i) {
        const columns& col = c.cols[i];
        if (!col.is_math) continue;
        for (const MathWord& w : c.math->defs[static_cast<size_t>(col.math_def)].words) {
            if (w.kind != MathKind::name || w.ref_cur || w.ref_col < 0) continue;
            const columns& read = c.cols[static_cast<size_t>(w.ref_col)];
            if (read.is_math && static_cast<size_t>(w.ref_col) >= i) {
                PRINT('e', "pma3510", "Math expression for col %s uses later math column %s\n", col.name.c_str(),
                      read.name.c_str());
                ok = false;
            }
        }
    }
    return ok;
}

bool edit_cursor(curs& c) {
    bool ok = true;
    for (MathDef& m : c.math->defs)
        for (MathWord& w : m.words)
            if (w.kind == MathKind::name && !bind_word(c, m, w)) ok = false;
    mark_math_columns(c);
    return reads_only_earlier(c) && ok;
}

} // namespace

int edit_math() {
    int rc = 0;
    for (const auto& c : cur_anchor)
        if (c->math && !c->math->defs.empty() && !edit_cursor(*c)) rc = 1;
    if (rc == 0)
        PRINT('i', "pma3520", "Math editing successful\n");
    else
        PRINT('e', "pma3515", "Math editing failed\n");
    return rc;
}

} // namespace qvx
