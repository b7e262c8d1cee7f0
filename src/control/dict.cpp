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
#include "control/keyword_case.h"
#include "control/parse_support.h"
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
struct DictKeyword {
    const char* word;
    Keyword code;
};

constexpr DictKeyword kKeywords[] = {
    {"name", kw_name},     {"type", kw_type}, {"initial", kw_initial},
    {"number", kw_number}, {"end", kw_end},
};

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

class DictParser {
public:
    int run(FILE* file, const std::string& path);

private:
    using Flow = StatementFlow;

    Flow statement(StatementScan& scan);
    Flow name_statement();
    Flow type_statement();
    Flow char_length();
    Flow initial_statement();
    Flow number_statement();
    // Closes the element under construction; it stops with errors when
    // the element lacks a name, a type or a length.
    Flow close_element();
    // An error that stops the reading: the file has errors.
    Flow stop_with_errors() {
        errors_ = true;
        return Flow::stop;
    }
    // An error that leaves the rest of the file readable; rejected when
    // the element under construction is not kept.
    Flow go_on_with_errors(bool rejected) {
        if (rejected) cur_rejected_ = true;
        errors_ = true;
        return Flow::next;
    }

    // Stores the initial value in the element's form; false (reported)
    // when it does not fit or memory ran out.
    bool store_value(dict_element& e, const std::string& value);
    // Next word of the statement; -1 after a syntax error (reported).
    int next_word();

    const parse_word& word() const { return scan_->tok.word; }

    StatementScan* scan_ = nullptr;  // the current statement

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
    const int n = scan_->next_word();
    if (n < 0) PRINT('e', "pdc2060", "Parsing failed : %s\n", scan_->tok.message.c_str());
    return n;
}

DictParser::Flow DictParser::close_element() {
    if (!cur_) return Flow::next;
    std::unique_ptr<dict_element> e = std::move(cur_);
    std::optional<std::string> value;
    value.swap(cur_value_);
    const bool rejected = cur_rejected_;
    cur_rejected_ = false;

    if (e->name.empty()) {
        PRINT('e', "pdc2080", "No  name\n");
        return stop_with_errors();
    }
    if (rejected) return Flow::next;  // its error is reported already
    if (!e->type_given) {
        PRINT('e', "pdc2085", "No data type\n");
        return stop_with_errors();
    }
    if (e->length <= 0) {
        PRINT('e', "pdc2090", "No Length specified\n");
        return stop_with_errors();
    }
    if (!value) {
        PRINT('i', "pdc2095", "No Initial value, using default\n");
    } else if (!store_value(*e, *value)) {
        return go_on_with_errors(false);
    }
    dict_index.emplace(e->name, e.get());
    dict_anchor.push_back(std::move(e));
    return Flow::next;
}

DictParser::Flow DictParser::name_statement() {
    const Flow closed = close_element();
    if (closed != Flow::next) return closed;

    const int n = next_word();
    if (n < 0) return stop_with_errors();
    cur_ = std::make_unique<dict_element>();
    if (n == 0) return Flow::next;  // no name: reported when it closes

    const std::string_view name = word().view();
    if (name.size() > kMaxNameLength) {
        PRINT('e', "pdc2100", "Dictionary element name is exceeds 29 characters\n");
        cur_.reset();
        return stop_with_errors();
    }
    cur_->name.assign(name);
    if (find_dict_element(name)) {
        PRINT('e', "pdc2105", "Name previously used\n");
        return go_on_with_errors(true);
    }
    return Flow::next;
}

DictParser::Flow DictParser::type_statement() {
    const int n = next_word();
    if (n < 0) return stop_with_errors();
    if (n == 0) return Flow::stop;  // no argument: the end of the dictionary

    if (cur_->type_given) {
        PRINT('e', "pdc2130", "Duplicate data type\n");
        return go_on_with_errors(false);
    }
    const std::string_view type = word().view();
    if (keyword_matches(type, "char")) return char_length();
    if (keyword_matches(type, "integer") || keyword_matches(type, "float")) {
        cur_->data_type = 2;
        cur_->length = kNumericLength;
        cur_->type_given = 1;
        return Flow::next;
    }
    PRINT('e', "pdc2145", "Invalid data type\n");
    return go_on_with_errors(true);
}

// The "(n)" after CHAR.
DictParser::Flow DictParser::char_length() {
    const int p = next_word();
    if (p < 0) return stop_with_errors();
    if (p != 1 || word().text[0] != '(') {
        PRINT('e', "pdc2140", "Duplicate data type\n");
        return go_on_with_errors(true);
    }
    const int l = next_word();
    if (l < 0) return stop_with_errors();
    const int length = l > 0 ? decimal_value(word().view()) : 0;
    if (length > kMaxCharLength) {
        PRINT('e', "pdc2135", "ERR Length of %d exceeds maximum(%d)\n", length, kMaxCharLength);
        return go_on_with_errors(true);
    }
    cur_->data_type = 0;
    cur_->length = static_cast<int16_t>(std::max(length, 0));  // 0: "No Length" on close
    cur_->type_given = 1;
    return Flow::next;
}

DictParser::Flow DictParser::initial_statement() {
    // The value is the rest of the statement, blanks included.
    const std::string& text = scan_->text();
    int start = scan_->pos;
    while (start < scan_->end() && text[static_cast<size_t>(start)] == ' ') ++start;
    if (start >= scan_->end()) return Flow::stop;  // no argument: the end of the dictionary
    cur_value_ = dict::resolve_initial(std::string_view(text).substr(static_cast<size_t>(start)));
    return Flow::next;
}

DictParser::Flow DictParser::number_statement() {
    const int a = next_word();
    if (a < 0) return stop_with_errors();
    if (a == 0) return Flow::stop;  // no argument: the end of the dictionary
    cur_->data_type = 2;
    return Flow::next;
}

DictParser::Flow DictParser::statement(StatementScan& scan) {
    scan_ = &scan;
    const int n = next_word();
    if (n < 0) return stop_with_errors();
    if (n == 0) return Flow::next;
    const std::string keyword(word().view());
    const int kw = test_dict_word(keyword);

    if (first_) {
        first_ = false;
        if (kw != kw_name) {
            PRINT('e', keyword.size() != 4 ? "pdc2070" : "pdc2075", "First word must be 'name'\n");
            return stop_with_errors();
        }
    }

    // Every element begins with a name statement, so there is always one
    // under construction here; the check only guards the record.
    if (!cur_ && (kw == kw_type || kw == kw_initial || kw == kw_number)) return stop_with_errors();

    switch (kw) {
    case kw_name:
        return name_statement();
    case kw_type:
        return type_statement();
    case kw_initial:
        return initial_statement();
    case kw_number:
        return number_statement();
    case kw_end: {
        const Flow closed = close_element();
        return closed == Flow::next ? Flow::stop : closed;
    }
    default:
        PRINT('e', "pdc2065", "Unknown keyword (%s)\n", keyword.c_str());
        return stop_with_errors();
    }
}

int DictParser::run(FILE* file, const std::string& path) {
    read_statements(file, path, {'t', "pdc2055"}, errors_,
                    [this](StatementScan& scan) { return statement(scan); });
    // An element still open here had no "name" or "end" after it: it is
    // not kept.
    cur_.reset();
    return errors_ ? 1 : 0;
}

} // namespace

int test_dict_word(std::string_view word) {
    const DictKeyword* k = match_keyword(kKeywords, word);
    return k ? k->code : kw_none;
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

    dashes("pdc2040", 50);
    PRINT('i', "pdc2045", "-- Starting parse of DICT.CTL -- Time: %s\n", form_time().c_str());
    dashes("pdc2050", 51);
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
    dashes("ptc4725", 45);
    PRINT('i', "ptc4740", "--  Dict Control Parsing ended at %s\n", form_time().c_str());
    dashes("ptc4735", 45);
    if (result != 0) PRINT('e', "pdc2180", "Parsing ended with errors\n");
    return result;
}

} // namespace qvx
