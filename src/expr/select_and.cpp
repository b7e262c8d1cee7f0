// The AND terms of a WHERE condition: a condition whose top is a chain
// of AND, each term made of operations that only compute from their
// arguments, is evaluated term by term and stops at the first term that
// is not true, as the AND of them all would answer.
#include <vector>

#include "expr/operation_procs.h"
#include "expr/select_internal.h"

namespace qvx {

namespace {

// An operation that only computes from its arguments: the terms of an
// AND made of such operations may stop at the first false one.
bool pure(const Operation& op) {
    return op.proc && op.check != 6 && op.args != kVariableArgs && op.proc != sum_func;
}

// Appends the terms joined by AND in the subexpression that ends at
// end - 1; starts[i] is where the subexpression ending at i begins.
void split_and(const LexemeList& list, const std::vector<uint32_t>& starts, Range r, std::vector<Range>& out) {
    if (list[r.end - 1].op && list[r.end - 1].op->proc == and_prc && r.end - r.first > 2) {
        const uint32_t right = starts[r.end - 2];
        split_and(list, starts, {r.first, right}, out);
        split_and(list, starts, {right, r.end - 1}, out);
        return;
    }
    out.push_back(r);
}

// The condition's AND terms, when every one is an operation of pure
// operations; else none (the condition is evaluated whole).
} // namespace

std::vector<Range> conjuncts_of(const LexemeList& list) {
    std::vector<uint32_t> starts(list.size()), stack;
    uint32_t n = 0;
    for (; n < list.size() && !list[n].is_end(); ++n) {
        const Lexeme& l = list[n];
        uint32_t first = n;
        if (l.op) {
            if (!pure(*l.op) || stack.size() < static_cast<size_t>(l.op->args)) return {};
            for (int k = 0; k < l.op->args; ++k) {
                first = stack.back();
                stack.pop_back();
            }
        }
        starts[n] = first;
        stack.push_back(first);
    }
    if (stack.size() != 1 || n == 0) return {};
    std::vector<Range> out;
    split_and(list, starts, {0, n}, out);
    for (const Range& r : out)
        if (!list[r.end - 1].op) return {};  // a bare operand is no condition of its own
    return out.size() > 1 ? out : std::vector<Range>{};
}

} // namespace qvx
