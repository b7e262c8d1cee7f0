// The driver, the tables and the expression machine's routines.
#include "expr/lexer.h"

#include <new>
#include <string_view>

#include "expr/reverse_polish.h"
#include "expr/term_table.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// How a row of the class table names its characters.
enum class Match { chars, letter, digit, blank, end, none };

struct CharType {
    int cls;
    Match match;
    const char* chars;  // for Match::chars (and ';' for Match::end)
};

// Tried in this order; the first row that matches gives the class.
constexpr CharType char_type_tb[kCharClasses] = {
    {1, Match::chars, "("},
    {2, Match::chars, ")"},
    {3, Match::letter, ""},     // A-Z, a-z
    {4, Match::digit, ""},      // 0-9
    {5, Match::chars, "!%"},
    {6, Match::chars, "'\""},
    {7, Match::blank, ""},      // codes 1 to 32
    {8, Match::chars, "+-*/><=:^"},
    {9, Match::end, ";"},       // the end sign, and the zero byte
    {10, Match::chars, ","},
    {11, Match::none, ""},      // set by the unary-operator routine only
    {12, Match::chars, "."},
    {13, Match::chars, "_"},
};

constexpr bool matches(const CharType& t, unsigned char ch) {
    switch (t.match) {
        case Match::letter: return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
        case Match::digit: return ch >= '0' && ch <= '9';
        case Match::blank: return ch >= 1 && ch <= 32;
        case Match::end: if (ch == 0) return true; [[fallthrough]];
        case Match::chars:
            for (const char* c = t.chars; *c; ++c)
                if (static_cast<unsigned char>(*c) == ch) return true;
            return false;
        case Match::none: return false;
    }
    return false;
}

// The class of every byte, computed from char_type_tb.
constexpr std::array<int8_t, 256> class_by_byte = [] {
    std::array<int8_t, 256> by{};
    for (int ch = 0; ch < 256; ++ch)
        for (const CharType& t : char_type_tb)
            if (matches(t, static_cast<unsigned char>(ch))) {
                by[static_cast<size_t>(ch)] = static_cast<int8_t>(t.cls);
                break;
            }
    return by;
}();

constexpr size_t kBeforeText = static_cast<size_t>(-1);  // a step back from the first character

const Operation* open_row() { return operation_row("(", 0); }
const Operation* close_row() { return operation_row(")", 0); }

// Gives the current character back: the driver reads it again and moves
// by the matrix.
int redispatch(LexRun& run) {
    --run.pos;
    return 0;
}

int open_paren_rtn(LexRun& run) {
    if (run.cls == 7) return 0;
    if (run.cls != 1) return 3;
    ++run.depth;
    return append_lexeme(run, {open_row(), nullptr}, "LEX0040") ? 0 : -1;
}

int close_paren(LexRun& run, const char* unbalanced_id, const char* too_long_id, bool ends_arguments) {
    if (run.cls == 7) return 0;
    if (run.cls != 2) return 3;
    if (--run.depth < 0) {
        PRINT('e', unbalanced_id, "Unbalanced parentheses in expression\n");
        return -1;
    }
    if (!append_lexeme(run, {close_row(), nullptr}, too_long_id)) return -1;
    return ends_arguments && run.depth == 0 ? 1 : 0;
}

int clse_paren_rtn(LexRun& run) { return close_paren(run, "LEX0045", "LEX0050", false); }
int clse_paren_s_rtn(LexRun& run) { return close_paren(run, "LEX0320", "LEX0330", true); }

int term_rtn(LexRun& run) {
    switch (run.cls) {
        case 3: case 4: case 5: case 6: case 12: case 13: break;
        case 7: return 0;
        default: return -1;
    }
    int term_count = 0;
    LexContext ctx{&TermStateTable, run.text, &run.pos, &term_count};
    std::optional<LexemeList> term = lexer(ctx, term_switch_mx);
    if (!term) {
        PRINT('e', "LEX0060", "Term syntax error\n");
        return -1;
    }
    run.count += term_count;
    if (run.count > kMaxLexemes) {
        PRINT('e', "LEX0070", "Expression is too long\n");
        return -1;
    }
    run.out.insert(run.out.end(), term->begin(), term->end());
    return redispatch(run);  // on the term's last character
}

// The run of characters of the current class from pos (a comma alone);
// its end, or kBeforeText after LEX0080 for a character of no class.
size_t token_end(const LexRun& run) {
    size_t end = run.pos + 1;
    if (run.cls == 10) return end;
    while (char_class(run.text[end]) == run.cls) ++end;
    if (char_class(run.text[end]) == 0) {
        PRINT('e', "LEX0080", "Unknown character type in expression\n");
        return kBeforeText;
    }
    return end;
}

int oper_rtn(LexRun& run) {
    switch (run.cls) {
        case 3: case 8: case 10: case 13: break;
        case 7: return 0;
        case 11: return redispatch(run);
        default: return 3;
    }
    const size_t end = token_end(run);
    if (end == kBeforeText) return -1;
    const Operation* op = find_oper_type(std::string_view(run.text + run.pos, end - run.pos));
    if (!op) {
        PRINT('e', "LEX0090", "Unknown operation %.10s in expression\n", run.text + run.pos);
        return -1;
    }
    if (!append_lexeme(run, {op, nullptr}, "LEX0100")) return -1;
    run.pos = end - 1;
    return 0;
}

// A unary operator found: appended, the next state is the operator state.
int unary_found(LexRun& run, const Operation* op, size_t end) {
    if (!append_lexeme(run, {op, nullptr}, "LEX0100")) return -1;
    run.pos = end - 1;
    run.cls = 11;
    return 2;
}

int spec_oper_rtn(LexRun& run) {
    if (run.cls == 8) {
        const size_t end = token_end(run);
        if (end == kBeforeText) return -1;
        const Operation* op = find_spec_oper_type(std::string_view(run.text + run.pos, end - run.pos));
        if (!op) {
            PRINT('e', "LEX0090", "Unknown operation in expression\n");
            return -1;
        }
        return unary_found(run, op, end);
    }
    if (run.cls != 3 && run.cls != 13) return 3;
    size_t end = run.pos + 1;
    while (char_class(run.text[end]) == 3 || char_class(run.text[end]) == 13) ++end;
    size_t after = end;
    while (char_class(run.text[after]) == 7) ++after;
    const Operation* op = find_spec_oper_type(std::string_view(run.text + run.pos, end - run.pos));
    // A cursor qualifier, a function call or any other word is a term.
    if (run.text[after] == '.' || run.text[end] == '(' || !op) return redispatch(run);
    return unary_found(run, op, end);
}

int end_expr_rtn(LexRun& run) {
    if (run.cls != 9) return 3;
    if (run.depth != 0) {
        PRINT('e', "LEX0110", "Unbalanced parentheses in expression\n");
        return -1;
    }
    return append_lexeme(run, {}, "LEX0120") ? 1 : -1;
}

} // namespace

//   state \ class                     1  2  3  4  5  6  7  8  9 10 11 12 13
const SwitchMatrix express_switch_mx = {{
    {{0, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8}},  // (unused)
    {{8, 2, 8, 4, 4, 4, 4, 1, 8, 8, 8, 8, 4, 4}},  // 1 start
    {{8, 2, 8, 6, 4, 4, 4, 2, 6, 8, 8, 8, 4, 6}},  // 2 open parenthesis
    {{8, 8, 3, 5, 8, 8, 8, 3, 5, 7, 5, 8, 8, 5}},  // 3 close parenthesis
    {{8, 8, 3, 5, 8, 8, 8, 4, 5, 7, 5, 8, 8, 5}},  // 4 term
    {{8, 2, 8, 4, 4, 4, 4, 5, 5, 8, 8, 8, 4, 4}},  // 5 operator
    {{8, 8, 8, 4, 8, 8, 8, 8, 8, 8, 8, 5, 8, 4}},  // 6 unary operator
    {{8, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},  // 7 end
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 8 error
}};

//   state \ class                     1  2  3  4  5  6  7  8  9 10 11 12 13
const SwitchMatrix term_switch_mx = {{
    {{0, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8}},  // (unused)
    {{8, 7, 7, 2, 5, 2, 6, 7, 7, 7, 7, 7, 5, 2}},  // 1 start
    {{8, 4, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 3, 7}},  // 2 name
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 3 qualified name
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 4 function
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 5 number
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 6 string
    {{8, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},  // 7 end of term
    {{8, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},  // 8 error
}};

// The routine of each state; the argument list differs only in state 3.
const StateTable ExprStateTable = {
    nullptr,         // states count from 1
    init_expr_rtn,   // 1 start
    open_paren_rtn,  // 2 open parenthesis
    clse_paren_rtn,  // 3 close parenthesis
    term_rtn,        // 4 term
    oper_rtn,        // 5 operator
    spec_oper_rtn,   // 6 unary operator
    end_expr_rtn,    // 7 end
    expr_error_rtn,  // 8 error
};
const StateTable SubExprStateTable = {nullptr,  init_expr_rtn, open_paren_rtn, clse_paren_s_rtn, term_rtn,
                                      oper_rtn, spec_oper_rtn, end_expr_rtn,   expr_error_rtn};
const StateTable TermStateTable = {
    nullptr,          // states count from 1
    init_term_rtn,    // 1 start
    name_rtn,         // 2 name
    qualif_name_rtn,  // 3 qualified name
    function_rtn,     // 4 function
    number_rtn,       // 5 number
    string_rtn,       // 6 string
    end_term_rtn,     // 7 end of term
    expr_error_rtn,   // 8 error
};

int char_class(char ch) {
    if (ch == '\0' && expr_debug()) PRINT('w', "LEX0035", "Null-terminator assumed the expression end\n");
    return class_by_byte[static_cast<unsigned char>(ch)];
}

bool append_lexeme(LexRun& run, Lexeme lexeme, const char* too_long_id) {
    if (++run.count > kMaxLexemes) {
        PRINT('e', too_long_id, "Expression is too long\n");
        return false;
    }
    run.out.push_back(lexeme);
    return true;
}

int init_expr_rtn(LexRun& run) {
    if (run.cls == 9) return 1;
    if (run.cls == 7 || run.cls == 10) return 0;
    return redispatch(run);
}

int expr_error_rtn(LexRun&) {
    PRINT('e', "LEX0130", "Syntax error: invalid character sequence in expression\n");
    return -1;
}

// One step of the driver after an answer of 0 or 2: the next character.
// False when there is none to read (the run stood on the end) or it has
// no class (LEX0020).
static bool step(LexRun& run, bool read_class) {
    if (run.pos != kBeforeText && run.text[run.pos] == '\0') {
        PRINT('e', "LEX0025", "Lexer error\n");
        return false;
    }
    ++run.pos;
    if (!read_class) return true;
    run.cls = char_class(run.text[run.pos]);
    if (run.cls == 0) {
        PRINT('e', "LEX0020", "Unknown character type in expression\n");
        return false;
    }
    return true;
}

std::optional<LexemeList> lexer(LexContext& ctx, const SwitchMatrix& matrix) {
    LexemeList list;
    try {
        list.reserve(16);
    } catch (const std::bad_alloc&) {
        PRINT('s', "LEX0010", "Can not acquire memory\n");
        return std::nullopt;
    }
    *ctx.count = 0;
    LexRun run{ctx.text, *ctx.pos, char_class(ctx.text[*ctx.pos]), 0, list, *ctx.count};
    if (run.cls == 0) {
        PRINT('e', "LEX0015", "Syntax error in expression\n");
        return std::nullopt;
    }
    int state = 1;
    bool ok = false;
    for (;;) {
        const int answer = (*ctx.routines)[static_cast<size_t>(state)](run);
        if (answer == 0 || answer == 2) {
            if (!step(run, answer == 0)) break;
            state = matrix[static_cast<size_t>(state)][static_cast<size_t>(run.cls)];
        } else if (answer == 1) {
            ++run.pos;
            ok = true;
            break;
        } else {
            if (answer != -1) PRINT('e', "LEX0025", "Lexer error\n");
            break;
        }
    }
    if (ok && run.depth != 0) {
        PRINT('e', "LEX0030", "Unbalanced parentheses in expression\n");
        ok = false;
    }
    if (!ok) return std::nullopt;
    return list;
}

std::optional<LexemeList> parse_expression(const char*& pos) {
    size_t at = 0;
    int count = 0;
    LexContext ctx{&ExprStateTable, pos, &at, &count};
    std::optional<LexemeList> lexemes = lexer(ctx, express_switch_mx);
    pos += at;
    if (!lexemes) {
        PRINT('e', "LEX0005", "If-condition parsing ended with error\n");
        return std::nullopt;
    }
    std::optional<LexemeList> converted = reverse_pol_notation(*lexemes);
    if (!converted) {
        PRINT('e', "LEX0007", "If-condition parsing ended with error\n");
        return std::nullopt;
    }
    return converted;
}

char get_expr_end_sign() { return ';'; }

} // namespace qvx
