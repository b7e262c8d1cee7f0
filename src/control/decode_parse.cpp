// Reading decode clauses:
//
//   decode STATUS = 'OPEN' , 'O';
//   decode CNT > 100 and <= 500 , 'HIGH';
//   decode FLAGS & 4 , 1;
//   decode X NULL 'N/A';
//   decode X DEFAULT 0;
//   decode STATE = 3 run OTHER;
//   decode ZIP in ADDR.ZIPS , 'LOCAL';
//
// The column, an operator, an operand (number, quoted string, column or,
// after "in", an in-list name), any number of "and" parts, then either a
// comma and the replacement or "run" and a cursor. NULL and DEFAULT take
// the replacement at once. Numbers are kept right-aligned and strings
// left-aligned in blank fields of 256 bytes, narrowed to the column's
// width when the decode is first evaluated.
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/decode_clause.h"
#include "control/tokenizer.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kField = 256;      // operand and replacement fields
constexpr size_t kNameField = 50;   // column names are shorter than this

struct OperatorWord {
    std::string_view word;
    DecodeOperator op;
};

constexpr OperatorWord kOperators[] = {
    {"=", DecodeOperator::equal},          {">", DecodeOperator::greater},
    {"<", DecodeOperator::less},           {"NULL", DecodeOperator::null},
    {"null", DecodeOperator::null},        {"DEFAULT", DecodeOperator::otherwise},
    {"default", DecodeOperator::otherwise}, {">=", DecodeOperator::greater_equal},
    {"<=", DecodeOperator::less_equal},    {"~=", DecodeOperator::not_equal},
    {"search", DecodeOperator::search},    {"SEARCH", DecodeOperator::search},
    {"in", DecodeOperator::in},            {"IN", DecodeOperator::in},
    {"&", DecodeOperator::and_mask},
};

DecodeOperator operator_of(std::string_view word) {
    for (const OperatorWord& o : kOperators)
        if (o.word == word) return o.op;
    return DecodeOperator::none;
}

bool allowed_in_and(DecodeOperator op) {
    switch (op) {
    case DecodeOperator::equal: case DecodeOperator::greater: case DecodeOperator::less:
    case DecodeOperator::greater_equal: case DecodeOperator::less_equal: case DecodeOperator::not_equal:
    case DecodeOperator::search: case DecodeOperator::and_mask:
        return true;
    default:
        return false;
    }
}

// The id of an unknown operator, by its length.
const char* bad_operator_id(size_t length) {
    switch (length) {
    case 1: return "pde3750";
    case 2: return "pde3755";
    case 4: return "pde3760";
    case 6: return "pde3765";
    case 7: return "pde3770";
    default: return "pde3775";
    }
}

std::string right_aligned(std::string_view text) {
    if (text.size() >= kField) return std::string(text);
    std::string field(kField - text.size(), ' ');
    field += text;
    return field;
}

std::string left_aligned(std::string_view text) {
    std::string field(text);
    if (field.size() < kField) field.resize(kField, ' ');
    return field;
}

// One word of the clause as the scanner reads it.
struct Token {
    std::string_view text;
    uint16_t flags = 0;
    uint16_t num_flags = 0;
    bool numeric() const { return (num_flags & NF_NUMERIC) != 0; }
    bool quoted() const {
        return !numeric() && text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
               text.back() == text.front();
    }
    bool comma() const { return (flags & WF_COMMA) != 0; }
};

// Reads the words of one clause, one after the other.
class ClauseWords {
public:
    explicit ClauseWords(const std::string& text, int start = 0) : tok_(text), pos_(start), end_(static_cast<int>(text.size())) {}

    // The next word; false when none is left or the text is not scannable.
    bool next(Token& out) {
        const int n = tok_.get_word(pos_, end_);
        if (n <= 0) return false;
        out = Token{tok_.word.view(), tok_.word.flags, tok_.word.num_flags};
        pos_ = tok_.next_pos();
        return true;
    }
    int pos() const { return pos_; }
    void seek(int pos) { pos_ = pos; }

private:
    Tokenizer tok_;
    int pos_;
    int end_;
};

// The operand of a test, as the parser found it.
struct Operand {
    OperandType type = OperandType::none;
    double num = 0;
    int16_t ll = 0;
    std::string field;
    std::string column;
};

// What went wrong with an operand; kNone when it was read.
enum class OperandError { none, missing, mask_not_numeric, name_too_long };

OperandError read_operand(const Token& w, DecodeOperator op, Operand& out) {
    if (w.comma()) return OperandError::missing;
    if (op == DecodeOperator::and_mask && !w.numeric()) return OperandError::mask_not_numeric;
    if (w.numeric() && op != DecodeOperator::in) {
        out.type = OperandType::number;
        out.num = std::strtod(std::string(w.text).c_str(), nullptr);
        out.ll = static_cast<int16_t>(w.text.size());
        out.field = right_aligned(w.text);
        return OperandError::none;
    }
    if (w.quoted() && op != DecodeOperator::in) {
        const std::string_view inner = w.text.substr(1, w.text.size() - 2);
        out.type = OperandType::string;
        out.ll = static_cast<int16_t>(inner.size());
        out.field = left_aligned(inner);
        return OperandError::none;
    }
    if (w.text.size() >= kNameField) return OperandError::name_too_long;
    out.type = op == DecodeOperator::in ? OperandType::in_list : OperandType::column;
    out.column.assign(w.text);
    out.ll = static_cast<int16_t>(w.text.size());
    out.field = left_aligned("");
    return OperandError::none;
}

// A replacement word: number, quoted string or column. False when the
// column name is too long (reported).
bool read_replacement(const Token& w, DecodeOp& op, const std::string& text) {
    if (w.numeric()) {
        op.replacement_type = ReplacementType::number;
        op.replacement_ll = static_cast<int16_t>(w.text.size());
        op.replacement = right_aligned(w.text);
        return true;
    }
    if (w.quoted()) {
        const std::string_view inner = w.text.substr(1, w.text.size() - 2);
        op.replacement_type = ReplacementType::string;
        op.replacement_ll = static_cast<int16_t>(inner.size());
        op.replacement = left_aligned(inner);
        return true;
    }
    if (w.text.size() >= kNameField) {
        PRINT('e', "pde3805", "Replacement Column name length excessive in %s\n", text.c_str());
        return false;
    }
    op.replacement_type = ReplacementType::column;
    op.replacement_column.assign(w.text);
    op.replacement_ll = static_cast<int16_t>(w.text.size());
    op.replacement = left_aligned("");
    return true;
}

void trace_op(const DecodeOp& op) {
    PRINT('t', "pde3810", "Decode_op->operatr = %d\n", static_cast<int>(op.operatr));
    PRINT('t', "pde3815", "Decode_op->operand_type = %d\n", static_cast<int>(op.operand_type));
    PRINT('t', "pde3820", "Decode_op->op_num = %f\n", op.op_num);
    PRINT('t', "pde3825", "Decode_op->operand_ll = %d\n", op.operand_ll);
    if (op.operand_type == OperandType::number || op.operand_type == OperandType::string)
        PRINT('t', "pde3830", "Decode_op->operator = %s\n", op.operand.c_str());
    else
        PRINT('t', "pde3835", "No operand\n");
    PRINT('t', "pde3840", "Decode_op->operand_column = %s\n", op.operand_column.c_str());
    PRINT('t', "pde3845", "Decode_op->replacement_type = %d\n", static_cast<int>(op.replacement_type));
    PRINT('t', "pde3850", "Decode_op->replacement_ll = %d\n", op.replacement_ll);
    if (op.replacement_type == ReplacementType::number || op.replacement_type == ReplacementType::string)
        PRINT('t', "pde3855", "Decode_op->replacement = %s\n", op.replacement.c_str());
    else
        PRINT('t', "pde3860", "No replacement\n");
    PRINT('t', "pde3865", "Decode_op->replacement_column = %s\n", op.replacement_column.c_str());
    if (!op.and_parts.empty())
        PRINT('t', "pde3870", "Has and text\n");
    else
        PRINT('t', "pde3870", "Has no and text\n");
    PRINT('t', "pde3875", "Decode_op->curslist = %d\n", op.run_cursor ? 1 : 0);
}

void set_operand(DecodeOp& op, Operand&& o) {
    op.operand_type = o.type;
    op.op_num = o.num;
    op.operand_ll = o.ll;
    op.operand = std::move(o.field);
    op.operand_column = std::move(o.column);
    if (op.operatr == DecodeOperator::and_mask) op.and_mask = static_cast<uint32_t>(static_cast<int64_t>(o.num));
}

// What follows the operand: and-parts, then ", replacement" or "run cursor".
bool read_tail(const std::string& text, ClauseWords& words, DecodeOp& op) {
    Token w;
    for (;;) {
        if (!words.next(w)) {
            PRINT('e', "pde3795", "Bad decode syntax : %s\n", text.c_str());
            return false;
        }
        if (w.text != "and" && w.text != "AND") break;
        const int after = parse_and(op.and_parts, text, words.pos());
        if (after == 0) return false;
        words.seek(after);
    }
    const bool run = w.text == "run" || w.text == "RUN";
    if (!w.comma() && !run) {
        PRINT('e', "pde3795", "Bad decode syntax : %s\n", text.c_str());
        return false;
    }
    if (!words.next(w) || w.comma()) {
        PRINT('e', "pde3800", "Bad decode syntax : %s\n", text.c_str());
        return false;
    }
    if (!run) return read_replacement(w, op, text);
    op.replacement_type = ReplacementType::run;
    op.replacement_column.assign(w.text);
    op.replacement_ll = static_cast<int16_t>(w.text.size());
    op.replacement = left_aligned("");
    return true;
}

// One clause into its column's name and one operation; false after an
// error (reported).
bool parse_clause(const std::string& text, std::string& col_name, DecodeOp& op) {
    ClauseWords words(text);
    Token w;
    if (!words.next(w) || w.comma()) {
        PRINT('e', "pde3740", "Bad decode syntax : %s\n", text.c_str());
        return false;
    }
    if (w.text.size() >= kNameField) {
        PRINT('e', "pde3745", "Column name too long (%d) in %s\n", static_cast<int>(w.text.size()), text.c_str());
        return false;
    }
    col_name.assign(w.text);
    const bool has_operator = words.next(w);
    if (!has_operator || (op.operatr = operator_of(w.text)) == DecodeOperator::none) {
        PRINT('e', bad_operator_id(has_operator ? w.text.size() : 0), "Invalid decode operator in %s\n", text.c_str());
        return false;
    }
    if (!words.next(w)) {
        PRINT('e', "pde3780", "Invalid text after operator in %s\n", text.c_str());
        return false;
    }
    if (op.operatr == DecodeOperator::null || op.operatr == DecodeOperator::otherwise) {
        // A comma before the replacement is allowed here too.
        if (w.comma() && !words.next(w)) {
            PRINT('e', "pde3780", "Invalid text after operator in %s\n", text.c_str());
            return false;
        }
        op.operand = left_aligned("");
        return read_replacement(w, op, text);
    }
    Operand o;
    switch (read_operand(w, op.operatr, o)) {
    case OperandError::none: break;
    case OperandError::missing:
        PRINT('e', "pde3780", "Invalid text after operator in %s\n", text.c_str());
        return false;
    case OperandError::mask_not_numeric:
        PRINT('e', "pde3785", "And operator (&) requires numeric constant\n");
        return false;
    case OperandError::name_too_long:
        PRINT('e', "pde3790", "Column name length excessive in %s\n", text.c_str());
        return false;
    }
    set_operand(op, std::move(o));
    return read_tail(text, words, op);
}

} // namespace

int parse_and(std::vector<DecodeAndPart>& parts, const std::string& text, int start) {
    ClauseWords words(text, start);
    Token w;
    DecodeAndPart part;
    if (!words.next(w) || !allowed_in_and(part.operatr = operator_of(w.text))) {
        PRINT('e', "pde3915", "Invalid 'and' operator in %s\n", text.c_str());
        return 0;
    }
    if (!words.next(w)) {
        PRINT('e', "pde3920", "Invalid text after 'and' operator in %s\n", text.c_str());
        return 0;
    }
    Operand o;
    switch (read_operand(w, part.operatr, o)) {
    case OperandError::none: break;
    case OperandError::missing:
        PRINT('e', "pde3920", "Invalid text after 'and' operator in %s\n", text.c_str());
        return 0;
    case OperandError::mask_not_numeric:
        PRINT('e', "pde3925", "And operator (&) requires numeric constant\n");
        return 0;
    case OperandError::name_too_long:
        PRINT('e', "pde3930", "'And' column name length excessive in %s\n", text.c_str());
        return 0;
    }
    part.operand_type = o.type;
    part.op_num = o.num;
    part.operand_ll = o.ll;
    part.operand = std::move(o.field);
    part.operand_column = std::move(o.column);
    if (part.operatr == DecodeOperator::and_mask)
        part.and_mask = static_cast<uint32_t>(static_cast<int64_t>(part.op_num));
    parts.push_back(std::move(part));
    return words.pos();
}

int parse_decode(curs& cursor, std::string_view text) {
    const std::string clause(text);
    std::string col_name;
    DecodeOp op;
    if (!parse_clause(clause, col_name, op)) return 1;
    if (cursor.traced) trace_op(op);
    DecodeClauses& list = cursor.decode.ensure();
    for (DecodeAnchor& anchor : list.anchors) {
        if (anchor.col_name == col_name) {
            anchor.ops.push_back(std::move(op));
            return 0;
        }
    }
    DecodeAnchor anchor;
    anchor.col_name = std::move(col_name);
    anchor.ops.push_back(std::move(op));
    list.anchors.push_back(std::move(anchor));
    return 0;
}

int parse_decode_test(curs& cursor, std::string_view text, DecodeAnchor& test) {
    std::string clause(text);
    clause += " , ' '";
    std::string col_name;
    DecodeOp op;
    if (!parse_clause(clause, col_name, op)) return 1;
    if (cursor.traced) trace_op(op);
    test = DecodeAnchor{};
    test.col_name = std::move(col_name);
    test.ops.push_back(std::move(op));
    return 0;
}

} // namespace qvx
