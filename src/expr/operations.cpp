#include "expr/operations.h"

#include "expr/operation_procs.h"

#include <iterator>

namespace qvx {

namespace {

constexpr Operation row(const char* text, int16_t kind, int16_t args, int16_t priority, OperationProc proc,
                        int16_t check) {
    return {kOperationTag, text, kind, args, priority, proc, check};
}

// Searched from the top; the first row of the wanted sort with the token's
// text answers, so "-" is subtraction for the two-argument look-up and
// negation for the unary one.
//                text     kind        args           prio procedure  check
constexpr Operation OperationTable[] = {
    /*  0 */ row("(",     kOperator,  0,             0,   nullptr,   0),
    /*  1 */ row(")",     kOperator,  0,             1,   nullptr,   0),
    /*  2 */ row("OR",    kOperator,  2,             20,  or_prc,    4),
    /*  3 */ row("AND",   kOperator,  2,             30,  and_prc,   4),
    /*  4 */ row("NOT",   kOperator,  1,             40,  not_prc,   4),
    /*  5 */ row("=",     kOperator,  2,             50,  equ_prc,   4),
    /*  6 */ row("^=",    kOperator,  2,             50,  nequ_prc,  4),
    /*  7 */ row("<",     kOperator,  2,             50,  less_prc,  4),
    /*  8 */ row(">=",    kOperator,  2,             50,  nless_prc, 4),
    /*  9 */ row(">",     kOperator,  2,             50,  grt_prc,   4),
    /* 10 */ row("<=",    kOperator,  2,             50,  ngrt_prc,  4),
    /* 11 */ row(":=",    kOperator,  2,             50,  asgnt_prc, 6),
    /* 12 */ row("+",     kOperator,  2,             60,  plus_prc,  5),
    /* 13 */ row("-",     kOperator,  2,             60,  minus_prc, 5),
    /* 14 */ row("*",     kOperator,  2,             70,  mltpl_prc, 5),
    /* 15 */ row("/",     kOperator,  2,             70,  div_prc,   5),
    /* 16 */ row("-",     kOperator,  1,             80,  neg_prc,   5),
    /* 17 */ row("func1", kFunction,  1,             100, neg_prc,   5),
    /* 18 */ row("func2", kFunction,  2,             100, plus_prc,  5),
    /* 19 */ row("func3", kFunction,  3,             100, plus_prc,  5),
    /* 20 */ row(",",     kSeparator, 0,             2,   nullptr,   0),
    /* 21 */ row("ROW",   kFunction,  kVariableArgs, 100, row_func,  6),
    /* 22 */ row("SUM",   kFunction,  1,             100, sum_func,  5),
    /* 23 */ row("LIKE",  kOperator,  2,             50,  like_prc,  4),
    /* 24 */ {kTableEndTag, "", 0, 0, 0, nullptr, 0},
};

constexpr size_t kRowFunc = 21;

template <class Wanted>
const Operation* search(std::string_view token, Wanted wanted) {
    for (const Operation& op : OperationTable) {
        if (op.tag == kTableEndTag) break;
        if (wanted(op) && same_text_nocase(token, op.text)) return &op;
    }
    return nullptr;
}

char upper(char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; }

} // namespace

bool same_text_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

const char* operation_word(const Operation& op) { return op.kind == kOperator ? "operation" : "function"; }

const Operation* find_oper_type(std::string_view token) {
    return search(token, [](const Operation& op) {
        return (op.kind == kOperator && op.args == 2) || op.kind == kSeparator;
    });
}

const Operation* find_spec_oper_type(std::string_view token) {
    return search(token, [](const Operation& op) { return op.kind == kOperator && op.args == 1; });
}

const Operation* find_function(std::string_view token) {
    return search(token, [](const Operation& op) { return op.kind == kFunction; });
}

const Operation* get_row_func_entry() { return &OperationTable[kRowFunc]; }

const Operation* operation_row(std::string_view text, int16_t args) {
    return search(text, [args](const Operation& op) { return op.args == args; });
}

} // namespace qvx
