// Arithmetic and assignment. Numbers are computed in double; the result
// is an integer when every argument is one (a mixed pair gives a double),
// and a division always gives a double.
#include <cmath>
#include <cstdint>

#include "expr/interpreter.h"
#include "expr/operation_procs.h"
#include "expr/term_values.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The argument as a number, converting a text; false after the message.
bool arith_value(Term& t, double& out) {
    switch (t.data_type) {
        case 1: case 4: case 6:
            if (t.numeric_kind != kIntKind && t.numeric_kind != kDoubleKind) term_str2num(t);
            if (t.numeric_kind == kNotNumeric) {
                PRINT('e', "Int0315", "Can't convert argument %s to numeric for an arithmetic operation\n", t.name);
                return false;
            }
            break;
        case 2: case 3: case 5:
            if (t.numeric_kind != kIntKind && t.numeric_kind != kDoubleKind) {
                PRINT('e', "Int0310", "Invalid argument type: %s\n", t.name);
                return false;
            }
            break;
        default:
            PRINT('e', "Int0320", "Invalid argument type: %s\n", t.name);
            return false;
    }
    out = number_of(t);
    return true;
}

// The arguments as numbers and the kind of their result.
bool arithm_subr(Term* const* args, int count, double* values, int& kind) {
    kind = kIntKind;
    for (int i = 0; i < count; ++i) {
        if (!arith_value(*args[i], values[i])) return false;
        if (args[i]->numeric_kind == kDoubleKind) kind = kDoubleKind;
    }
    return true;
}

template <class Op>
int binary(Term* const* args, Term& result, Op op) {
    double v[2];
    int kind = 0;
    if (!arithm_subr(args, 2, v, kind)) return 1;
    set_number(result, kind, op(v[0], v[1]));
    return 0;
}

// The number an assignment takes from its source; false after the message.
bool source_number(Term& b, double& out) {
    if (b.data_type == kCharacter) {
        if (b.numeric_kind == kNotNumeric) term_str2num(b);
        if (b.numeric_kind != kIntKind && b.numeric_kind != kDoubleKind) {
            PRINT('e', "Int0270", "Argument %s value can not be converted into number\n", b.name);
            return false;
        }
        out = number_of(b);
        return true;
    }
    if (b.data_type == kInteger || b.data_type == kDecimal) {
        out = b.data_type == kInteger ? b.ival : b.dval;
        return true;
    }
    PRINT('e', "Int0280", "Invalid argument type\n");
    return false;
}

} // namespace

int plus_prc(Term* const* args, Term& result) {
    return binary(args, result, [](double a, double b) { return a + b; });
}
int minus_prc(Term* const* args, Term& result) {
    return binary(args, result, [](double a, double b) { return a - b; });
}
int mltpl_prc(Term* const* args, Term& result) {
    return binary(args, result, [](double a, double b) { return a * b; });
}

int div_prc(Term* const* args, Term& result) {
    double v[2];
    int kind = 0;
    if (!arithm_subr(args, 2, v, kind)) return 1;
    if (v[1] == 0.0) {
        PRINT('e', "Int0340", "Can not divide by 0\n");
        return 1;
    }
    set_number(result, kDoubleKind, v[0] / v[1]);
    return 0;
}

int neg_prc(Term* const* args, Term& result) {
    double v = 0;
    int kind = 0;
    if (!arithm_subr(args, 1, &v, kind)) return 1;
    set_number(result, kind, -v);
    return 0;
}

int asgnt_prc(Term* const* args, Term& result) {
    Term& a = *args[0];
    Term& b = *args[1];
    if (b.data_type == kUndefined) {
        PRINT('e', "Int0250", "Assignment operation source argument is not properly defined\n");
        return 1;
    }
    if (b.data_type != kCharacter && b.numeric_kind == kNotNumeric) {
        PRINT('e', "Int0260", "Assignment operation source argument is not properly defined\n");
        return 1;
    }
    if (!b.value) {
        PRINT('e', "Int0265", "No value for assignment operation source argument\n");
        return 1;
    }
    if (a.data_type == kUndefined) {
        a.data_type = b.data_type;
        a.numeric_kind = b.numeric_kind;
    }
    // The target's value gets a buffer of its own: its name stays, so that
    // later expressions find the variable, and a column's row is never
    // written.
    const std::string text(value_view(b));  // b may be a itself
    if (!a.value_owned) a.set_owned(value_view(a));
    bool assigned = false;
    if (a.data_type == kCharacter) {
        write_value(a, text);
        a.numeric_kind = kNotNumeric;
        assigned = !text.empty();
    } else {
        double number = 0;
        if (!source_number(b, number)) return 1;
        if (a.data_type == kInteger) {
            const double whole = std::trunc(number);
            set_number(a, kIntKind, std::isfinite(whole) ? std::fmax(std::fmin(whole, INT32_MAX), INT32_MIN) : 0);
            assigned = a.ival != 0;
        } else if (a.data_type == kDecimal) {
            set_number(a, kDoubleKind, number);
            assigned = a.dval != 0.0;
        } else {
            PRINT('e', "Int0300", "Invalid argument type\n");
            return 1;
        }
    }
    set_logical(result, assigned);
    return 0;
}

} // namespace qvx
