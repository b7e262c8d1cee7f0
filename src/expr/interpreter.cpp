// Evaluation of a reverse Polish list: operands stay in place until an
// operation takes them, walking back from its own slot.
#include "expr/interpreter.h"

#include <algorithm>
#include <array>

#include "expr/column_value.h"
#include "expr/term_values.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

struct SelectState {
    int proc_mode = 0;
    int row_status = 0;
};

SelectState& select_state() {
    static SelectState s;
    return s;
}

// The work variables of one evaluation, newest first. Whatever is still
// chained when it goes is freed.
class WorkChain {
public:
    ~WorkChain() {
        if (head_) free_work_chain(head_, nullptr, kFreeTerm);
    }
    void push(Term* t) {
        t->next = head_;
        head_ = t;
    }
    // The newest is given to the caller, the others are put on the reuse
    // list.
    Term* keep_newest() {
        Term* newest = head_;
        for (Term* t = newest->next; t;) recycle_work_term(std::exchange(t, t->next));
        newest->next = nullptr;
        head_ = nullptr;
        return newest;
    }

private:
    Term* head_ = nullptr;
};

using Args = std::array<Term*, kMaxVariableArgs + 1>;

// Checks a taken argument when the debug switch is on and the operation
// wants a value.
bool has_value(const Term& t, const Operation& op) {
    if (!expr_debug() || op.check == 6) return true;
    if (!t.value) {
        PRINT('e', "Int0090", "NULL value pointer for %s %s\n", term_word(t), t.name);
        return false;
    }
    const std::string_view v = value_view(t);
    if (v.empty()) {
        PRINT('e', "Int0100", "No value for %s %s\n", term_word(t), t.name);
        return false;
    }
    PRINT('t', "SMZIF100", "%s %s value is %.16s\n", term_word(t), t.name, std::string(v).c_str());
    return true;
}

bool take_arg(Term& t, const Operation& op) {
    if (expr_debug() && verify_term(&t) != 0) {
        PRINT('e', "Int0050", "Term block is invalid\n");
        return false;
    }
    // A constant or variable resolved before keeps its value; a column
    // read before reads its current value.
    if (!t.work && t.source != TermSource::fixed && !(t.source == TermSource::column && refresh_column_term(t)) &&
        edit_arg_term(t) != 0) {
        PRINT('e', "Int0052", "Term edit failed\n");
        return false;
    }
    if (!has_value(t, op)) {
        PRINT('e', "Int0054", "Invalid argument\n");
        return false;
    }
    return true;
}

// The operation's arguments, in source order (a variable count followed
// by a null entry), taken from the slots before at.
bool get_args(std::span<Lexeme> list, size_t at, const Operation& op, Args& args) {
    const int want = op.args == kVariableArgs ? kMaxVariableArgs : op.args;
    int found = 0;
    // Taken last first: into place for a fixed count, reversed afterwards
    // for a variable one.
    for (size_t j = at; j-- > 0 && found < want;) {
        if (list[j].is_end()) continue;
        Term* t = list[j].term;
        list[j] = {};
        if (!t || t->tag != kTermTag) {
            PRINT('e', "Int0040", "Invalid lexeme type\n");
            return false;
        }
        if (!take_arg(*t, op)) return false;
        args[static_cast<size_t>(op.args == kVariableArgs ? found : want - 1 - found)] = t;
        ++found;
    }
    if (op.args != kVariableArgs) {
        if (found < want) {
            PRINT('e', "Int0056", "%s %s should have %i arguments\n", operation_word(op), op.text, want);
            return false;
        }
    } else {
        std::reverse(args.begin(), args.begin() + found);
    }
    args[static_cast<size_t>(found)] = nullptr;
    return true;
}

} // namespace

TermPtr interpreter(std::span<Lexeme> list) {
    WorkChain work;
    bool any = false;
    for (size_t i = 0; i < list.size() && !list[i].is_end(); ++i) {
        Lexeme& l = list[i];
        if (l.term && !l.op) continue;  // an operand (its tag is checked when it is taken)
        if (!l.op || l.term || l.op->tag != kOperationTag) {
            PRINT('e', "Int0040", "Invalid lexeme type\n");
            return nullptr;
        }
        const Operation& op = *l.op;
        Args args;
        if (!get_args(list, i, op, args)) return nullptr;
        Term* result = take_reused_term();
        if (!result) {
            PRINT('s', "Int0060", "Can not acquire memory\n");
            return nullptr;
        }
        result->entry_type = kNameTerm;
        result->work = 1;
        work.push(result);
        if (!op.proc) {
            PRINT('e', "Int0125", "Procedure to perform %s %s not defined\n", operation_word(op), op.text);
            return nullptr;
        }
        if (op.proc(args.data(), *result) != 0) {
            PRINT('e', "Int0030", "Operation %s failed\n", op.text);
            return nullptr;
        }
        l = {nullptr, result};
        any = true;
    }
    if (!any) return nullptr;
    return TermPtr(work.keep_newest());
}

void free_work_chain(Term*& chain, Term* keep, int mode) {
    if (!chain && keep) PRINT('w', "Int0070", "Attempt to free an empty chain\n");
    while (chain) {
        Term* t = std::exchange(chain, chain->next);
        if (t != keep) free_term(t, mode);
    }
    if (keep) keep->next = nullptr;
}

void set_proc_mode(int mode) { select_state().proc_mode = mode; }
int get_proc_mode() { return select_state().proc_mode; }
void set_row_status(int status) { select_state().row_status = status; }
int get_row_status() { return select_state().row_status; }

void reset_interpreter() { select_state() = SelectState{}; }

} // namespace qvx
