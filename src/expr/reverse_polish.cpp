// An operator stack: an operation pops every stacked operation of the
// same or a higher priority to the output before it is stacked, so equal
// priorities associate to the left; "(" (priority 0) is stacked as it
// comes and ")" (priority 1) pops down to it. Functions carry priority
// 100 and so follow their arguments; a "," pops what stands above the
// function's "(" and is never stacked.
#include "expr/reverse_polish.h"

#include <new>

#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr int16_t kOpenPriority = 0;
constexpr int16_t kClosePriority = 1;

bool valid(const Lexeme& l) {
    if (l.term) return l.term->tag == kTermTag && !l.op;
    return l.op && l.op->tag == kOperationTag;
}

// Places one operation; false for a ")" without its "(".
bool place(const Operation* op, std::vector<const Operation*>& stack, LexemeList& out) {
    if (op->priority == kOpenPriority) {
        stack.push_back(op);
        return true;
    }
    while (!stack.empty()) {
        const Operation* top = stack.back();
        if (op->priority == kClosePriority) {
            stack.pop_back();
            if (top->priority == kOpenPriority) return true;
            out.push_back({top, nullptr});
            continue;
        }
        if (top->priority < op->priority) break;
        stack.pop_back();
        out.push_back({top, nullptr});
    }
    if (op->priority == kClosePriority) {
        PRINT('e', "RPN0010", "Unbalanced parentheses in expression\n");
        return false;
    }
    if (op->kind != kSeparator) stack.push_back(op);
    return true;
}

} // namespace

std::optional<LexemeList> reverse_pol_notation(const LexemeList& lexemes) {
    try {
        LexemeList out;
        out.reserve(lexemes.size() + 1);
        std::vector<const Operation*> stack;
        for (const Lexeme& l : lexemes) {
            if (l.is_end()) break;
            if (!valid(l)) return std::nullopt;
            if (l.term) {
                out.push_back(l);
            } else if (!place(l.op, stack, out)) {
                return std::nullopt;
            }
        }
        while (!stack.empty()) {
            out.push_back({stack.back(), nullptr});
            stack.pop_back();
        }
        out.push_back({});
        return out;
    } catch (const std::bad_alloc&) {
        PRINT('e', "RPN0005", "Can not acquire memory\n");
        return std::nullopt;
    }
}

} // namespace qvx
