// Applying the decode that holds for a column of the row being built:
// the value is replaced by a constant or by another column's value, or
// left as it is while the replacement acts (hold or release cursors) or
// schedules a cursor to run after this cursor's run.
#include <algorithm>
#include <cstring>
#include <string>

#include "pipeline/bases.h"
#include "pipeline/decode_eval.h"
#include "pipeline/row_store.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;

// Puts source into the value's len bytes: a Number column right-aligned
// (its rightmost bytes when too long), any other left-aligned and
// blank-padded or cut.
void put_aligned(char* value, size_t len, std::string_view source, bool number) {
    if (source.size() == len) {
        std::memcpy(value, source.data(), len);
        return;
    }
    std::memset(value, ' ', len);
    if (number) {
        while (!source.empty() && (source.back() == ' ' || source.back() == '\0')) source.remove_suffix(1);
        if (source.size() > len) source.remove_prefix(source.size() - len);
        std::memcpy(value + len - source.size(), source.data(), source.size());
    } else {
        std::memcpy(value, source.data(), std::min(len, source.size()));
    }
}

void schedule_run(curs& cursor, const DecodeOp& op) {
    if (cursor.traced) PRINT('t', "cde4410", "Scheduling cursor %s\n", op.replacement_column.c_str());
    if (!op.run_cursor) return;
    const PostCursor entry{op.run_cursor, cursor.row_no};
    for (const PostCursor& p : cursor.post_cursors)
        if (p.cursor == entry.cursor && p.row_no == entry.row_no) return;
    cursor.post_cursors.push_back(entry);
}

// The replacement column's bytes; false when its cursor has no row.
bool replacement_source(const curs& cursor, const char* row_text, const DecodeOp& op, std::string& out) {
    if (!op.rep) return false;
    const curs& src = *op.rep.cursor;
    const columns& sc = src.cols[static_cast<size_t>(op.rep.column)];
    const size_t len = static_cast<size_t>(std::max(sc.length, 0));
    if (&src == &cursor) {
        out.assign(row_text + sc.buf_offset, len);
        return true;
    }
    const row_data* row = locate_base_row(src, cursor);
    if (!row) {
        PRINT('w', "cde4420", "In decode, referenced cursor %s has no rows - skipping decode\n", src.cur_name.c_str());
        return false;
    }
    const size_t off = static_cast<size_t>(std::max(sc.buf_offset, 0));
    out.assign(row->text() + std::min<size_t>(off, row->size), off < row->size ? std::min(len, row->size - off) : 0);
    out.resize(len, ' ');
    return true;
}

} // namespace

void do_decode(const columns& column, char* row_text, int indicator, curs& cursor) {
    if (!cursor.decode || column.decode_list < 0 ||
        static_cast<size_t>(column.decode_list) >= cursor.decode->anchors.size())
        return;
    DecodeAnchor& anchor = cursor.decode->anchors[static_cast<size_t>(column.decode_list)];
    char* value = row_text + column.buf_offset;
    const size_t len = static_cast<size_t>(std::max(column.length, 0));
    const DecodeOp* op = eval_decode(column, value, row_text, indicator, cursor, anchor);
    const bool traced = cursor.traced != 0;
    // The value before replacement, for the traces only.
    const auto before = [&] { return std::string(value, len); };
    if (!op) {
        if (traced) PRINT('t', "cde4400", "Am not replacing %s for column %s\n", before().c_str(), column.name.c_str());
        return;
    }
    const bool number = column.orig_type == kNumberType;
    switch (op->replacement_type) {
    case ReplacementType::run:
        schedule_run(cursor, *op);
        return;
    case ReplacementType::column: {
        std::string source;
        if (!replacement_source(cursor, row_text, *op, source)) return;
        if (traced) PRINT('t', "cde4425", "Replacing %s with %s\n", before().c_str(), source.c_str());
        put_aligned(value, len, source, number);
        return;
    }
    case ReplacementType::number:
    case ReplacementType::string: {
        const std::string_view field = op->replacement;
        const bool is_num = op->replacement_type == ReplacementType::number;
        const size_t ll = std::min(field.size(), static_cast<size_t>(std::max<int16_t>(op->replacement_ll, 0)));
        const std::string_view shown = is_num ? field.substr(field.size() - ll) : field.substr(0, ll);
        if (traced)
            PRINT('t', "cde4430", "Replacing %s with %s\n", before().c_str(), std::string(shown).c_str());
        if (special_decode(cursor, shown.data(), shown.size())) return;
        // The field is already as wide as the column (numbers, right-
        // aligned) or wider (strings, blank-padded to 256 bytes); what it
        // lacks reads as blanks.
        if (is_num) {
            const size_t n = std::min(field.size(), len);
            std::memset(value, ' ', len - n);
            std::memcpy(value + (len - n), field.data() + (field.size() - n), n);
        } else {
            const size_t n = std::min(field.size(), len);
            std::memcpy(value, field.data(), n);
            std::memset(value + n, ' ', len - n);
        }
        return;
    }
    default:
        return;
    }
}

void decode_row(curs& cursor, row_data& row) {
    if (!cursor.decode) return;
    for (const columns& col : cursor.cols)
        if (col.decode_list >= 0) do_decode(col, row.text(), col.value_null ? -1 : 0, cursor);
}

} // namespace qvx
