// Reading the evaluation file into evaluation records on their cursors.
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "control/evaluation.h"
#include "control/keyword_case.h"
#include "control/reader.h"
#include "control/tokenizer.h"
#include "model/cursor_list.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kMaxEvalName = 35;
constexpr size_t kMaxCursorName = 8;
constexpr size_t kMaxColumnName = 32;

int accepted = 0;  // evaluations accepted, the last ordinal given

struct KeywordCode {
    std::string_view word;
    int code;
};
constexpr std::array kKeywords{
    KeywordCode{"eval", EK_EVAL},     KeywordCode{"value", EK_VALUE},
    KeywordCode{"cursor", EK_CURSOR}, KeywordCode{"column", EK_COLUMN},
    KeywordCode{"operator", EK_OPERATOR}, KeywordCode{"name", EK_NAME},
    KeywordCode{"end", EK_END},
};

// Column-function prefixes of a column word, with their codes.
constexpr std::array kFunctionPrefixes{
    KeywordCode{"AVG!", 3}, KeywordCode{"SUM!", 6},   KeywordCode{"MIN!", 1},
    KeywordCode{"MAX!", 2}, KeywordCode{"WAVG!", 4},  KeywordCode{"TREND!", 5},
    KeywordCode{"HW!", 7},  KeywordCode{"LW!", 8},    KeywordCode{"COUNT!", 9},
};

// The flag of one operator character, or null for another character.
int32_t* operator_flag(e_ptr& e, char c) {
    switch (c) {
    case '<': return &e.less;
    case '=': return &e.equal;
    case '>': return &e.greater;
    default: return nullptr;
    }
}

class EvalParser {
public:
    int run();

private:
    StatementFlow statement(StatementScan& scan);
    StatementFlow open_evaluation(StatementScan& scan, int code);
    bool close_evaluation();
    void apply(int code, std::string_view word, const parse_word& w);
    void set_value(std::string_view word, const parse_word& w);
    void set_cursor(std::string_view word);
    void set_column(std::string_view word);
    void set_operator(std::string_view word);
    void set_name(std::string_view word);
    // A word that cannot be applied fails the file; no later word is applied.
    void fail(const char* id, const char* text) {
        PRINT('e', id, "%s", text);
        failed_ = words_off_ = true;
    }

    std::unique_ptr<e_ptr> open_;
    bool failed_ = false;
    bool words_off_ = false;
    bool first_ = true;
};

int EvalParser::run() {
    const ReadEnd how = read_control_file("eval", {'i', "pev1250"}, failed_,
                                          [this](StatementScan& scan) { return statement(scan); });
    // A file that ends without "end" still closes its last evaluation.
    if (how == ReadEnd::end_of_file && open_ && !close_evaluation()) failed_ = true;
    return failed_ ? 1 : 0;
}

StatementFlow EvalParser::statement(StatementScan& scan) {
    scan.tok.reset();
    const int n = scan.next_word();
    if (n < 0) {
        PRINT('e', "pev1305", "Parsing failed : %s\n", scan.tok.message.c_str());
        failed_ = true;
        return StatementFlow::next;
    }
    if (n == 0) return StatementFlow::next;
    const std::string keyword(scan.tok.word.view());
    const int code = eval_key_word(keyword);
    if (code == EK_NONE) {
        PRINT('e', "pev1260", "Unknown keyword (%s)\n", keyword.c_str());
        failed_ = true;
        return StatementFlow::stop;
    }
    if (first_ && code != EK_EVAL) {
        fail(code == EK_END ? "pev1265" : "pev1270", "First word must be 'eval'\n");
        return StatementFlow::stop;
    }
    first_ = false;
    if (code == EK_EVAL || code == EK_END) return open_evaluation(scan, code);
    for (;;) {
        const int len = scan.next_word();
        if (len == 0) break;
        if (len < 0) {
            PRINT('e', "pev1305", "Parsing failed : %s\n", scan.tok.message.c_str());
            failed_ = words_off_ = true;
            break;
        }
        if (!words_off_ && open_) apply(code, scan.tok.word.view(), scan.tok.word);
    }
    if (scan.tok.parens != 0) {
        fail("pev1375", "Parentheses do not balance\n");
        return StatementFlow::stop;
    }
    return StatementFlow::next;
}

// "eval" and "end": the open evaluation is checked and kept, and "eval"
// opens the next one with the name it gives.
StatementFlow EvalParser::open_evaluation(StatementScan& scan, int code) {
    if (open_ && !close_evaluation()) return StatementFlow::stop;
    if (code == EK_END) return StatementFlow::stop;
    open_ = std::make_unique<e_ptr>();
    const int n = scan.next_word();
    if (n < 0) {
        PRINT('e', "pev1305", "Parsing failed : %s\n", scan.tok.message.c_str());
        failed_ = true;
        return StatementFlow::next;
    }
    if (n == 0) return StatementFlow::next;  // a name statement may follow
    if (static_cast<size_t>(n) > kMaxEvalName) {
        fail("pev1315", "Excessive length on evaluation name\n");
        return StatementFlow::stop;
    }
    open_->name.assign(scan.tok.word.view());
    return StatementFlow::next;
}

// Checks the open evaluation and puts it in front of its cursor's list;
// false when a part is missing (reading stops) or the cursor is unknown.
bool EvalParser::close_evaluation() {
    std::unique_ptr<e_ptr> e = std::move(open_);
    bool missing = false;
    auto need = [&](bool present, const char* id, const char* text) {
        if (present) return;
        PRINT('e', id, "%s", text);
        missing = true;
    };
    need(!e->name.empty(), "pev1275", "No Evaluation name\n");
    need(!e->cursor_name.empty(), "pev1280", "No Cursor name\n");
    need(e->less || e->equal || e->greater, "pev1285", "No Operator\n");
    need(e->value_type != 0, "pev1290", "No Value specified\n");
    need(!e->col_name.empty(), "pev1295", "No Column name\n");
    if (missing) {
        failed_ = true;
        return false;
    }
    curs* c = find_cursor(e->cursor_name);
    if (!c) {
        PRINT('e', "pev1230", "Cursor named %s not found\n", e->cursor_name.c_str());
        failed_ = true;
        return true;
    }
    e->ordinal = ++accepted;
    c->evals.insert(c->evals.begin(), std::move(*e));
    return true;
}

void EvalParser::apply(int code, std::string_view word, const parse_word& w) {
    switch (code) {
    case EK_VALUE: set_value(word, w); break;
    case EK_CURSOR: set_cursor(word); break;
    case EK_COLUMN: set_column(word); break;
    case EK_OPERATOR: set_operator(word); break;
    case EK_NAME: set_name(word); break;
    default: break;
    }
}

void EvalParser::set_value(std::string_view word, const parse_word& w) {
    e_ptr& e = *open_;
    if (w.num_flags & NF_NUMERIC) {
        e.value_type = 1;
        e.value = std::strtod(std::string(word).c_str(), nullptr);
    } else {
        e.value_type = 2;
    }
    if (!word.empty() && (word.front() == '\'' || word.front() == '"'))
        word = word.size() >= 2 ? word.substr(1, word.size() - 2) : std::string_view{};
    e.value_text.assign(word);
    e.value_ll = static_cast<int16_t>(e.value_text.size());
}

void EvalParser::set_cursor(std::string_view word) {
    if (word.size() > kMaxCursorName) return fail("pev1360", "Excessive length on Cursor Name\n");
    if (!open_->cursor_name.empty()) return fail("pev1355", "Duplicate Cursor Name\n");
    open_->cursor_name.assign(word);
}

void EvalParser::set_column(std::string_view word) {
    int funct = 0;
    for (const KeywordCode& p : kFunctionPrefixes) {
        if (keyword_prefix_matches(word, p.word)) {
            funct = p.code;
            word.remove_prefix(p.word.size());
            break;
        }
    }
    if (word.size() > kMaxColumnName) return fail("pev1370", "Column Name too long\n");
    if (!open_->col_name.empty()) {
        PRINT('e', "pev1365", "Duplicate Column Name %s\n", std::string(word).c_str());
        failed_ = words_off_ = true;
        return;
    }
    open_->col_funct = funct;
    open_->col_name.assign(word);
    open_->col_name_ll = static_cast<int16_t>(word.size());
}

void EvalParser::set_operator(std::string_view word) {
    e_ptr& e = *open_;
    if (word.size() == 1) {
        int32_t* flag = operator_flag(e, word[0]);
        if (!flag) return fail("pev1320", "Invalid operator\n");
        *flag = 1;
        return;
    }
    if (word.size() != 2) return fail("pev1335", "Invalid operator\n");
    int32_t* first = operator_flag(e, word[0]);
    if (!first) return fail("pev1325", "Invalid operator\n");
    int32_t* second = operator_flag(e, word[1]);
    if (!second) return fail("pev1330", "Invalid operator\n");
    *first = *second = 1;
}

void EvalParser::set_name(std::string_view word) {
    if (word.size() > kMaxEvalName) return fail("pev1315", "Excessive length on evaluation name\n");
    if (!open_->name.empty()) return fail("pev1310", "Duplicate evaluation name\n");
    open_->name.assign(word);
}

} // namespace

int eval_key_word(const char* word, int length) {
    if (!word || length < 3 || length > 8) return EK_NONE;
    const std::string_view w(word, static_cast<size_t>(length));
    for (const KeywordCode& k : kKeywords)
        if (keyword_matches(w, k.word)) return k.code;
    return EK_NONE;
}

int parse_eval() {
    EvalParser parser;
    return parser.run();
}

int init_eval() {
    if (parse_eval() == 0) return 0;
    quitting(-1001);
    return 1;
}

int eval_count() { return accepted; }

void reset_eval() {
    accepted = 0;
    for (const auto& c : cur_anchor) c->evals.clear();
}

} // namespace qvx
