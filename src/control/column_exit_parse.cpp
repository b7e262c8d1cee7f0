// Reading column_exit and set_len clauses:
//
//   column_exit NAME R_JUSTIFY;
//   column_exit QUERY SUBSTR ( 1 , 40 );
//   column_exit WHO CONCAT DBNAME;
//   set_len QUERY 200;
//
// A column exit is the column, the routine and the routine's arguments;
// a second exit on a column joins the end of that column's chain. A
// set_len is a select-list item name and a fetch length.
#include <string>
#include <string_view>

#include "control/column_exit_clause.h"
#include "control/parse_support.h"
#include "control/tokenizer.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kNameField = 50;     // column and item names are shorter than this
constexpr size_t kRoutineField = 20;  // routine names are shorter than this

constexpr ExitRoutineName kRoutineNames[] = {
    {"R_JUSTIFY", "r_justify", ExitKind::plain, ExitRoutine::r_justify},
    {"L_JUSTIFY", "l_justify", ExitKind::plain, ExitRoutine::l_justify},
    {"MINUTES", "minutes", ExitKind::plain, ExitRoutine::minutes},
    {"SUBSTR", "substr", ExitKind::substr, ExitRoutine::substr},
    {"CONCAT", "concat", ExitKind::concat, ExitRoutine::concat},
    {"MINUTES2", "minutes2", ExitKind::plain, ExitRoutine::minutes2},
    {"TIMESTAMP", "timestamp", ExitKind::plain, ExitRoutine::timestamp},
};

// The words of one clause, one after the other, as the scanner reads them.
class ClauseWords {
public:
    explicit ClauseWords(const std::string& text) : tok_(text), end_(static_cast<int>(text.size())) {}

    // The next word; false when none is left or the rest does not scan.
    bool next(std::string_view& out, uint16_t& num_flags) {
        if (tok_.get_word(pos_, end_) <= 0) return false;
        out = tok_.word.view();
        num_flags = tok_.word.num_flags;
        pos_ = tok_.next_pos();
        return true;
    }
    bool next(std::string_view& out) {
        uint16_t ignored = 0;
        return next(out, ignored);
    }

private:
    Tokenizer tok_;
    int pos_ = 0;
    int end_;
};

// The message ids of one SUBSTR operand.
struct OperandIds {
    const char* missing;
    const char* missing_text;
    const char* not_numeric;
    const char* excessive;
    const char* below_one;
};

constexpr OperandIds kStartIds{"pcl4125", "Missing numeric operand\n", "pcl4130", "pcl4135", "pcl4137"};
constexpr OperandIds kLengthIds{"pcl4150", "Missing second numeric operand\n", "pcl4155", "pcl4160", "pcl4165"};

// One SUBSTR operand: a whole number from 1 to the longest fetch length.
bool read_operand(ClauseWords& words, const OperandIds& ids, int16_t& out) {
    std::string_view w;
    uint16_t num = 0;
    if (!words.next(w, num)) {
        PRINT('e', ids.missing, "%s", ids.missing_text);
        return false;
    }
    if (!(num & NF_NUMERIC) || !all_digits(w)) {
        PRINT('e', ids.not_numeric, "Found non-numeric where number required\n");
        return false;
    }
    const long v = digits_value(w);
    if (v > kMaxSetLen) {
        PRINT('e', ids.excessive, "Numeric is excessive %d > %d\n", static_cast<int>(v), static_cast<int>(kMaxSetLen));
        return false;
    }
    if (v < 1) {
        PRINT('e', ids.below_one, "Numeric is less than 1 %d\n", static_cast<int>(v));
        return false;
    }
    out = static_cast<int16_t>(v);
    return true;
}

// "( start , length )" after SUBSTR.
bool read_substr(ClauseWords& words, ColumnExit& exit) {
    std::string_view w;
    if (!words.next(w) || w != "(") {
        PRINT('e', "pcl4120", "Missing parenthesis\n");
        return false;
    }
    if (!read_operand(words, kStartIds, exit.start)) return false;
    if (!words.next(w)) {
        PRINT('e', "pcl4140", "Missing required comma\n");
        return false;
    }
    if (w != ",") {
        PRINT('e', "pcl4145", "Missing required comma\n");
        return false;
    }
    if (!read_operand(words, kLengthIds, exit.sub_len)) return false;
    if (exit.start + exit.sub_len > kMaxSetLen)
        PRINT('w', "pcl4170", "Numeric sum excessive %d\n", exit.start + exit.sub_len);
    if (!words.next(w) || w != ")") {
        PRINT('e', "pcl4175", "Missing ending parenthesis\n");
        return false;
    }
    return true;
}

// The clause into its column's name and one exit; false after an error
// (reported).
bool parse_clause(const std::string& text, std::string& col_name, ColumnExit& exit) {
    ClauseWords words(text);
    std::string_view w;
    if (!words.next(w)) {
        PRINT('e', "pde4085", "Bad decode syntax : %s\n", text.c_str());
        return false;
    }
    if (w.size() >= kNameField) {
        PRINT('e', "pcc4090", "Column name too long (%d) in %s\n", static_cast<int>(w.size()), text.c_str());
        return false;
    }
    col_name.assign(w);
    if (!words.next(w)) {
        PRINT('e', "pde4095", "Bad decode syntax : %s\n", text.c_str());
        return false;
    }
    if (w.size() >= kRoutineField) {
        PRINT('e', "pcf4100", "Function name too long (%d) in %s\n", static_cast<int>(w.size()), text.c_str());
        return false;
    }
    const ExitRoutineName* routine = find_exit_routine(w);
    if (!routine) {
        PRINT('e', "pcf4105", "Column exit routine name not known\n");
        return false;
    }
    exit.routine = routine->routine;
    switch (routine->kind) {
    case ExitKind::plain: return true;
    case ExitKind::substr: return read_substr(words, exit);
    case ExitKind::concat:
        if (!words.next(w)) {
            PRINT('e', "pcl4110", "Missing column name in concat\n");
            return false;
        }
        if (w.size() >= kNameField) {
            const std::string name(w);
            PRINT('e', "ccl4115", "Excessive length on %s\n", name.c_str());
            return false;
        }
        exit.concat_name.assign(w);
        return true;
    }
    PRINT('e', "pcl4180", "Improper type in exit definition - %d\n", static_cast<int>(routine->kind));
    return false;
}

// The blank-separated word of text that begins at or after from; empty
// when none is left. from moves past it.
std::string_view next_blank_word(std::string_view text, size_t& from) {
    const size_t a = text.find_first_not_of(' ', from);
    if (a == std::string_view::npos) {
        from = text.size();
        return {};
    }
    const size_t e = std::min(text.find(' ', a), text.size());
    from = e;
    return text.substr(a, e - a);
}

} // namespace

std::span<const ExitRoutineName> exit_routine_names() { return kRoutineNames; }

const ExitRoutineName* find_exit_routine(std::string_view name) {
    for (const ExitRoutineName& r : kRoutineNames)
        if (name == r.name || name == r.lower) return &r;
    return nullptr;
}

int parse_col_ex(curs& cursor, std::string_view text) {
    const std::string clause(text);
    std::string col_name;
    ColumnExit exit;
    if (!parse_clause(clause, col_name, exit)) return 1;
    ColumnExitClauses& list = cursor.column_exit.ensure();
    for (ColumnExitChain& chain : list.chains) {
        if (chain.col_name == col_name) {
            chain.exits.push_back(std::move(exit));
            return 0;
        }
    }
    ColumnExitChain chain;
    chain.col_name = std::move(col_name);
    chain.exits.push_back(std::move(exit));
    list.chains.push_back(std::move(chain));
    return 0;
}

int parse_set_len(curs& cursor, std::string_view text) {
    const std::string clause(text);
    size_t at = 0;
    const std::string_view name_word = next_blank_word(text, at);
    if (name_word.empty()) {
        PRINT('e', "pcl4540", "Invalid set_len syntax\n");
        return 1;
    }
    if (name_word.size() >= kNameField) {
        PRINT('e', "pcl4545", "Excessive text in set_len : %s\n", clause.c_str());
        return 1;
    }
    const std::string name(name_word);
    if (name.find('.') != std::string::npos) {
        PRINT('e', "pcl4550", "Can't use qualified name in set_len (%s)\n", name.c_str());
        return 1;
    }
    const std::string_view number = next_blank_word(text, at);
    if (!all_digits(number)) {
        PRINT('e', "pcl4555", "Missing numeric length value in set_len (%s)\n", name.c_str());
        return 1;
    }
    const long len = digits_value(number);
    if (len > kMaxSetLen) {
        PRINT('e', "pcl4565", "Cannot set length greator than %d in %s\n", static_cast<int>(kMaxSetLen), name.c_str());
        return 1;
    }
    cursor.set_len.ensure().entries.push_back(SetLenEntry{name, static_cast<int16_t>(len), -1});
    return 0;
}

} // namespace qvx
