// The word scanner of control-file statements and the small text helpers
// the parsers share.
//
// Scanning never reads outside [start, end) of the buffer, whatever bytes
// the statement holds: every look-ahead is checked against the scan end.
#include "control/tokenizer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/messages.h"

namespace qvx {

namespace {

// A quoted part may hold at most this many characters after its opening
// quote (the statement buffer less its terminator and the quote itself).
constexpr int kMaxQuoted = 15998;
// Longest text kept in a syntax error message.
constexpr size_t kMaxMessage = 255;
// Text between parentheses kept by w_o_parens.
constexpr size_t kMaxParens = 3100;

constexpr char kShiftOut = 0x0E;
constexpr char kShiftIn = 0x0F;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Characters that end a number (and an exponent).
bool is_terminator(char c) {
    switch (c) {
    case ' ': case ',': case '(': case ')': case ':': case '?': case '+': case '/':
    case '*': case '-': case '=': case '<': case '>': case '~':
        return true;
    default:
        return false;
    }
}

bool is_arith(char c) { return c == '+' || c == '-' || c == '*' || c == '/'; }

// Comparison and logical operator characters ("~" is also the not sign).
bool is_compare(char c) { return c == '~' || c == '<' || c == '>' || c == '=' || c == '|'; }

// A character that may follow a number without gluing to it.
bool ends_number(char c) { return is_terminator(c) || c == '|' || c == ';'; }

} // namespace

Tokenizer::Tokenizer(const std::string& buffer) : buf_(buffer) {}

void Tokenizer::reset() {
    parens = 0;
    failed = false;
    message.clear();
}

void Tokenizer::errmsg(const char* reason, const char* word_text, int length, int position) {
    message = "Syntax error - ";
    if (position != 0) message += "Position = " + std::to_string(position + 1) + " ";
    message += reason ? reason : "";
    if (word_text) {
        message += ", Text = ";
        message.append(word_text, static_cast<size_t>(std::clamp(length, 0, 255)));
    }
    if (message.size() > kMaxMessage) message.resize(kMaxMessage);
    failed = true;
}

int Tokenizer::get_word(int start, int end) {
    const char* b = buf_.data();
    // Positions and lengths are 16-bit in the word record; nothing past
    // that (or past the buffer) is ever scanned.
    end = std::min({end, static_cast<int>(std::min<size_t>(buf_.size(), INT16_MAX))});
    start = std::max(start, 0);

    word = parse_word{};
    int i = start;
    while (i < end && b[i] == ' ') ++i;

    auto finish = [&](int s, int len) {
        word.text = b + s;
        word.length = static_cast<int16_t>(len);
        word.position = static_cast<int16_t>(s);
        this_start = s;
        this_len = len;
        next_ = s + len;
        return len;
    };

    if (i >= end) {
        word.text = b + std::min(i, static_cast<int>(buf_.size()));
        word.position = static_cast<int16_t>(std::min(i, static_cast<int>(INT16_MAX)));
        this_start = i;
        this_len = 0;
        next_ = i;
        return 0;
    }

    const int s = i;
    const char c = b[s];
    const char c1 = s + 1 < end ? b[s + 1] : ' ';

    // Parentheses.
    if (c == '(') {
        ++parens;
        word.flags = WF_PAREN;
        return finish(s, 1);
    }
    if (c == ')') {
        if (--parens < 0) {
            word.text = b + s;
            word.position = static_cast<int16_t>(s);
            this_start = s;
            this_len = 1;
            next_ = s + 1;
            errmsg("Right parenthesis without preceeding Left parenthesis", b + s, 1, s);
            return -1;
        }
        word.flags = WF_PAREN;
        return finish(s, 1);
    }

    // Numbers.
    bool numeric_start = is_digit(c) || ((c == '+' || c == '-') && (is_digit(c1) || c1 == '.')) ||
                         (c == '.' && is_digit(c1));
    if (numeric_start) {
        int len = scan_number(s, end);
        if (len > 0) return finish(s, len);
        // A sign without digits after it is an operator; a number glued
        // to letters ("12abc") is an ordinary word.
        if (len == 0) {
            word = parse_word{};
            word.flags = WF_ARITH;
            return finish(s, 1);
        }
        word = parse_word{};
        return scan_plain(s, end, false);
    }

    if (c == '-') {
        word.flags = WF_ARITH;
        return finish(s, 1);
    }
    if (c == ',') {
        word.flags = WF_COMMA;
        return finish(s, 1);
    }

    // Host variable: the ":" and the blanks after it are not part of the
    // word.
    if (c == ':') {
        int n = s + 1;
        while (n < end && b[n] == ' ') ++n;
        if (n >= end) {
            word.text = b + n;
            word.position = static_cast<int16_t>(n);
            this_start = n;
            this_len = 0;
            next_ = n;
            return 0;
        }
        // A ":" right before a ")" names nothing; the ")" is scanned as such.
        if (b[n] == ')') return get_word(n, end);
        return scan_plain(n, end, true);
    }

    if (is_arith(c)) {
        word.flags = WF_ARITH;
        return finish(s, 1);
    }

    if (is_compare(c)) {
        if (c == '|' && c1 == '|' && s + 1 < end) {
            word.flags = WF_CONCAT;
            return finish(s, 2);
        }
        word.flags = c == '|' ? 0 : WF_COMPARE;
        int len = (s + 1 < end && is_compare(c1)) ? 2 : 1;
        return finish(s, len);
    }

    return scan_plain(s, end, false);
}

// Scans a number starting at s. Returns its length; 0 when the text holds
// no digit (a lone sign or "+." is not a number); -1 when letters or other
// word characters follow the digits: "12abc" is then scanned as one
// ordinary word, since a number glued to a name is not a number and
// splitting it would hand the parsers two words nobody wrote.
int Tokenizer::scan_number(int s, int end) {
    const char* b = buf_.data();
    int i = s;
    if (b[i] == '+' || b[i] == '-') ++i;
    bool point = false;
    bool digits = false;
    while (i < end) {
        char c = b[i];
        if (is_digit(c)) {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        ++i;
    }
    if (!digits) return 0;
    const int mantissa_end = i;

    word.flags = WF_QUOTED;
    word.num_flags = NF_NUMERIC | (point ? NF_DECIMAL : 0);

    // A second decimal point ends the number; the rest is the next word.
    if (i >= end || ends_number(b[i]) || b[i] == '.') {
        if (i >= end || b[i] != ' ') return i - s;
    }

    // An exponent may follow, after blanks: "e" or "E", then a sign or a
    // digit.
    int j = i;
    while (j < end && b[j] == ' ') ++j;
    const bool blanks = j > i;
    if (j + 1 < end && (b[j] == 'e' || b[j] == 'E') &&
        (is_digit(b[j + 1]) || b[j + 1] == '+' || b[j + 1] == '-')) {
        int k = j + 1;
        int sign = 1;
        while (k < end && (b[k] == '+' || b[k] == '-')) {
            if (b[k] == '-') sign = -sign;
            ++k;
        }
        long value = 0;
        bool exp_digits = false;
        while (k < end && is_digit(b[k])) {
            exp_digits = true;
            value = std::min(value * 10 + (b[k] - '0'), 100000L);
            ++k;
        }
        if (exp_digits && (k >= end || ends_number(b[k]))) {
            word.exponent =
                static_cast<int16_t>(std::clamp(sign * value, long{INT16_MIN}, long{INT16_MAX}));
            word.num_flags |= NF_EXPONENT;
            return k - s;
        }
    }
    if (blanks || i >= end || ends_number(b[i]) || b[i] == '.') return mantissa_end - s;
    return -1;
}

// Scans an ordinary word (or the name of a host variable when host is
// set) starting at s.
int Tokenizer::scan_plain(int s, int end, bool host) {
    const char* b = buf_.data();
    word.flags = host ? WF_HOSTVAR : 0;
    int depth = 0;  // parentheses nested inside a host variable
    int i = s;
    while (i < end) {
        const char c = b[i];
        if (c == ' ') break;
        if (c == '\'' || c == '"' || c == kShiftOut) {
            const char close = c == kShiftOut ? kShiftIn : c;
            const int limit = std::min(end, i + 1 + kMaxQuoted);
            const char* found = static_cast<const char*>(
                std::memchr(b + i + 1, close, static_cast<size_t>(std::max(limit - i - 1, 0))));
            if (!found) {
                const bool dbcs = c == kShiftOut;
                const char* reason;
                if (end > limit)
                    reason = dbcs ? "Excessive length in a DBCS string"
                                  : "Excessive length in a string with a \" or '";
                else
                    reason = dbcs ? "Missing an ending SHIFT_IN within max word length"
                                  : "Missing an ending \" or ' within max word length";
                word.text = b + s;
                word.position = static_cast<int16_t>(s);
                word.length = static_cast<int16_t>(end - s);
                this_start = s;
                this_len = end - s;
                next_ = end;
                errmsg(reason, b + s, end - s, s);
                return -1;
            }
            word.flags |= WF_QUOTED;
            if (c == '\'') word.num_flags |= NF_SQUOTE;
            if (c == '"') word.num_flags |= NF_DQUOTE;
            i = static_cast<int>(found - b) + 1;
            continue;
        }
        if (c == '(') {
            if (!host) break;
            ++depth;
            ++i;
            continue;
        }
        if (c == ')') {
            if (depth == 0) break;
            --depth;
            ++i;
            continue;
        }
        if (c == '.') {
            word.flags |= WF_DOT;
            if (i + 1 < end && b[i + 1] == '*') {
                word.flags |= WF_QSTAR;
                i += 2;
                continue;
            }
            ++i;
            continue;
        }
        if (i > s) {
            if (c == ',' || c == ';' || c == ':' || is_compare(c)) break;
            if (!host && is_arith(c)) break;
        }
        ++i;
    }
    word.text = b + s;
    word.length = static_cast<int16_t>(i - s);
    word.position = static_cast<int16_t>(s);
    this_start = s;
    this_len = i - s;
    next_ = i;
    return i - s;
}

StatementScan::StatementScan(const std::string& text) : tok(text), text_(text) { tok.reset(); }

int StatementScan::next_word() {
    const int n = tok.get_word(pos, end());
    if (n >= 0) pos = tok.next_pos();
    return n;
}

int simple_get_word(std::string_view text, int start, int end, int* word_start, uint16_t* flags) {
    end = std::min(end, static_cast<int>(text.size()));
    int i = std::max(start, 0);
    if (flags) *flags = 0;
    while (i < end && text[i] == ' ') ++i;
    if (i < end && text[i] == ',') {
        ++i;
        while (i < end && text[i] == ' ') ++i;
    }
    if (word_start) *word_start = i;
    if (i >= end) return 0;

    const char c = text[i];
    if (c == '\'' || c == '"' || c == '\t') {
        if (flags) *flags = WF_COMMA;
        int j = i + 1;
        while (j < end && text[j] != c) ++j;
        int len = (j < end ? j + 1 : end) - i;
        return len < 2 ? 0 : len;
    }
    int j = i;
    while (j < end && text[j] != ' ' && text[j] != ',') ++j;
    return j - i;
}

int w_o_parens(std::string_view text, std::string& out) {
    out.clear();
    const size_t open = text.substr(0, kMaxParens).find('(');
    if (open == std::string_view::npos) {
        PRINT('e', "cat1925", "No opening parenthesis\n");
        return 0;
    }
    const std::string_view rest = text.substr(open + 1, kMaxParens + 1);
    const size_t close = rest.find(')');
    if (close == std::string_view::npos || close > kMaxParens) {
        PRINT('e', "cat1930", "No ending parenthesis\n");
        return 0;
    }
    out.assign(rest.substr(0, close));
    return static_cast<int>(out.size());
}

int pad_blanks(std::string& text, size_t width) {
    if (text.size() >= width) return 0;
    const size_t added = width - text.size();
    text.append(added, ' ');
    return static_cast<int>(added);
}

} // namespace qvx
