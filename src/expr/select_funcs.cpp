// SUM and ROW, the functions of select lists. Their state lasts across
// the rows of a select: a SUM accumulator hangs on the summed term, and
// ROW keeps a copy of every select-list value of the current group. Both
// are terms of the current term table (they live as long as it does) and
// are reinitialised by the processing modes 0 and 1.
#include <array>

#include "expr/interpreter.h"
#include "expr/operation_procs.h"
#include "expr/term_table.h"
#include "expr/term_values.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

enum Helper : int8_t { kAccumulator = 1, kGroupCopy = 2 };
constexpr int kMaxMembers = kMaxVariableArgs - 1;

Term* helper_term(int32_t data_type, int8_t role) {
    Term* t = alloc_term(kNameTerm, data_type);
    if (!t) return nullptr;
    t->helper = role;
    t->source = TermSource::fixed;
    chain_term(t);
    return t;
}

// The accumulator takes x's current number.
bool set_accumulator(Term& acc, Term& x) {
    if (x.data_type == kCharacter && x.numeric_kind == kNotNumeric) term_str2num(x);
    if (x.numeric_kind != kIntKind && x.numeric_kind != kDoubleKind) {
        PRINT('s', "SEL0170", "A TERM_TABLE struct corrupted: quitting\n");
        quitting(0);
        return false;
    }
    acc.data_type = x.data_type;
    set_number(acc, x.numeric_kind, number_of(x));
    return true;
}

// The members of a vector head, in order (at most kMaxMembers).
int members_of(const Term& head, std::array<Term*, kMaxVariableArgs>& out) {
    int n = 0;
    for (Term* m = head.vector_next; m && n < kMaxMembers; m = m->vector_next) out[static_cast<size_t>(n++)] = m;
    return n;
}

bool listed(const std::array<Term*, kMaxVariableArgs>& members, int n, const Term* t) {
    for (int i = 0; i < n; ++i)
        if (members[static_cast<size_t>(i)] == t) return true;
    return false;
}

// Copies the argument's current value into its group copy.
int take_value(Term& copy, const Term& arg) {
    Term* const next = copy.next;  // its link in the term table
    const int rc = copy_term(copy, arg);
    copy.next = next;
    copy.work = 0;
    copy.helper = kGroupCopy;
    copy.vector_partner = arg.work ? nullptr : const_cast<Term*>(&arg);
    return rc;
}

// Makes the members of the vector: the accumulator of a summed argument,
// else the argument's group copy; a new copy, and with fresh (processing
// mode 0) every copy, takes the argument's value. A work variable has no
// copy of its own: the copy at its position is kept.
int build_vector(Term& head, Term* const* args, int count, bool fresh) {
    std::array<Term*, kMaxVariableArgs> old{};
    const int had = members_of(head, old);
    std::array<Term*, kMaxVariableArgs> made{};
    for (int k = 0; k < count; ++k) {
        Term& arg = *args[k];
        Term* member = arg.sum_term;
        if (!member || listed(made, k, member)) {
            member = !arg.work && arg.vector_partner && arg.vector_partner->helper == kGroupCopy ? arg.vector_partner
                     : k < had && old[static_cast<size_t>(k)]->helper == kGroupCopy ? old[static_cast<size_t>(k)]
                                                                                   : nullptr;
            const bool made_now = !member || listed(made, k, member);
            if (made_now) member = helper_term(arg.data_type, kGroupCopy);
            if (!member || ((fresh || made_now) && take_value(*member, arg) != 0)) return 1;
            if (!arg.work) arg.vector_partner = member;
        }
        made[static_cast<size_t>(k)] = member;
    }
    Term** link = &head.vector_next;
    for (int k = 0; k < count; ++k) {
        *link = made[static_cast<size_t>(k)];
        link = &(*link)->vector_next;
    }
    *link = nullptr;
    return 0;
}

} // namespace

int sum_func(Term* const* args, Term& result) {
    Term& x = *args[0];
    const int mode = get_proc_mode();
    if (mode < 0 || mode > 2) {
        PRINT('s', "SEL0140", "Corrupted: quitting\n");
        quitting(0);
        return 1;
    }
    // A work variable lasts one row only: it cannot carry a sum.
    if (x.work || (mode == 2 && !x.sum_term)) {
        PRINT('s', "SEL0150", "A TERM_TABLE struct corrupted\n");
        return 1;
    }
    if (!x.sum_term && !(x.sum_term = helper_term(x.data_type, kAccumulator))) return 1;
    Term& acc = *x.sum_term;
    if (mode == 2) {
        Term* pair[2] = {&acc, &x};
        if (plus_prc(pair, acc) != 0) return 1;
        if (acc.numeric_kind != kIntKind && acc.numeric_kind != kDoubleKind) {
            PRINT('s', "SEL0150", "A TERM_TABLE struct corrupted\n");
            return 1;
        }
    } else if (!set_accumulator(acc, x)) {
        return 1;
    }
    result.sum_term = &acc;
    result.data_type = acc.data_type;
    set_number(result, acc.numeric_kind, number_of(acc));
    return 0;
}

int row_func(Term* const* args, Term& result) {
    int n = 0;
    while (args[n]) ++n;
    if (n == 0) {
        PRINT('s', "SEL0150", "A TERM_TABLE struct corrupted\n");
        return 1;
    }
    Term& head = *args[n - 1];  // the marker after the select-list values
    const int count = n - 1;
    const int mode = get_proc_mode();
    if (mode < 0 || mode > 2) {
        PRINT('s', "SEL0300", "Invalid proc_mode value\n");
        return 1;
    }
    head.entry_type = kVectorTerm;
    head.data_type = kUndefined;
    std::array<Term*, kMaxVariableArgs> members{};
    bool in_step = members_of(head, members) == count;
    for (int k = 0; in_step && k < count; ++k)
        in_step = args[k]->sum_term ? members[static_cast<size_t>(k)] == args[k]->sum_term
                                    : members[static_cast<size_t>(k)]->helper == kGroupCopy;
    if (mode == 0 || !in_step) {
        if (build_vector(head, args, count, mode == 0) != 0) return 1;
        members_of(head, members);
    }
    bool changed = false;
    for (int k = 0; mode > 0 && k < count; ++k) {
        Term& arg = *args[k];
        Term& copy = *members[static_cast<size_t>(k)];
        if (arg.sum_term) continue;
        if (mode == 1) {
            if (take_value(copy, arg) != 0) return 1;
            continue;
        }
        Term* pair[2] = {&arg, &copy};
        int order = 0;
        if (compare_subr(pair, order) != 0) return 1;
        changed = changed || order != 0;
    }
    set_row_status(changed ? 3 : 2);
    result.entry_type = kVectorTerm;
    result.data_type = kUndefined;
    result.vector_next = head.vector_next;
    return 0;
}

} // namespace qvx
