// A script's output lines: message-form lines, rows, and the words of a
// row put into the columns they fill.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "control/tokenizer.h"
#include "procs/script_exit.h"

namespace qvx {

namespace {

constexpr int kTokenizerMode = 1;
constexpr size_t kMessageMin = 9;

bool upper(char ch) { return ch >= 'A' && ch <= 'Z'; }
bool digit(char ch) { return ch >= '0' && ch <= '9'; }

// "ABC1234W text": three capitals, four digits, a level E, W, I or T and
// a blank.
bool message_form(std::string_view s) {
    if (s.size() < kMessageMin) return false;
    for (size_t i = 0; i < 3; ++i)
        if (!upper(s[i])) return false;
    for (size_t i = 3; i < 7; ++i)
        if (!digit(s[i])) return false;
    return std::strchr("EWIT", s[7]) != nullptr && s[7] != '\0' && s[8] == ' ';
}

// A word without its quotes (or the tabs a tab-delimited word keeps).
std::string_view unquoted(std::string_view w) {
    if (w.size() >= 2 && (w.front() == '\'' || w.front() == '"') && w.back() == w.front())
        return w.substr(1, w.size() - 2);
    while (!w.empty() && w.front() == '\t') w.remove_prefix(1);
    while (!w.empty() && w.back() == '\t') w.remove_suffix(1);
    return w;
}

void put_word(SelectDescriptor& d, size_t i, std::string_view word) {
    const size_t width = static_cast<size_t>(std::max(d.items[i].buf_len, 0));
    char* dst = d.buffer.data() + d.offset[i];
    d.indicator[i] = 1;
    std::memset(dst, ' ', width);
    word = unquoted(word).substr(0, width);
    const size_t at = d.items[i].type == kDbNumber ? width - word.size() : 0;
    std::memcpy(dst + at, word.data(), word.size());
}

// The words of a row, one at a time.
class RowWords {
public:
    RowWords(std::string_view row, int mode) : text_(row), tok_(text_), mode_(mode) {}

    bool next(std::string_view& word) {
        const int end = static_cast<int>(text_.size());
        if (mode_ == kTokenizerMode) {
            if (tok_.get_word(pos_, end) <= 0) return false;
            word = tok_.word.view();
            pos_ = tok_.next_pos();
            return true;
        }
        int start = 0;
        uint16_t flags = 0;
        const int len = simple_get_word(text_, pos_, end, &start, &flags);
        if (len <= 0) return false;
        word = std::string_view(text_).substr(static_cast<size_t>(start), static_cast<size_t>(len));
        pos_ = start + len;
        return true;
    }

private:
    std::string text_;
    Tokenizer tok_;
    int mode_;
    int pos_ = 0;
};

} // namespace

ScriptLine route_script_line(std::string_view line, std::string_view& row) {
    if (line.substr(0, 2) == "->") {
        row = line.substr(2);
        return ScriptLine::row;
    }
    row = line;
    return message_form(line) ? ScriptLine::message : ScriptLine::row;
}

int fill_script_row(SelectDescriptor& d, std::string_view row, int mode) {
    std::fill(d.indicator.begin(), d.indicator.end(), static_cast<int16_t>(-1));
    RowWords words(row, mode);
    size_t filled = 0;
    std::string_view word;
    while (filled < d.items.size() && words.next(word)) put_word(d, filled++, word);
    return static_cast<int>(filled);
}

} // namespace qvx
