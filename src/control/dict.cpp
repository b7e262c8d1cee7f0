// DICT.CTL: the dictionary elements, one block of statements each:
//
//   name    element name;
//   type    CHAR(n) | INTEGER | FLOAT;
//   initial value | -parm [default] | %ENVNAME [default];
//   ...
//   end;
//
// Errors that leave the rest of the file readable (a name used twice, a
// bad type, a value that does not fit) are reported and reading goes on,
// so that one run shows them all; errors that leave the file's shape in
// doubt stop the reading. Either way the result is 1.
#include "control/dictionary.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <unordered_map>

#include "control/dict_parms.h"
#include "control/dict_values.h"
#include "control/reader.h"
#include "control/tokenizer.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

std::vector<std::unique_ptr<dict_element>> dict_anchor;

namespace {
// Name index over dict_anchor, so that look-ups (duplicate checks here,
// host variables of every cursor later) do not walk the list.
std::unordered_map<std::string, dict_element*> dict_index;
} // namespace

namespace {

constexpr size_t kMaxNameLength = 31;
constexpr int kMaxCharLength = 2048;
constexpr int kNumericLength = 16;

enum Keyword { kw_none = 0, kw_name = 1, kw_type = 2, kw_initial = 3, kw_number = 4, kw_end = 5 };

// Keywords are written all lower-case or all upper-case.
bool keyword_is(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) return false;
    bool all_lower = true;
    bool all_upper = true;
    for (size_t i = 0; i < word.size(); ++i) {
        const char l = lower[i];
        const char u = static_cast<char>(l - 'a' + 'A');
        all_lower = all_lower && word[i] == l;
        all_upper = all_upper && word[i] == u;
    }
    return all_lower || all_upper;
}

// Leading decimal digits of a word (with an optional sign), held within
// int range.
int decimal_value(std::string_view word) {
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    long long v = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i)
        v = std::min(v * 10 + (word[i] - '0'), static_cast<long long>(INT_MAX));
    return static_cast<int>(negative ? -v : v);
}

void banner_line(const char* id, int count) {
    PRINT('i', id, "%s\n", std::string(static_cast<size_t>(count), '-').c_str());
}

class DictParser {
public:
    int run(FILE* file, const std::string& path);

private:
    enum class Step { go_on, stop, stop_with_errors };

    Step statement();
    Step name_statement();
    Step type_statement();
    Step initial_statement();
    // Closes the element under construction; stop_with_errors when it
    // lacks a name, a type or a length.
    Step close_element();

    // Stores the initial value in the element's form; false (reported)
    // when it does not fit or memory ran out.
    bool store_value(dict_element& e, const std::string& value);
    // Next word of the statement; -1 after a syntax error (reported).
    int next_word();

    const std::string& buf() const { return reader_->buffer(); }
    int end() const { return static_cast<int>(buf().size()); }

    std::unique_ptr<StatementReader> reader_;
    std::unique_ptr<Tokenizer> tok_;
    int pos_ = 0;

    // The element under construction.
    std::unique_ptr<dict_element> cur_;
    std::optional<std::string> cur_value_;  // resolved, not yet stored
    bool cur_rejected_ = false;             // an error was reported for it

    bool first_ = true;
    bool errors_ = false;
};

bool DictParser::store_value(dict_element& e, const std::string& value) {
    try {
        e.initial = dict::store_initial(value, e.data_type, e.length);
    } catch (const std::bad_alloc&) {
        PRINT('e', e.data_type == 2 ? "pdc2155" : "pdc2160", "Insufficient memory\n");
        return false;
    }
    if (e.initial) return true;
    // A numeric value wider than its field is refused rather than cut: a
    // cut number would silently be a different number.
    const char* const around = " '\"";
    const size_t b = value.find_first_not_of(around);
    std::string shown;
    if (b != std::string::npos) shown = value.substr(b, value.find_last_not_of(around) + 1 - b);
    PRINT('e', "pdc2115", "Numeric initial value (%s) of %s exceeds %d characters\n", shown.c_str(),
          e.name.c_str(), e.length);
    return false;
}

int DictParser::next_word() {
    const int n = tok_->get_word(pos_, end());
    if (n < 0) {
        PRINT('e', "pdc2060", "Parsing failed : %s\n", tok_->message.c_str());
        return -1;
    }
    pos_ = tok_->next_pos();
    return n;
}

DictParser::Step DictParser::close_element() {
    if (!cur_) return Step::go_on;
    std::unique_ptr<dict_element> e = std::move(cur_);
    std::optional<std::string> value;
    value.swap(cur_value_);
    const bool rejected = cur_rejected_;
    cur_rejected_ = false;

    if (e->name.empty()) {
        PRINT('e', "pdc2080", "No  name\n");
        return Step::stop_with_errors;
    }
    if (rejected) return Step::go_on;  // its error is reported already
    if (!e->type_given) {
        PRINT('e', "pdc2085", "No data type\n");
        return Step::stop_with_errors;
    }
    if (e->length <= 0) {
        PRINT('e', "pdc2090", "No Length specified\n");
        return Step::stop_with_errors;
    }
    if (!value) {
        PRINT('i', "pdc2095", "No Initial value, using default\n");
    } else if (!store_value(*e, *value)) {
        errors_ = true;
        return Step::go_on;
    }
    dict_index.emplace(e->name, e.get());
    dict_anchor.push_back(std::move(e));
    return Step::go_on;
}

DictParser::Step DictParser::name_statement() {
    Step closed = close_element();
    if (closed != Step::go_on) return closed;

    const int n = next_word();
    if (n < 0) return Step::stop_with_errors;
    cur_ = std::make_unique<dict_element>();
    if (n == 0) return Step::go_on;  // no name: reported when it closes

    const std::string_view name = tok_->word.view();
    if (name.size() > kMaxNameLength) {
        PRINT('e', "pdc2100", "Dictionary element name is exceeds 29 characters\n");
        cur_.reset();
        return Step::stop_with_errors;
    }
    cur_->name.assign(name);
    if (find_dict_element(name)) {
        PRINT('e', "pdc2105", "Name previously used\n");
        cur_rejected_ = true;
        errors_ = true;
    }
    return Step::go_on;
}

DictParser::Step DictParser::type_statement() {
    const int n = next_word();
    if (n < 0) return Step::stop_with_errors;
    if (n == 0) return Step::stop;  // no argument: the end of the dictionary

    if (cur_->type_given) {
        PRINT('e', "pdc2130", "Duplicate data type\n");
        errors_ = true;
        return Step::go_on;
    }
    const std::string type(tok_->word.view());
    if (type == "CHAR" || type == "char") {
        const int p = next_word();
        if (p < 0) return Step::stop_with_errors;
        if (p != 1 || tok_->word.text[0] != '(') {
            PRINT('e', "pdc2140", "Duplicate data type\n");
            cur_rejected_ = true;
            errors_ = true;
            return Step::go_on;
        }
        const int l = next_word();
        if (l < 0) return Step::stop_with_errors;
        const int length = l > 0 ? decimal_value(tok_->word.view()) : 0;
        if (length > kMaxCharLength) {
            PRINT('e', "pdc2135", "ERR Length of %d exceeds maximum(%d)\n", length, kMaxCharLength);
            cur_rejected_ = true;
            errors_ = true;
            return Step::go_on;
        }
        cur_->data_type = 0;
        cur_->length = static_cast<int16_t>(std::max(length, 0));  // 0: "No Length" on close
        cur_->type_given = 1;
        return Step::go_on;
    }
    if (type == "INTEGER" || type == "integer" || type == "FLOAT" || type == "float") {
        cur_->data_type = 2;
        cur_->length = kNumericLength;
        cur_->type_given = 1;
        return Step::go_on;
    }
    PRINT('e', "pdc2145", "Invalid data type\n");
    cur_rejected_ = true;
    errors_ = true;
    return Step::go_on;
}

DictParser::Step DictParser::initial_statement() {
    // The value is the rest of the statement, blanks included.
    int start = pos_;
    while (start < end() && buf()[static_cast<size_t>(start)] == ' ') ++start;
    if (start >= end()) return Step::stop;  // no argument: the end of the dictionary
    cur_value_ = dict::resolve_initial(std::string_view(buf()).substr(static_cast<size_t>(start)));
    return Step::go_on;
}

DictParser::Step DictParser::statement() {
    tok_ = std::make_unique<Tokenizer>(buf());
    tok_->reset();
    pos_ = 0;

    const int n = next_word();
    if (n < 0) return Step::stop_with_errors;
    if (n == 0) return Step::go_on;
    const std::string keyword(tok_->word.view());
    const int kw = test_dict_word(keyword);

    if (first_) {
        first_ = false;
        if (kw != kw_name) {
            PRINT('e', keyword.size() != 4 ? "pdc2070" : "pdc2075", "First word must be 'name'\n");
            return Step::stop_with_errors;
        }
    }

    // Every element begins with a name statement, so there is always one
    // under construction here; the check only guards the record.
    if (!cur_ && (kw == kw_type || kw == kw_initial || kw == kw_number))
        return Step::stop_with_errors;

    switch (kw) {
    case kw_name:
        return name_statement();
    case kw_type:
        return type_statement();
    case kw_initial:
        return initial_statement();
    case kw_number: {
        const int a = next_word();
        if (a < 0) return Step::stop_with_errors;
        if (a == 0) return Step::stop;
        cur_->data_type = 2;
        return Step::go_on;
    }
    case kw_end: {
        Step closed = close_element();
        return closed == Step::go_on ? Step::stop : closed;
    }
    default:
        PRINT('e', "pdc2065", "Unknown keyword (%s)\n", keyword.c_str());
        return Step::stop_with_errors;
    }
}

int DictParser::run(FILE* file, const std::string& path) {
    reader_ = std::make_unique<StatementReader>(
        file, [](const std::string& line) { PRINT('t', "pdc2055", "%s", line.c_str()); }, path);

    for (;;) {
        const StatementReader::Result r = reader_->next();
        if (r == StatementReader::Result::end_of_file) break;
        if (r == StatementReader::Result::too_long) {  // reported by the reader
            errors_ = true;
            continue;
        }
        const Step step = statement();
        if (step == Step::stop) break;
        if (step == Step::stop_with_errors) {
            errors_ = true;
            break;
        }
    }
    // An element still open here had no "name" or "end" after it: it is
    // not kept.
    cur_.reset();
    return errors_ ? 1 : 0;
}

} // namespace

int test_dict_word(std::string_view word) {
    if (keyword_is(word, "name")) return kw_name;
    if (keyword_is(word, "type")) return kw_type;
    if (keyword_is(word, "initial")) return kw_initial;
    if (keyword_is(word, "number")) return kw_number;
    if (keyword_is(word, "end")) return kw_end;
    return kw_none;
}

dict_element* find_dict_element(std::string_view name) {
    // Elements appended to the list directly join the index here.
    if (dict_index.size() != dict_anchor.size()) {
        dict_index.clear();
        for (const auto& e : dict_anchor) dict_index.emplace(e->name, e.get());
    }
    auto it = dict_index.find(std::string(name));
    return it == dict_index.end() ? nullptr : it->second;
}

void reset_dictionary() {
    dict_anchor.clear();
    dict_index.clear();
}

int parse_dict() {
    reset_dictionary();
    std::string path;
    InputFile file = u_openInputFile("dict", &path);
    if (!file) return 1;

    banner_line("pdc2040", 50);
    PRINT('i', "pdc2045", "-- Starting parse of DICT.CTL -- Time: %s\n", form_time().c_str());
    banner_line("pdc2050", 51);
    if (trace_all) {
        for (const auto& p : dict_parms())
            PRINT('t', "pdc2164", "Parm Name= %s, Value= %s\n", p.name.c_str(), p.value.c_str());
    }

    DictParser parser;
    const int result = parser.run(file.get(), path);

    if (trace_all) {
        for (const auto& e : dict_anchor) {
            PRINT('t', "pdc2165", "Name = %s, Type = %d, len = %d", e->name.c_str(), e->data_type,
                  e->length);
            // The rest of the same line carries no prefix of its own.
            if (e->initial)
                PRINT('-', "pdc2170", ", Initial = %s.\n", e->initial->c_str());
            else
                PRINT('-', "pdc2170", "\n");
        }
    }
    banner_line("ptc4725", 45);
    PRINT('i', "ptc4740", "--  Dict Control Parsing ended at %s\n", form_time().c_str());
    banner_line("ptc4735", 45);
    if (result != 0) PRINT('e', "pdc2180", "Parsing ended with errors\n");
    return result;
}

} // namespace qvx
