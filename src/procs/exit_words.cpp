// What a fetch exit's command line runs as: an argument vector built from
// the pieces, or, for a line whose operator text uses the shell, "sh -c"
// with every collected value quoted for its place.
#include <cstring>

#include "procs/exit_command.h"

namespace qvx {

namespace {

constexpr const char* kShell = "/bin/sh";

// Words of the operator's text and the inserted values: blanks and TABs
// of the text end words, apostrophes and double quotes of the text group
// and are removed; a value's characters are taken as they stand.
class WordBuilder {
public:
    explicit WordBuilder(std::vector<std::string>& words) : words_(words) {}

    void text(const std::string& chars) {
        for (const char ch : chars) {
            if (quote_) {
                if (ch == quote_) quote_ = 0; else word_ += ch;
            } else if (ch == ' ' || ch == '\t') {
                end_word();
            } else if (ch == '\'' || ch == '"') {
                quote_ = ch;
                in_word_ = true;
            } else {
                word_ += ch;
                in_word_ = true;
            }
        }
    }

    void value(const std::string& chars) {
        word_ += chars;
        in_word_ = true;
    }

    // The in-list's values as words of their own; inside quotes one word.
    void list(const std::vector<std::string>& items) {
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                if (quote_) word_ += ' '; else end_word();
            }
            value(items[i]);
        }
    }

    void end_word() {
        if (in_word_) words_.push_back(std::move(word_));
        word_.clear();
        in_word_ = false;
    }

private:
    std::vector<std::string>& words_;
    std::string word_;
    bool in_word_ = false;
    char quote_ = 0;
};

// The shell line: the operator's text as written, every value quoted for
// the quoting in force where it goes.
class ShellLineBuilder {
public:
    void text(const std::string& chars) {
        for (const char ch : chars) {
            line_ += ch;
            if (escaped_) {
                escaped_ = false;
            } else if (state_ == '\'') {
                if (ch == '\'') state_ = 0;
            } else if (ch == '\\') {
                escaped_ = true;
            } else if (state_ == '"') {
                if (ch == '"') state_ = 0;
            } else if (ch == '\'' || ch == '"') {
                state_ = ch;
            }
        }
    }

    void value(const std::string& chars) {
        if (escaped_) {  // a value right after a backslash: the backslash escapes nothing of it
            line_ += '\\';
            escaped_ = false;
        }
        if (state_ == '"') {
            for (const char ch : chars) {
                if (std::strchr("\\$`\"", ch)) line_ += '\\';
                line_ += ch;
            }
        } else if (state_ == '\'') {
            line_ += "'" + shell_quoted(chars) + "'";
        } else {
            line_ += shell_quoted(chars);
        }
    }

    void list(const std::vector<std::string>& items) {
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) line_ += ' ';
            value(items[i]);
        }
    }

    const std::string& line() const { return line_; }

private:
    std::string line_;
    char state_ = 0;
    bool escaped_ = false;
};

template <typename Builder>
void feed(Builder& b, const std::vector<CommandPiece>& pieces) {
    for (const CommandPiece& p : pieces) {
        if (p.kind == CommandPiece::text) b.text(p.chars);
        else if (p.kind == CommandPiece::value) b.value(p.chars);
        else b.list(p.items);
    }
}

} // namespace

std::vector<std::string> CommandLine::words() const {
    if (needs_shell()) {
        ShellLineBuilder b;
        b.text(program + " ");
        feed(b, pieces);
        return {kShell, "-c", "( " + b.line() + " )"};
    }
    std::vector<std::string> words{program};
    WordBuilder b(words);
    feed(b, pieces);
    b.end_word();
    return words;
}

} // namespace qvx
