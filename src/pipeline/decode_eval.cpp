// Evaluating decode tests: which operation of a column's list holds for
// the column's value in the row being built (or in a stored row, for the
// tests of loads and iterations).
//
// A test compares the value with its operand and the operator picks the
// outcomes that match: below (<, <=, ~=), above (>, >=, ~=) or equal (=,
// <=, >=, search, in). A Number column compares as numbers, others as
// bytes over the column's width. A numeric constant tested against a
// column that is not Number compares with the value read as a number
// when the value is one (blanks around it allowed); a value that is no
// number matches no numeric test.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pipeline/bases.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "runtime/messages.h"
#include "support/number_text.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;

bool is_number(const columns& c) { return c.orig_type == kNumberType; }

const char* operator_text(DecodeOperator op) {
    switch (op) {
    case DecodeOperator::equal: return " Is equal to";
    case DecodeOperator::greater: return " Is greater than";
    case DecodeOperator::less: return " Is less than";
    case DecodeOperator::null: return " Is NULL";
    case DecodeOperator::otherwise: return " Is none of the above";
    case DecodeOperator::greater_equal: return " Is greater than or equal to";
    case DecodeOperator::less_equal: return " Is less than or equal to";
    case DecodeOperator::not_equal: return " Is not equal to";
    case DecodeOperator::search: return " Contains";
    case DecodeOperator::in: return " In";
    case DecodeOperator::and_mask: return " Anded with";
    default: return " ?";
    }
}

// A numeric constant's field cut (or blank-extended) to the column's
// width, still right-aligned.
void narrow(std::string& field, size_t width) {
    if (field.size() > width)
        field.erase(0, field.size() - width);
    else if (field.size() < width)
        field.insert(0, width - field.size(), ' ');
}

std::string shown_operand(OperandType type, const std::string& field, int16_t ll, const std::string& column) {
    const size_t n = std::min(field.size(), static_cast<size_t>(std::max<int16_t>(ll, 0)));
    switch (type) {
    case OperandType::number: return field.substr(field.size() - n);
    case OperandType::string: return "'" + field.substr(0, n) + "'";
    default: return column;
    }
}

void trace_list(const columns& col, const DecodeAnchor& anchor, const curs& cur) {
    PRINT('t', "cde4230", "Decodes for column %s(%d,%d)\n", col.name.c_str(), col.buf_offset, col.length);
    for (const DecodeOp& op : anchor.ops) {
        const std::string operand = shown_operand(op.operand_type, op.operand, op.operand_ll, op.operand_column);
        PRINT('t', "cde4235", "if %s %.150s\n", operator_text(op.operatr), operand.c_str());
        for (const DecodeAndPart& p : op.and_parts) {
            const std::string part = std::string(operator_text(p.operatr)) + " " +
                                     shown_operand(p.operand_type, p.operand, p.operand_ll, p.operand_column);
            PRINT('t', "cde4250", " and %.150s\n", part.c_str());
        }
        if (op.replacement_type == ReplacementType::column && op.rep) {
            const columns& rc = op.rep.cursor->cols[static_cast<size_t>(op.rep.column)];
            PRINT('t', "cde4270", " Replace it with  column %s (%d,%d)\n", op.replacement_column.c_str(),
                  rc.buf_offset, rc.length);
        } else {
            const std::string rep = op.replacement_type == ReplacementType::run
                                        ? "run " + op.replacement_column
                                        : shown_operand(static_cast<OperandType>(op.replacement_type), op.replacement,
                                                        op.replacement_ll, op.replacement_column);
            PRINT('t', "cde4260", " Replace it with %s\n", rep.c_str());
        }
    }
    (void)cur;
}

// The first evaluation of a list: constants to the column's width,
// in-lists looked up.
void prepare(DecodeAnchor& anchor, const columns& col, const curs& cur) {
    if (anchor.prepared) return;
    anchor.prepared = true;
    const size_t width = static_cast<size_t>(std::max(col.length, 0));
    for (DecodeOp& op : anchor.ops) {
        if (op.operand_type == OperandType::number) narrow(op.operand, width);
        if (op.replacement_type == ReplacementType::number) narrow(op.replacement, width);
        for (DecodeAndPart& p : op.and_parts)
            if (p.operand_type == OperandType::number) narrow(p.operand, width);
        if (op.operand_type == OperandType::in_list && !op.in_list) op.in_list = find_in_list(op.operand_column);
    }
    if (cur.traced) trace_list(col, anchor, cur);
}

// Reads text as a number: leading blanks skipped; for a Number column the
// rest up to the first character that is not part of a number (an
// all-blank value is 0), otherwise the whole text must be a number. A
// zero byte ends the text.
bool read_value(std::string_view s, bool number_column, double& out) {
    s = s.substr(0, std::min(s.size(), s.find('\0')));
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) {
        out = 0;
        return number_column;
    }
    const NumberPrefix read = read_number(s.substr(a));
    out = read.value;
    if (read.used == 0) return number_column;
    if (number_column) return true;
    return s.find_first_not_of(' ', a + read.used) == std::string_view::npos;
}

// The value tested: its bytes (the zero bytes a fetch leaves after a
// short text read as the blanks they stand for, then in a buffer kept for
// the evaluation) and, read on first need, its number.
class Value {
public:
    Value(const columns& col, const char* bytes, std::string& buffer) : number_column_(is_number(col)) {
        const size_t len = static_cast<size_t>(std::max(col.length, 0));
        if (!std::memchr(bytes, '\0', len)) {
            text = std::string_view(bytes, len);
            return;
        }
        buffer.assign(bytes, len);
        std::replace(buffer.begin(), buffer.end(), '\0', ' ');
        text = buffer;
    }

    bool has_number() const {
        if (!read_) {
            read_ = true;
            has_number_ = read_value(text, number_column_, number_);
        }
        return has_number_;
    }
    double number() const { return has_number(), number_; }

    std::string_view text;

private:
    bool number_column_;
    mutable bool read_ = false;
    mutable bool has_number_ = false;
    mutable double number_ = 0;
};

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    s = trim_right(s);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

int sign_of(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Bytes of a and b over the longer of the two, the shorter blank-padded.
int compare_padded(std::string_view a, std::string_view b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool contains(std::string_view hay, std::string_view needle) {
    return hay.find(needle) != std::string_view::npos;
}

bool outcome_matches(DecodeOperator op, int cmp) {
    switch (op) {
    case DecodeOperator::equal: return cmp == 0;
    case DecodeOperator::greater: return cmp > 0;
    case DecodeOperator::less: return cmp < 0;
    case DecodeOperator::greater_equal: return cmp >= 0;
    case DecodeOperator::less_equal: return cmp <= 0;
    case DecodeOperator::not_equal: return cmp != 0;
    case DecodeOperator::search: return cmp == 0;
    case DecodeOperator::in: return cmp == 0;
    case DecodeOperator::and_mask: return cmp != 0;
    default: return false;
    }
}

// One test (an operation or an and-part) as the evaluation sees it.
struct Test {
    DecodeOperator op;
    OperandType type;
    double num;
    const std::string& field;
    int16_t ll;
    const ColumnRef& ref;
    uint32_t mask;
    const InList* list;
    const std::string& column_name;
};

enum class Verdict { no, yes, skip };  // skip: no decode for this column

// Where a test reads: the row being built (its cursor and text) and the
// cursor whose clause the test is.
struct Reading {
    const columns& col;
    const char* row_text;
    const curs& row_cursor;
    const curs& owner;
};

bool mask_holds(double value, uint32_t mask) {
    if (!std::isfinite(value)) return false;
    return (integer_part(value) & static_cast<int64_t>(mask)) != 0;
}

int in_list_outcome(const Reading& at, const Value& v, const InList* list) {
    if (!list) return 1;
    std::string key;
    if (is_number(at.col)) {
        const std::string_view digits = trim(v.text);
        key = " " + std::string(digits.empty() ? std::string_view("0") : digits) + " ";
    } else {
        key = "'" + std::string(trim_right(v.text)) + "'";
    }
    return contains(list->text, key) ? 0 : 1;
}

Verdict column_test(const Test& t, const Reading& at, const Value& v) {
    if (!t.ref) return Verdict::no;
    const curs& src = *t.ref.cursor;
    const columns& sc = src.cols[static_cast<size_t>(t.ref.column)];
    // The owner's age_to target holds nothing of the owner's until the
    // first copy is made.
    if (&src != &at.row_cursor && at.owner.copy_pending && !at.owner.age_to.empty() &&
        src.cur_name == at.owner.age_to) {
        if (at.owner.traced) PRINT('t', "cde4360", "Skipping decode - refers to age_to cursor\n");
        return Verdict::skip;
    }
    std::string other;
    if (&src == &at.row_cursor) {
        other.assign(at.row_text + sc.buf_offset, static_cast<size_t>(std::max(sc.length, 0)));
    } else {
        const row_data* row = locate_base_row(src, at.owner);
        if (!row) {
            PRINT('w', "cde4365", "Decode, referenced cursor %s has no rows - skipping decode\n", src.cur_name.c_str());
            return Verdict::skip;
        }
        const size_t off = static_cast<size_t>(std::max(sc.buf_offset, 0));
        const size_t len = static_cast<size_t>(std::max(sc.length, 0));
        const size_t have = off < row->size ? std::min(len, row->size - off) : 0;
        other.assign(row->text() + off, have);
        other.resize(len, ' ');
    }
    std::replace(other.begin(), other.end(), '\0', ' ');
    if (at.owner.traced)
        PRINT('t', "cde4370", "For decode, right column %s has value %s\n", t.column_name.c_str(), other.c_str());
    int cmp;
    if (is_number(at.col)) {
        if (t.op == DecodeOperator::search) {
            cmp = contains(v.text, trim(other)) ? 0 : 1;
        } else {
            double o = 0;
            read_value(other, true, o);
            if (t.op == DecodeOperator::and_mask) return mask_holds(v.number(), static_cast<uint32_t>(integer_part(o))) ? Verdict::yes : Verdict::no;
            cmp = sign_of(v.number() - o);
        }
    } else if (t.op == DecodeOperator::search) {
        cmp = contains(v.text, trim_right(other)) ? 0 : 1;
    } else {
        cmp = compare_padded(v.text, other);
    }
    return outcome_matches(t.op, cmp) ? Verdict::yes : Verdict::no;
}

Verdict run_test(const Test& t, const Reading& at, const Value& v) {
    int cmp = 1;
    switch (t.type) {
    case OperandType::number:
        if (!v.has_number()) return Verdict::no;
        if (t.op == DecodeOperator::and_mask) return mask_holds(v.number(), t.mask) ? Verdict::yes : Verdict::no;
        cmp = sign_of(v.number() - t.num);
        break;
    case OperandType::string: {
        if (t.op == DecodeOperator::search) {
            cmp = contains(v.text, trim_right(t.field)) ? 0 : 1;
        } else {
            // The constant over the value's width, blank-padded.
            const size_t n = std::min(t.field.size(), v.text.size());
            cmp = std::memcmp(v.text.data(), t.field.data(), n);
            for (size_t i = n; cmp == 0 && i < v.text.size(); ++i)
                cmp = static_cast<unsigned char>(v.text[i]) - static_cast<unsigned char>(' ');
        }
        break;
    }
    case OperandType::column: return column_test(t, at, v);
    case OperandType::in_list: cmp = in_list_outcome(at, v, t.list); break;
    default: return Verdict::no;
    }
    return outcome_matches(t.op, cmp) ? Verdict::yes : Verdict::no;
}

Test test_of(const DecodeOp& op) {
    return Test{op.operatr, op.operand_type, op.op_num, op.operand,       op.operand_ll,
                op.ref,     op.and_mask,     op.in_list, op.operand_column};
}

Test test_of(const DecodeAndPart& p) {
    return Test{p.operatr, p.operand_type, p.op_num, p.operand, p.operand_ll, p.ref, p.and_mask, nullptr, p.operand_column};
}

// The operation that holds (else DEFAULT, else null); skip set when a
// missing source stops the column's decodes.
const DecodeOp* evaluate(const Reading& at, const char* value, int indicator, DecodeAnchor& anchor) {
    prepare(anchor, at.col, at.owner);
    const bool traced = at.owner.traced != 0;
    if (traced) PRINT('t', "cde4345", "Decoding for column %s(%d,%d)\n", at.col.name.c_str(), at.col.buf_offset, at.col.length);
    if (indicator < 0) {
        for (const DecodeOp& op : anchor.ops) {
            if (op.operatr != DecodeOperator::null) continue;
            if (traced) PRINT('t', "cde4350", "Replacing %s with NULL option\n", at.col.name.c_str());
            return &op;
        }
    }
    thread_local std::string buffer;
    const Value v(at.col, value, buffer);
    const DecodeOp* fallback = nullptr;
    int loop = 0;
    for (const DecodeOp& op : anchor.ops) {
        if (traced) PRINT('t', "cde4355", " Decode loop:%d\n", ++loop);
        if (op.operatr == DecodeOperator::otherwise) {
            if (!fallback) fallback = &op;
            continue;
        }
        if (op.operatr == DecodeOperator::null) continue;
        Verdict verdict = run_test(test_of(op), at, v);
        for (size_t i = 0; verdict == Verdict::yes && i < op.and_parts.size(); ++i)
            verdict = run_test(test_of(op.and_parts[i]), at, v);
        if (verdict == Verdict::skip) return nullptr;
        if (verdict == Verdict::yes) return &op;
    }
    return fallback;
}

} // namespace

const DecodeOp* eval_decode(const columns& column, const char* value, const char* row_text, int indicator,
                            curs& cursor, DecodeAnchor& ops) {
    return evaluate(Reading{column, row_text, cursor, cursor}, value, indicator, ops);
}

bool decode_test_holds(curs& owner, curs& value_cursor, DecodeAnchor& test, const row_data& row) {
    if (test.column < 0 || static_cast<size_t>(test.column) >= value_cursor.cols.size()) return false;
    const columns& col = value_cursor.cols[static_cast<size_t>(test.column)];
    if (static_cast<size_t>(std::max(col.buf_offset, 0) + std::max(col.length, 0)) > row.size) return false;
    return evaluate(Reading{col, row.text(), value_cursor, owner}, row.text() + col.buf_offset, 0, test) != nullptr;
}

} // namespace qvx
