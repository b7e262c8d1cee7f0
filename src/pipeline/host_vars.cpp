#include "pipeline/host_vars.h"

#include <algorithm>
#include <string_view>

#include "model/cursor_list.h"
#include "pipeline/column_versions.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kDotWithin = 9;       // a '.' this close after '[' makes cursor.column
constexpr size_t kPercentWithin = 50;  // a '%' this close after '[' starts a percent variable
constexpr int16_t kNumberType = 2;
constexpr std::string_view kEmptyList = "( 'ZIP' )";

bool ends_name(char ch) {
    switch (ch) {
    case ' ': case '\t': case '\n': case '\r': case '\'': case '"':
    case '+': case '-': case '*': case '/': case ',': case '(': case ')':
        return true;
    default:
        return false;
    }
}

size_t name_end(std::string_view s, size_t at) {
    while (at < s.size() && !ends_name(s[at])) ++at;
    return at;
}

// The reference starting after the '[' at open: its piece (names only,
// not yet resolved) and where the text goes on. False when the '[' starts
// no reference (it stays text).
bool split_reference(std::string_view s, size_t open, HvPiece& piece, size_t& next) {
    const size_t from = open + 1;
    const std::string_view near = s.substr(from, kPercentWithin);
    const size_t dot = near.substr(0, kDotWithin).find('.');
    const size_t pct = near.find('%');
    if (dot != std::string_view::npos && (pct == std::string_view::npos || dot < pct)) {
        piece.kind = HvPiece::Kind::column;
        for (char ch : near.substr(0, dot))
            if (ch != ' ' && ch != '\t') piece.cursor_name += ch;
        next = name_end(s, from + dot + 1);
        piece.column_part.assign(s.substr(from + dot + 1, next - (from + dot + 1)));
        piece.disable = piece.column_part.find("DISABLE") != std::string::npos;
        return true;
    }
    if (pct == std::string_view::npos) return false;
    piece.kind = HvPiece::Kind::percent;
    next = name_end(s, from + pct + 1);
    piece.column_part.assign(s.substr(from + pct, next - (from + pct)));
    return true;
}

// Resolves a reference's cursor and column (or in-list); false after an
// error (reported).
bool resolve(const curs& c, HvPiece& p) {
    const char* me = c.cur_name.c_str();
    if (p.kind == HvPiece::Kind::percent) {
        const columns* pc = percent_cursor ? find_pcnt_col(p.column_part) : nullptr;
        if (!pc) {
            PRINT('e', "cmg3232", "Column %s not found, cursor %s \n", p.column_part.c_str(), me);
            return false;
        }
        p.cursor = percent_cursor;
        p.column = column_position(*percent_cursor, *pc);
        return true;
    }
    const char* cn = p.cursor_name.c_str();
    const char* col = p.column_part.c_str();
    p.cursor = p.cursor_name.size() <= 8 ? find_cursor(p.cursor_name) : nullptr;
    if (!p.cursor) {
        PRINT('e', "cmg3205", "Cursor %s not found for %s.%s in sql for %s\n", cn, cn, col, me);
        return false;
    }
    columns* found = nullptr;
    curs* version = nullptr;
    if (search_curs_vers_insert(*p.cursor, p.column_part, found, version) == 0) {
        p.cursor = version;
        p.column = column_position(*version, *found);
        return true;
    }
    if (p.cursor->in_list)
        for (const InList& list : p.cursor->in_list->lists)
            if (list.name == p.column_part) {
                p.kind = HvPiece::Kind::in_list;
                p.list = &list;
                return true;
            }
    PRINT('e', "cmg3230", "Column %s not found for %s.%s in sql for %s\n", col, cn, col, me);
    return false;
}

HvPiece literal(size_t at, size_t len) {
    HvPiece p;
    p.at = at;
    p.len = len;
    return p;
}

// Splits the statement; false after an error in a reference (reported).
bool split(const curs& c, const std::string& statement, HostVarPieces& out) {
    out.statement = statement;
    out.pieces.clear();
    const std::string_view s = statement;
    size_t text_from = 0;
    for (size_t i = 0; i < s.size();) {
        HvPiece ref;
        size_t next = 0;
        if (s[i] != '[' || !split_reference(s, i, ref, next)) {
            ++i;
            continue;
        }
        if (i > text_from) out.pieces.push_back(literal(text_from, i - text_from));
        if (!resolve(c, ref)) return false;
        out.pieces.push_back(std::move(ref));
        i = text_from = next;
    }
    if (s.size() > text_from) out.pieces.push_back(literal(text_from, s.size() - text_from));
    return true;
}

// Inserts one value by the insertion rules.
void insert_value(std::string& merged, std::string_view value, bool as_stored) {
    size_t n = value.size();
    while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == '\0')) --n;
    if (!merged.empty() && merged.back() == '!') {
        merged.pop_back();
        merged.append(value.substr(0, n));
    } else if (!as_stored) {
        merged += '\'';
        merged.append(n > 0 ? value.substr(0, n) : std::string_view(" "));
        merged += '\'';
    } else {
        // A zero byte cannot stand in SQL text: the rest of a short value
        // reads as blanks.
        const size_t start = merged.size();
        merged.append(value);
        std::replace(merged.begin() + static_cast<std::ptrdiff_t>(start), merged.end(), '\0', ' ');
    }
}

// An in-list's text; while the list was never built the cursor is held.
void insert_list(curs& c, const HvPiece& p, std::string& merged) {
    if (p.list->text == kEmptyList) {
        PRINT('w', "cmg3210", "Merging %s for sel in %s, in_list not initialized\n", p.column_part.c_str(),
              c.cur_name.c_str());
        PRINT('w', "cmg3215", "Cursor %s not yet executed\n", p.cursor->cur_name.c_str());
        PRINT('w', "cmg3220", "Holding cursor %s\n", c.cur_name.c_str());
        c.held = 'Y';
    }
    if (p.cursor->trace) PRINT('t', "cmg3225", "matched to in_list %s\n", p.list->name.c_str());
    merged += p.list->text;
}

// A percent variable's value: a request parameter standing in for it, or
// the percent cursor's row.
std::string_view percent_value(const columns& pc) {
    const size_t len = static_cast<size_t>(std::max(pc.length, 0));
    if (pc.binding.value_ptr) return {pc.binding.value_ptr, len};
    const row_data* row = percent_cursor ? percent_cursor->rows.first() : nullptr;
    if (!row || static_cast<size_t>(pc.buf_offset) + len > row->size) return {};
    return {row->text() + pc.buf_offset, len};
}

// A column reference's value; false after an error (reported with the
// first merge's or a later merge's texts).
bool insert_column(const curs& c, const HvPiece& p, std::string& merged, bool first) {
    const columns& col = p.cursor->cols[static_cast<size_t>(p.column)];
    const char* cn = p.cursor_name.c_str();
    const char* cp = p.column_part.c_str();
    const row_data* row = p.cursor->current_row();
    if (!row) {
        PRINT('e', "cmg3235", "No last row for %s.%s, cursor %s\n", cn, cp, c.cur_name.c_str());
        return false;
    }
    if (col.orig_type == 0) {
        if (first)
            PRINT('e', "cmg3240", "Invalid data_type(%d) for %s.%s, cursor %s\n", col.orig_type, cn, cp,
                  c.cur_name.c_str());
        else
            PRINT('e', "cmg3245", "Invalid data_type(%d) for %s.%s\n", col.orig_type, cn, cp);
        return false;
    }
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    const size_t len = static_cast<size_t>(std::max(col.length, 0));
    const std::string_view value =
        at < row->size ? std::string_view(row->text() + at, std::min(len, row->size - at)) : std::string_view();
    insert_value(merged, value, col.orig_type == kNumberType || p.disable);
    return true;
}

int merge(curs& c, std::string& merged, bool first) {
    const HostVarPieces& kept = *c.hv_pieces;
    merged.clear();
    merged.reserve(kept.statement.size() + 64);
    for (const HvPiece& p : kept.pieces) {
        switch (p.kind) {
        case HvPiece::Kind::text:
            merged.append(kept.statement, p.at, p.len);
            break;
        case HvPiece::Kind::in_list:
            insert_list(c, p, merged);
            break;
        case HvPiece::Kind::percent: {
            const columns& pc = percent_cursor->cols[static_cast<size_t>(p.column)];
            insert_value(merged, percent_value(pc), pc.orig_type == kNumberType);
            break;
        }
        case HvPiece::Kind::column:
            if (!insert_column(c, p, merged, first)) return 0;
            break;
        }
    }
    if (c.trace) PRINT('t', "cmg3242", "HV merge produced: %s\n", merged.c_str());
    return static_cast<int>(std::min<size_t>(merged.size(), INT32_MAX));
}

} // namespace

int set_hvs_in_sel(curs& c, const std::string& statement, std::string& merged) {
    if (c.hv_pieces && c.hv_pieces->statement == statement) return set_hvs_in_sel_2(c, merged);
    if (!split(c, statement, c.hv_pieces.ensure())) {
        c.hv_pieces.reset();
        return 0;
    }
    return merge(c, merged, true);
}

int set_hvs_in_sel_2(curs& c, std::string& merged) {
    if (!c.hv_pieces) return 0;
    return merge(c, merged, false);
}

const std::string& statement_for_fetch(curs& c, std::string& scratch) {
    if (!c.bracket) return c.sel_piece;
    if (set_hvs_in_sel(c, c.sel_piece, scratch) > 0) return scratch;
    c.bracket = 0;
    c.hv_pieces.reset();
    return c.sel_piece;
}

} // namespace qvx
