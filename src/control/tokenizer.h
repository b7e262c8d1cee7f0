// The word scanner of control-file statements.
//
// get_word scans the next word of the statement buffer between two
// positions and describes it in the word record: where it starts, how long
// it is and what kind of word it is (flags). A syntax error sets failed and
// a message "Syntax error - Position = n reason, Text = word".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

// Word kinds (parse_word::flags).
enum : uint16_t {
    WF_HOSTVAR = 1,    // introduced by ":"
    WF_PAREN = 2,      // "(" or ")"
    WF_COMPARE = 4,    // comparison or logical operator
    WF_COMMA = 8,      // ","
    WF_ARITH = 16,     // arithmetic operator or lone minus
    WF_QSTAR = 64,     // qualified star ".*"
    WF_QUOTED = 128,   // quoted string or number
    WF_CONCAT = 256,   // "||"
    WF_DOT = 512,      // contains a "." (qualified name)
};

// Number flags (parse_word::num_flags).
enum : uint16_t {
    NF_DECIMAL = 1,
    NF_EXPONENT = 2,
    NF_NUMERIC = 4,
    NF_SQUOTE = 8,
    NF_DQUOTE = 16,
};

struct parse_word {
    const char* text = nullptr;  // first character of the word in the buffer
    int16_t length = 0;          // characters
    int16_t position = 0;        // offset of the word from the buffer start
    uint16_t flags = 0;
    int16_t exponent = 0;
    uint16_t num_flags = 0;

    std::string_view view() const { return {text, static_cast<size_t>(length)}; }
};

class Tokenizer {
public:
    // The buffer must outlive the tokenizer.
    explicit Tokenizer(const std::string& buffer);

    // Scans the next word in [start, end). Returns its length, 0 when
    // nothing is left, -1 after a syntax error.
    int get_word(int start, int end);

    // Position right after the last word scanned (where the next scan
    // starts).
    int next_pos() const { return next_; }

    // Clears the parenthesis depth and the failure switch.
    void reset();

    // Builds the syntax error message and sets failed.
    void errmsg(const char* reason, const char* word, int length, int position);

    parse_word word;
    int this_start = 0;
    int this_len = 0;
    int parens = 0;
    bool failed = false;
    std::string message;  // at most 255 characters

private:
    int scan_number(int start, int end);
    int scan_plain(int start, int end, bool host);

    const std::string& buf_;
    int next_ = 0;
};

// One statement read word by word: its scanner and where the next word
// is looked for. Every parser reads its statements through one of these.
class StatementScan {
public:
    // The text must outlive the scan.
    explicit StatementScan(const std::string& text);

    const std::string& text() const { return text_; }
    int end() const { return static_cast<int>(text_.size()); }

    // Scans the next word from pos (tok.word describes it) and moves pos
    // past it. Returns its length, 0 when nothing is left, -1 after a
    // syntax error (tok.message; pos then stays).
    int next_word();

    Tokenizer tok;
    int pos = 0;

private:
    const std::string& text_;
};

// Plain splitter for lists inside clauses: skips blanks and at most one
// comma with the blanks after it; a word beginning with a quote or a tab
// runs to the next identical character (included) and gets WF_COMMA; any
// other word runs to the next blank, comma or end. Returns the length
// (0 when nothing, or for a quoted word shorter than 2); *word_start gets
// the word's start and *flags its flags.
int simple_get_word(std::string_view text, int start, int end, int* word_start, uint16_t* flags);

// Copies the text between the first "(" and the next ")" into out (at
// most 3100 characters) and returns its length; 0 with cat1925/cat1930
// when a parenthesis is missing.
int w_o_parens(std::string_view text, std::string& out);

// Fills text with blanks up to width; returns the number added.
int pad_blanks(std::string& text, size_t width);

} // namespace qvx
