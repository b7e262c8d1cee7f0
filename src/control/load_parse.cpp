// Load statements: [AVERAGE|SUM|COUNT] source -> cursor.column
//                  [where test | from MIN|MAX|MAX_OCCURANCE column]
// read once every cursor is known, since a load names its target cursor.
#include <cctype>
#include <string>
#include <string_view>

#include "control/cursor.h"
#include "control/keyword_case.h"
#include "control/load_clause.h"
#include "model/cursor_list.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kSourceMax = 39;
constexpr size_t kTargetCursorMax = 9;
constexpr size_t kTargetColumnMax = 49;

bool blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }
bool digit(char ch) { return ch >= '0' && ch <= '9'; }
bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char ch : s)
        if (!digit(ch)) return false;
    return true;
}

// Reads a load text from left to right.
class LoadText {
public:
    explicit LoadText(std::string_view text) : t_(text) {}

    void skip_blanks() {
        while (at_ < t_.size() && blank(t_[at_])) ++at_;
    }
    bool done() {
        skip_blanks();
        return at_ >= t_.size();
    }
    // The next word up to a blank or any of the stop characters.
    std::string_view word(std::string_view stops = "") {
        skip_blanks();
        const size_t start = at_;
        while (at_ < t_.size() && !blank(t_[at_]) && stops.find(t_[at_]) == std::string_view::npos) {
            if (t_.substr(at_, 2) == "->") break;
            ++at_;
        }
        return t_.substr(start, at_ - start);
    }
    bool take(std::string_view s) {
        skip_blanks();
        if (t_.substr(at_, s.size()) != s) return false;
        at_ += s.size();
        return true;
    }
    // The next word when it is one of the keyword (either case), taken.
    bool take_keyword(std::string_view keyword) {
        skip_blanks();
        const size_t save = at_;
        if (keyword_matches(word(), keyword)) return true;
        at_ = save;
        return false;
    }
    std::string_view rest() {
        skip_blanks();
        return t_.substr(at_);
    }

private:
    std::string_view t_;
    size_t at_ = 0;
};

int column_index(const curs& c, std::string_view name) {
    for (size_t i = 0; i < c.cols.size(); ++i)
        if (c.cols[i].name == name) return static_cast<int>(i);
    return -1;
}

// The source: a column-list entry of this cursor, picked up through a
// scratch cursor so that a column-function prefix is seen; a bare number
// is a position counted from 0.
int parse_source(curs& c, LoadText& in, Load& load) {
    const std::string_view src = in.word();
    const char* name = c.cur_name.c_str();
    if (src.empty()) {
        PRINT('e', "plo3010", "No source column found for load in cursor %s\n", name);
        return 1;
    }
    load.src_form = std::string(src);
    if (all_digits(src)) {
        const long n = src.size() > 5 ? -1 : std::stol(std::string(src));
        if (n < 0 || n >= static_cast<long>(c.cols.size())) {
            PRINT('e', "plo3020", "Column %s not found in cursor %s for load %s\n", load.src_form.c_str(), name,
                  load.text.c_str());
            return 1;
        }
        load.src_col = static_cast<int16_t>(n);
        return 0;
    }
    curs scratch;
    if (src.size() > kSourceMax || add_column(src, scratch) != 0 || scratch.cols.size() != 1) {
        PRINT('e', "plo3015", "Bad source column text in %s\n", load.text.c_str());
        return 1;
    }
    const columns& entry = scratch.cols.front();
    load.src_funct = entry.col_funct;
    load.src_samples = entry.samples;
    const int at = column_index(c, entry.name);
    if (at < 0) {
        PRINT('e', "plo3020", "Column %s not found in cursor %s for load %s\n", entry.name.c_str(), name,
              load.text.c_str());
        return 1;
    }
    load.src_col = static_cast<int16_t>(at);
    return 0;
}

int parse_target(curs& c, LoadText& in, Load& load) {
    const char* name = c.cur_name.c_str();
    const char* text = load.text.c_str();
    if (!in.take("->")) {
        PRINT('e', "plo3025", "Bad syntax in load for cursor %s : %s\n", name, text);
        return 1;
    }
    const std::string target(in.word("."));
    if (target.empty()) {
        PRINT('e', "plo3030", "Target cursor name not found in cursor %s for load %s\n", name, text);
        return 1;
    }
    curs* t = target.size() <= kTargetCursorMax ? find_cursor(target) : nullptr;
    if (!t) {
        PRINT('e', "plo3035", "Target cursor (%s) not found for load %s in %s\n", target.c_str(), text, name);
        return 1;
    }
    if (!t->virtual_cur) {
        PRINT('e', "plo3040", "Target cursor (%s) in %s for %s is not virtual\n", target.c_str(), name, text);
        return 1;
    }
    load.target_cur = t;
    if (!in.take(".")) {
        PRINT('e', "plo3045", "Bad target cursor.column syntax in load %s for cursor %s\n", text, name);
        return 1;
    }
    const std::string col(in.word());
    if (col.empty()) {
        PRINT('e', "plo3050", "No target column name in cursor %s load %s\n", name, text);
        return 1;
    }
    int at = -1;
    if (digit(col.front())) {
        const long n = all_digits(col) && col.size() <= 5 ? std::stol(col) : 0;
        if (n >= 1 && n <= static_cast<long>(t->cols.size())) at = static_cast<int>(n - 1);
    } else if (col.size() <= kTargetColumnMax) {
        at = column_index(*t, col);
    }
    if (at < 0) {
        PRINT('e', "plo3055", "Target column (%s) not found for cursor %s load %s\n", col.c_str(), name, text);
        return 1;
    }
    load.target_col = static_cast<int16_t>(at);
    return 0;
}

// What follows the target: a where test or a from choice.
int parse_choice(curs& c, LoadText& in, Load& load) {
    const char* name = c.cur_name.c_str();
    const char* text = load.text.c_str();
    if (in.done()) return 0;
    if (in.take_keyword("where")) {
        load.has_where = true;
        return parse_decode_test(c, in.rest(), load.where_ops);
    }
    if (!in.take_keyword("from")) {
        PRINT('e', "plo3025", "Bad syntax in load for cursor %s : %s\n", name, text);
        return 1;
    }
    load.has_from = true;
    if (in.take_keyword("min")) load.is_min = true;
    else if (in.take_keyword("max")) load.is_max = true;
    else if (in.take_keyword("max_occurance")) load.is_max_occ = true;
    else {
        PRINT('e', "plo3070", "From requires min/max/max_occurance in load\n");
        return 1;
    }
    const std::string col(in.word());
    if (col.empty()) {
        PRINT('e', "plo3075", "No min_max column name in cursor %s load %s\n", name, text);
        return 1;
    }
    const int at = column_index(c, col);
    if (at < 0) {
        PRINT('e', "plo3080", "MIN-MAX column (%s) not found for cursor %s load %s\n", col.c_str(), name, text);
        return 1;
    }
    load.from_col = static_cast<int16_t>(at);
    if (!in.done()) {
        PRINT('e', "plo3025", "Bad syntax in load for cursor %s : %s\n", name, text);
        return 1;
    }
    return 0;
}

} // namespace

int parse_load(curs& c, const std::string& text, Load& load) {
    load = Load{};
    load.text = text;
    LoadText in(text);
    if (in.take_keyword("average")) load.is_average = true;
    else if (in.take_keyword("sum")) load.is_sum = true;
    else if (in.take_keyword("count")) load.is_count = true;
    if (parse_source(c, in, load) != 0 || parse_target(c, in, load) != 0 || parse_choice(c, in, load) != 0)
        return 1;
    if (load.src_funct != ColumnFunction::none && (load.has_where || load.has_from)) {
        PRINT('e', "plo3060", "Column function and load_where or load_from are incompatable\n");
        return 1;
    }
    if (load.has_from && (load.is_count || load.is_sum || load.is_average)) {
        PRINT('e', "plo3065", "Cannot have FROM directive with count/sum/average in load\n");
        return 1;
    }
    return 0;
}

int parse_loads() {
    bool failed = false;
    for (const auto& c : cur_anchor) {
        if (!c->load_list) continue;
        LoadClauses& clauses = *c->load_list;
        clauses.loads.clear();
        for (const std::string& text : clauses.texts) {
            Load load;
            if (parse_load(*c, text, load) != 0) {
                failed = true;
                continue;
            }
            clauses.loads.push_back(std::move(load));
        }
    }
    if (failed) {
        PRINT('e', "plo3085", "Load parsing ended with errors.\n");
        return 1;
    }
    PRINT('i', "plo3090", "Load parsing ended ok.\n");
    return 0;
}

} // namespace qvx
