// Comparisons, LIKE and the logical operators.
#include <cstring>

#include "expr/interpreter.h"
#include "expr/operation_procs.h"
#include "expr/term_values.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

bool numeric_type(const Term& t) { return t.data_type == kInteger || t.data_type == kDecimal; }

// A text argument compared with a number must read as a number.
bool converted(Term& t, const char* id) {
    if (t.numeric_kind == kNotNumeric) term_str2num(t);
    if (t.numeric_kind != kNotNumeric) return true;
    PRINT('e', id, "Arguments for COMPARE operation are incomparable\n");
    return false;
}

int compare_texts(std::string_view x, std::string_view y) {
    const size_t lx = less_blanks_len(x);
    const size_t ly = less_blanks_len(y);
    if (lx != ly) return lx < ly ? -1 : 1;  // the shorter text is smaller
    return std::memcmp(x.data(), y.data(), lx);
}

template <class Holds>
int comparison(Term* const* args, Term& result, Holds holds) {
    int order = 0;
    if (compare_subr(args, order) != 0) return 1;
    set_logical(result, holds(order));
    return 0;
}

bool numeric_args(Term* const* args, int count) {
    for (int i = 0; i < count; ++i)
        if (args[i]->numeric_kind == kNotNumeric) return false;
    return true;
}

// LIKE: % any run of characters, _ one character, case counts. Each
// pattern segment is sought once: after a %, at its first occurrence.
int like_match(std::string_view value, std::string_view pattern, bool& match) {
    size_t v = 0, p = 0;
    char w = 0;  // the wildcard before the current segment; 0 none
    bool open_end = false;
    match = true;
    while (p < pattern.size() && match) {
        if (w) ++p;
        if (w == '_' && v < value.size()) ++v;
        size_t stop = p;
        while (stop < pattern.size() && pattern[stop] != '%' && pattern[stop] != '_') ++stop;
        const std::string_view segment = pattern.substr(p, stop - p);
        const char next = stop < pattern.size() ? pattern[stop] : 0;
        if (value.size() - v < segment.size()) {
            match = false;
            break;
        }
        if (w == '%') {
            open_end = segment.empty();
            if (!segment.empty()) {
                const size_t at = value.find(segment, v);
                if (at == std::string_view::npos) {
                    match = false;
                    break;
                }
                v = at + segment.size();
                p += segment.size();
            }
        } else if (w == 0 || w == '_') {
            if (!segment.empty()) open_end = false;
            if (value.substr(v, segment.size()) != segment) {
                match = false;
                break;
            }
            v += segment.size();
            p += segment.size();
        } else {
            PRINT('s', "SEL1020", "Invalid wild character\n");
            return 1;
        }
        w = next;
    }
    if (match) {
        if (w == '_' && v < value.size()) ++v;
        if (v < value.size()) match = open_end;
    }
    return 0;
}

} // namespace

int compare_subr(Term* const* args, int& result) {
    Term& a = *args[0];
    Term& b = *args[1];
    if (a.data_type == kCharacter) {
        const std::string_view x = value_view(a);
        if (x.empty()) PRINT('w', "Int0180", "Value for %s %s is an empty string\n", term_word(a), a.name);
        if (b.data_type == kCharacter) {
            const std::string_view y = value_view(b);
            if (y.empty()) PRINT('w', "Int0185", "Value for %s %s is an empty string\n", term_word(b), b.name);
            result = compare_texts(x, y);
            return 0;
        }
        if (!numeric_type(b)) {
            PRINT('e', "Int0200", "Invalid argument type\n");
            return 1;
        }
        if (!converted(a, "Int0190")) return 1;
    } else {
        if (a.data_type < kCharacter || a.data_type > kDecimal) {
            PRINT('e', "Int0230", "Invalid argument type\n");
            return 1;
        }
        if (b.data_type == kCharacter) {
            if (!converted(b, "Int0210")) return 1;
        } else if (!numeric_type(b)) {
            PRINT('e', "Int0220", "Invalid argument type\n");
            return 1;
        }
    }
    // The sign of the difference: no difference is too small to count.
    const double diff = number_of(a) - number_of(b);
    result = diff > 0 ? 1 : diff < 0 ? -1 : 0;
    return 0;
}

int equ_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r == 0; }); }
int nequ_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r != 0; }); }
int less_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r < 0; }); }
int nless_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r >= 0; }); }
int grt_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r > 0; }); }
int ngrt_prc(Term* const* args, Term& result) { return comparison(args, result, [](int r) { return r <= 0; }); }

int like_prc(Term* const* args, Term& result) {
    std::string_view value = value_view(*args[0]);
    std::string_view pattern = value_view(*args[1]);
    value = value.substr(0, less_blanks_len(value));
    pattern = pattern.substr(0, less_blanks_len(pattern));
    bool match = false;
    if (like_match(value, pattern, match) != 0) return 1;
    set_logical(result, match);
    return 0;
}

int or_prc(Term* const* args, Term& result) {
    if (!numeric_args(args, 2)) {
        PRINT('e', "Int0150", "Arguments for OR operation must be I_NUMERIC\n");
        return 1;
    }
    set_logical(result, is_true(*args[0]) || is_true(*args[1]));
    return 0;
}

int and_prc(Term* const* args, Term& result) {
    if (!numeric_args(args, 2)) {
        PRINT('e', "Int0160", "Arguments for AND operation must be I_NUMERIC\n");
        return 1;
    }
    set_logical(result, is_true(*args[0]) && is_true(*args[1]));
    return 0;
}

int not_prc(Term* const* args, Term& result) {
    if (!numeric_args(args, 1)) {
        PRINT('e', "Int0170", "Argument for NOT operation must be numeric\n");
        return 1;
    }
    set_logical(result, !is_true(*args[0]));
    return 0;
}

} // namespace qvx
