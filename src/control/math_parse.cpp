// Reading a math clause: its options, its name and its expression words,
// the parenthesis count and the rules on which word may stand next to
// which. The names are bound to columns later, once every cursor is known.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "control/math_clause.h"
#include "control/tokenizer.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kMaxWord = 49;        // a name's field holds 49 characters and a zero
constexpr double kMaxDecimals = 64;    // more digits than "%f" ever writes

// A word as the scanner found it.
struct Scanned {
    std::string_view text;
    uint16_t num_flags = 0;
};

// An option word: its exact spelling in lower or in upper case.
bool is_option(std::string_view word, std::string_view lower) {
    if (word == lower) return true;
    if (word.size() != lower.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (word[i] != static_cast<char>(lower[i] - 'a' + 'A')) return false;
    return true;
}

// A numeric word's value; an exponent may stand after blanks ("1.5 E3").
// A value out of the range of a double reads as 0.
double number_value(std::string_view text) {
    std::string s;
    for (char c : text)
        if (c != ' ') s += c;
    const char* p = s.c_str();
    if (*p == '+') ++p;
    double v = 0;
    const auto [stop, ec] = std::from_chars(p, s.c_str() + s.size(), v);
    (void)stop;
    return ec == std::errc() ? v : 0;
}

bool numeric(const Scanned& w) { return (w.num_flags & NF_NUMERIC) != 0; }

MathKind kind_of(const Scanned& w) {
    if (w.text.size() == 1) {
        switch (w.text[0]) {
        case '(': return MathKind::left;
        case ')': return MathKind::right;
        case '+': return MathKind::add;
        case '-': return MathKind::subtract;
        case '*': return MathKind::multiply;
        case '/': return MathKind::divide;
        default: break;
        }
    }
    return numeric(w) ? MathKind::value : MathKind::name;
}

bool is_operand(MathKind k) { return k == MathKind::name || k == MathKind::value; }
bool is_operator(MathKind k) { return k >= MathKind::add && k <= MathKind::divide; }

const char* kind_label(MathKind k) {
    switch (k) {
    case MathKind::name: return ": name";
    case MathKind::left: return ": Left Parenthesis";
    case MathKind::right: return ": Right parenthesis";
    case MathKind::add: return ": Addition";
    case MathKind::subtract: return ": Subtraction";
    case MathKind::multiply: return ": Multiplicaton";
    case MathKind::divide: return ": Division";
    default: return ": constant : ";
    }
}

void trace_words(const MathDef& m) {
    PRINT('t', "pma3395", "Math name = %s, Word count = %d\n", m.name.c_str(), m.word_count());
    for (const MathWord& w : m.words) {
        std::string label = kind_label(w.kind);
        if (w.kind == MathKind::value) {
            char num[400];
            std::snprintf(num, sizeof num, "%f", w.value);
            label += num;
        }
        PRINT('t', "pma3405", "%s %s\n", w.text.c_str(), label.c_str());
    }
}

bool parens_balance(const MathDef& m) {
    int depth = 0;
    for (const MathWord& w : m.words) {
        if (w.kind == MathKind::left) ++depth;
        if (w.kind == MathKind::right && --depth < 0) {
            PRINT('e', "pma3410", "Right paren out of order\n");
            return false;
        }
    }
    if (depth != 0) {
        PRINT('e', "pma3415", "Parens don't balance in %s\n", m.text.c_str());
        return false;
    }
    return true;
}

// The ids of the rules the word at i breaks: one on the word before it,
// one on the word after it; null for a rule kept.
struct Faults {
    const char* before = nullptr;
    const char* after = nullptr;
};

Faults neighbour_faults(const std::vector<MathWord>& words, size_t i) {
    const MathKind k = words[i].kind;
    const bool has_prev = i > 0;
    const bool has_next = i + 1 < words.size();
    const MathKind prev = has_prev ? words[i - 1].kind : MathKind::used_up;
    const MathKind next = has_next ? words[i + 1].kind : MathKind::used_up;
    Faults f;
    if (is_operand(k)) {
        if (has_prev && !is_operator(prev) && prev != MathKind::left) f.before = "pma3460";
        if (has_next && !is_operator(next) && next != MathKind::right) f.after = "pma3465";
    } else if (k == MathKind::left) {
        if (has_prev && is_operand(prev)) f.before = "pma3420";
        if (!has_next)
            f.after = "pma3430";
        else if (next != MathKind::left && !is_operand(next))
            f.after = "pma3425";
    } else if (k == MathKind::right) {
        if (has_prev && prev != MathKind::right && !is_operand(prev)) f.before = "pma3435";
        if (has_next && is_operand(next)) f.after = "pma3440";
    } else {
        if (has_prev && prev != MathKind::right && !is_operand(prev)) f.before = "pma3445";
        if (!has_next)
            f.after = "pma3455";
        else if (next != MathKind::left && !is_operand(next))
            f.after = "pma3450";
    }
    return f;
}

// Checks every word against its neighbours and reports each rule broken
// (a bad pair of words is reported from both sides).
bool syntax_holds(const MathDef& m) {
    bool ok = true;
    for (size_t i = 0; i < m.words.size(); ++i) {
        const Faults f = neighbour_faults(m.words, i);
        for (const char* id : {f.before, f.after}) {
            if (!id) continue;
            PRINT('e', id, "Bad math syntax starting at word %d in %s\n", static_cast<int>(i + 1),
                  m.text.c_str());
            ok = false;
        }
    }
    return ok;
}

// Reads the clause's words into scanned; false after a scan error
// (reported).
bool scan_clause(const std::string& buf, std::vector<Scanned>& scanned) {
    Tokenizer tok(buf);
    tok.reset();
    const int end = static_cast<int>(buf.size());
    int pos = 0;
    for (;;) {
        const int n = tok.get_word(pos, end);
        if (n < 0) {
            if (tok.word.text && *tok.word.text == ')')
                PRINT('e', "pma3410", "Right paren out of order\n");
            else
                PRINT('e', "pcc0460", "Parsing failed : %s\n", tok.message.c_str());
            return false;
        }
        if (n == 0 || tok.next_pos() <= pos) return true;
        scanned.push_back(Scanned{tok.word.view(), tok.word.num_flags});
        pos = tok.next_pos();
    }
}

// Options before the name; i is left on the name. False after an error
// (reported).
bool read_options(const std::vector<Scanned>& w, size_t& i, MathDef& m) {
    for (; i < w.size(); ++i) {
        const std::string_view t = w[i].text;
        if (is_option(t, "decimal") || is_option(t, "initial")) {
            const bool decimal = t[0] == 'd' || t[0] == 'D';
            if (i + 1 >= w.size() || !numeric(w[i + 1])) {
                if (decimal)
                    PRINT('e', "pma3370", "Decimal speci" "fied without value in %s\n", m.text.c_str());
                else
                    PRINT('e', "pma3375", "Initial speci" "fied without value in %s\n", m.text.c_str());
                return false;
            }
            const double v = number_value(w[++i].text);
            if (decimal)  // a count of digits: whole, from 0 up
                m.decimals = static_cast<int16_t>(std::clamp(std::isnan(v) ? 0.0 : std::trunc(v), 0.0, kMaxDecimals));
            else
                m.initial = v;
        } else if (is_option(t, "noround")) {
            m.round = 0;
        } else if (is_option(t, "round")) {
            // the default
        } else if (is_option(t, "high")) {
            m.water = MathWater::high;
        } else if (is_option(t, "low")) {
            m.water = MathWater::low;
        } else {
            return true;
        }
    }
    return true;
}

} // namespace

int parse_math(curs& c, std::string_view text) {
    MathDef m;
    m.text.assign(text);
    const std::string buf = m.text + "    ";
    std::vector<Scanned> w;
    if (!scan_clause(buf, w)) return 1;

    size_t i = 0;
    if (!read_options(w, i, m)) return 1;
    if (i >= w.size()) {
        PRINT('e', "pma3382", "Math name missing in %s\n", m.text.c_str());
        return 1;
    }
    m.name.assign(w[i].text);
    if (m.name.size() > kMaxWord) {
        PRINT('e', "pma3380", "Math name too long : %s\n", m.name.c_str());
        return 1;
    }
    if (c.math)
        for (const MathDef& other : c.math->defs)
            if (other.name == m.name) {
                PRINT('e', "pma3385", "Duplicate use of math name %s\n", m.name.c_str());
                return 1;
            }

    for (++i; i < w.size(); ++i) {
        MathWord word;
        word.text.assign(w[i].text);
        word.kind = kind_of(w[i]);
        if (word.kind == MathKind::value) word.value = number_value(w[i].text);
        if (word.kind == MathKind::name && word.text.size() > kMaxWord) {
            PRINT('e', "pma3390", "Word in math expression is too long : %s\n", word.text.c_str());
            return 1;
        }
        if (word.kind == MathKind::left) ++m.paren_count;
        m.words.push_back(std::move(word));
    }
    if (c.tracem) trace_words(m);
    const bool balanced = parens_balance(m);
    if (!syntax_holds(m) || !balanced) return 1;

    m.math.resize(m.words.size());
    m.round_add = m.round ? 0.5 / std::pow(10.0, m.decimals) : 0.0;
    c.math.ensure().defs.push_back(std::move(m));
    return 0;
}

} // namespace qvx
