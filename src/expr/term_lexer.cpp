// The term machine's routines: names, cursor-qualified columns, function
// calls, numbers and strings. Each leaves the position on the term's last
// character.
#include <cstring>
#include <string>
#include <string_view>

#include "expr/lexer.h"
#include "expr/term_table.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

bool name_char(int cls) { return cls == 3 || cls == 4 || cls == 13; }

std::string_view span(const char* text, size_t from, size_t to) { return {text + from, to - from}; }

bool append_term(LexRun& run, Term* term, const char* too_long_id) {
    return term && append_lexeme(run, {nullptr, term}, too_long_id);
}

// The name term that waits for its "(" or "."; null after LEX0195.
Term* take_waiting_term() {
    Term* t = get_current_term();
    if (!t) PRINT('e', "LEX0195", "Lexer error\n");
    set_current_term(nullptr);
    return t;
}

} // namespace

int init_term_rtn(LexRun& run) { return init_expr_rtn(run); }

int name_rtn(LexRun& run) {
    const size_t start = run.pos;
    size_t i = run.pos + 1;
    size_t blank = 0;  // the first blank after the name, once met
    for (;; ++i) {
        const int cls = char_class(run.text[i]);
        if (name_char(cls)) {
            if (blank) break;  // the name ended at the blank
            continue;
        }
        if (cls == 7) {
            if (!blank) blank = i;
            continue;
        }
        if (cls == 1 || cls == 12) {
            // A function name or a cursor qualifier: the name and the
            // character after it wait for the next state.
            const size_t end = blank ? blank : i;
            Term* t = name_term(span(run.text, start, end + 1));
            if (!t) return -1;
            set_current_term(t);
            run.pos = i - 1;
            return 0;
        }
        if (cls == 0) {
            PRINT('e', "LEX0150", "Unknown character type in expression\n");
            return -1;
        }
        break;
    }
    if (!append_term(run, name_term(span(run.text, start, blank ? blank : i)), "LEX0160")) return -1;
    run.pos = i - 1;
    return 0;
}

int qualif_name_rtn(LexRun& run) {
    Term* t = take_waiting_term();
    if (!t) return -1;
    const std::string full(t->text());
    const std::string cursor = full.substr(0, full.size() - 1);
    if (cursor.size() > kMaxCursorLen) {
        PRINT('e', "LEX0180", "Cursor name %s is longer than MAX_CURSOR_LEN\n", full.c_str());
        return -1;
    }
    size_t i = run.pos + 1;
    while (char_class(run.text[i]) == 7) ++i;
    const size_t from = i;
    int cls = 0;
    while (name_char(cls = char_class(run.text[i])) || cls == 12) ++i;
    if (cls == 0) {
        PRINT('e', "LEX0190", "Unknown character type in expression\n");
        return -1;
    }
    if (i == from) {  // a qualifier without a column name
        PRINT('e', "LEX0130", "Syntax error: invalid character sequence in expression\n");
        return -1;
    }
    forget_shared(t);  // the name waiting for its "." becomes a column
    std::memcpy(t->cursor_name, cursor.c_str(), cursor.size() + 1);
    t->entry_type = kColumnTerm;
    t->set_text(span(run.text, from, i));
    if (Term* older = find_column_term(t->cursor_name, t->text(), t)) {
        unchain_and_free_term(t);
        t = older;
    }
    if (!append_term(run, t, "LEX0200")) return -1;
    run.pos = i - 1;
    return 0;
}

int function_rtn(LexRun& run) {
    Term* t = take_waiting_term();
    if (!t) return -1;
    const std::string full(t->text());
    const Operation* function = find_function(std::string_view(full).substr(0, full.size() - 1));
    unchain_and_free_term(t);
    if (!function) {
        PRINT('e', "LEX0260", "Unknown function %s in expression\n", full.c_str());
        return -1;
    }
    if (!append_lexeme(run, {function, nullptr}, "LEX0270")) return -1;
    int arg_count = 0;
    LexContext ctx{&SubExprStateTable, run.text, &run.pos, &arg_count};
    std::optional<LexemeList> args = lexer(ctx, express_switch_mx);
    if (!args) {
        PRINT('e', "LEX0300", "function argument expression syntax error\n");
        return -1;
    }
    run.count += arg_count;
    if (run.count > kMaxLexemes) {
        PRINT('e', "LEX0310", "Expression is too long\n");
        return -1;
    }
    run.out.insert(run.out.end(), args->begin(), args->end());
    --run.pos;  // on the ")"
    return 0;
}

int number_rtn(LexRun& run) {
    size_t i = run.pos;
    bool decimal = false;
    for (;; ++i) {
        const int cls = char_class(run.text[i]);
        if (cls == 4) continue;
        if (cls == 12) {
            if (decimal) {
                PRINT('e', "LEX0345", "Extra period in decimal number\n");
                return -1;
            }
            decimal = true;
            continue;
        }
        if (cls == 0) {
            PRINT('e', "LEX0340", "Unknown character type in expression\n");
            return -1;
        }
        break;
    }
    const std::string_view number = span(run.text, run.pos, i);
    if (number == ".") {
        PRINT('e', "LEX0350", "Syntax error, a number expected\n");
        return -1;
    }
    if (!append_term(run, number_term(number, decimal ? kDecimal : kInteger), "LEX0360")) return -1;
    run.pos = i - 1;
    return 0;
}

int string_rtn(LexRun& run) {
    const char quote = run.text[run.pos];
    size_t i = run.pos + 1;
    for (; run.text[i] != quote; ++i) {
        const int cls = char_class(run.text[i]);
        if (cls == 9) {
            PRINT('e', "LEX0410", "Expression end encountered before string end\n");
            return -1;
        }
        if (cls == 0) {
            PRINT('e', "LEX0380", "Unknown character type in expression\n");
            return -1;
        }
    }
    std::string_view text = span(run.text, run.pos + 1, i);
    if (text.empty()) {
        PRINT('w', "LEX0390", "Empty string, a blank assumed\n");
        text = " ";
    }
    if (!append_term(run, string_term(text), "LEX0400")) return -1;
    run.pos = i;
    return 0;
}

int end_term_rtn(LexRun& run) {
    if (run.depth != 0) {
        PRINT('e', "LEX0500", "Unbalanced parentheses in expression\n");
        return -1;
    }
    --run.pos;
    return 1;
}

} // namespace qvx
