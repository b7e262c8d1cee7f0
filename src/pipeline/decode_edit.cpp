// Binding decodes once every cursor is known: each decoded column gets
// its list, column operands and replacements resolve by the
// column-reference rules, a cursor to run by its name.
#include <string>

#include "model/cursor_list.h"
#include "pipeline/column_ref.h"
#include "pipeline/cursor_run.h"
#include "pipeline/decode_eval.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

int16_t column_index(const curs& c, std::string_view name) {
    for (size_t i = 0; i < c.cols.size(); ++i)
        if (c.cols[i].name == name) return static_cast<int16_t>(i);
    return -1;
}

// name resolved from cursor into ref; false when not found (find_col
// reports why).
bool resolve(curs& cursor, const std::string& name, ColumnRef& ref) {
    columns* col = nullptr;
    curs* owner = nullptr;
    if (find_col(cursor, name, col, owner) != 0 || !col || !owner) return false;
    ref.cursor = owner;
    ref.column = static_cast<int16_t>(col - owner->cols.data());
    return true;
}

// The column operands of a test's and-parts; false after an error.
bool bind_and_parts(curs& cursor, std::vector<DecodeAndPart>& parts) {
    bool good = true;
    for (DecodeAndPart& p : parts) {
        if (p.operand_type != OperandType::column || resolve(cursor, p.operand_column, p.ref)) continue;
        PRINT('e', "ede3895", "'And' column(%s) not in cursor %s\n", p.operand_column.c_str(), cursor.cur_name.c_str());
        good = false;
    }
    return good;
}

bool bind_operand(curs& cursor, DecodeOp& op) {
    if (op.operand_type != OperandType::column || resolve(cursor, op.operand_column, op.ref)) return true;
    PRINT('e', "ede3885", "Operand column(%s) not in cursor %s\n", op.operand_column.c_str(), cursor.cur_name.c_str());
    return false;
}

bool bind_replacement(curs& cursor, DecodeOp& op) {
    if (op.replacement_type == ReplacementType::column) {
        if (resolve(cursor, op.replacement_column, op.rep)) return true;
        PRINT('e', "ede3890", "Replacement column(%s) not in cursor %s\n", op.replacement_column.c_str(),
              cursor.cur_name.c_str());
        return false;
    }
    if (op.replacement_type == ReplacementType::run) {
        op.run_cursor = op.replacement_column.size() <= 8 ? find_cursor(op.replacement_column) : nullptr;
        if (op.run_cursor) return true;
        PRINT('e', "ede3900", "Cursor to run (%s) not found %s\n", op.replacement_column.c_str(),
              cursor.cur_name.c_str());
        return false;
    }
    return true;
}

bool bind_cursor(curs& c) {
    bool good = true;
    auto& anchors = c.decode->anchors;
    for (size_t i = 0; i < anchors.size(); ++i) {
        DecodeAnchor& anchor = anchors[i];
        const int16_t at = column_index(c, anchor.col_name);
        if (at < 0) {
            PRINT('e', "ede3880", "Decode Column (%s) not found in cursor %s\n", anchor.col_name.c_str(),
                  c.cur_name.c_str());
            good = false;
        } else {
            c.cols[static_cast<size_t>(at)].decode_list = static_cast<int16_t>(i);
        }
        for (DecodeOp& op : anchor.ops) {
            good = bind_operand(c, op) && good;
            good = bind_replacement(c, op) && good;
            good = bind_and_parts(c, op.and_parts) && good;
        }
    }
    return good;
}

} // namespace

int edit_decode() {
    bool good = true;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (!c.decode || is_age_to_copy(c)) continue;
        good = bind_cursor(c) && good;
    }
    if (!good) {
        PRINT('e', "ede3910", "Decode edits failed\n");
        return 1;
    }
    PRINT('i', "ede3905", "Decode edits successful\n");
    return 0;
}

int bind_decode_test(curs& owner, curs& value_cursor, DecodeAnchor& test, const char* missing_id,
                     const char* missing_text) {
    bool good = true;
    test.column = column_index(value_cursor, test.col_name);
    if (test.column < 0) {
        PRINT('e', missing_id, missing_text, test.col_name.c_str(), value_cursor.cur_name.c_str());
        good = false;
    }
    for (DecodeOp& op : test.ops) {
        good = bind_operand(owner, op) && good;
        good = bind_and_parts(owner, op.and_parts) && good;
    }
    return good ? 0 : 1;
}

} // namespace qvx
