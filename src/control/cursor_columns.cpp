// Host variables: every ":" word of a cursor block declares a column.
//
// The word may carry, before the column name, a sample count, a declared
// type and a column function, and after it a forced length:
//   :5AVG!CPU    :INT!COUNT!SESSIONS    :TS!LOGON_TIME^16    :OTHER.COL
#include <algorithm>
#include <climits>
#include <string>

#include "control/cursor.h"
#include "control/keyword_case.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kMaxColumnName = 49;

template <class Code>
struct Prefix {
    const char* upper;  // written all upper or all lower case
    Code code;
};

constexpr Prefix<ColumnType> kTypes[] = {
    {"INT!", ColumnType::integer}, {"FLOAT!", ColumnType::floating}, {"TS!", ColumnType::timestamp}, {"NS!", ColumnType::no_send},
};

constexpr Prefix<ColumnFunction> kFunctions[] = {
    {"AVG!", ColumnFunction::avg},        {"SUM!", ColumnFunction::sum},         {"MIN!", ColumnFunction::min},
    {"MAX!", ColumnFunction::max},        {"WAVG!", ColumnFunction::wavg},       {"TREND!", ColumnFunction::trend},
    {"HW!", ColumnFunction::high_water},   {"LW!", ColumnFunction::low_water},     {"COUNT!", ColumnFunction::count},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Takes a prefix of the table off the front of text; its code, or none.
template <class Code, size_t N>
Code take_prefix(std::string_view& text, const Prefix<Code> (&table)[N]) {
    for (const Prefix<Code>& p : table) {
        std::string_view u(p.upper);
        if (keyword_prefix_matches(text, u)) {
            text.remove_prefix(u.size());
            return p.code;
        }
    }
    return Code::none;
}

// Takes leading digits off text; -1 when there are none.
long take_digits(std::string_view& text) {
    if (text.empty() || !is_digit(text.front())) return -1;
    long v = 0;
    while (!text.empty() && is_digit(text.front())) {
        v = std::min(v * 10 + (text.front() - '0'), static_cast<long>(INT16_MAX));
        text.remove_prefix(1);
    }
    return v;
}

} // namespace

int add_column(std::string_view word, curs& cursor) {
    const std::string_view written = word;
    columns col;
    long samples = take_digits(word);
    if (ColumnType t = take_prefix(word, kTypes); t != ColumnType::none) col.decl_type = t;
    if (long n = take_digits(word); n >= 0) samples = n;
    if (ColumnFunction f = take_prefix(word, kFunctions); f != ColumnFunction::none) {
        col.col_funct = f;
        if (f != ColumnFunction::high_water && f != ColumnFunction::low_water) cursor.has_col_funct = 1;
        if (f == ColumnFunction::min || f == ColumnFunction::max) cursor.has_minmax = 1;
    }
    if (ColumnType t = take_prefix(word, kTypes); t != ColumnType::none) col.decl_type = t;
    if (long n = take_digits(word); n >= 0) samples = n;
    if (samples >= 0) col.samples = static_cast<int16_t>(samples == 0 ? 1 : samples);

    // "^" and digits end the name wherever they stand.
    for (size_t i = 0; i + 1 < word.size(); ++i) {
        if (word[i] == '^' && is_digit(word[i + 1])) {
            std::string_view len = word.substr(i + 1);
            col.forced_len = static_cast<int16_t>(take_digits(len));
            word = word.substr(0, i);
            break;
        }
    }
    if (word.empty()) {
        PRINT('e', "pcc0513", "Host variable :%.*s names no column\n",
              static_cast<int>(written.size()), written.data());
        return 1;
    }
    if (word.size() > kMaxColumnName) {
        PRINT('w', "pcc0025", "Warning, truncating col_name %.*s\n", static_cast<int>(word.size()),
              word.data());
        word = word.substr(0, kMaxColumnName);
    }
    col.name.assign(word);
    col.name_len = static_cast<int16_t>(col.name.size());
    col.qualified = col.name.find('.') != std::string::npos;
    col.ordinal = static_cast<int16_t>(cursor.cols.size());
    cursor.cols.push_back(std::move(col));
    if (cursor.hv_count < INT16_MAX) ++cursor.hv_count;
    return 0;
}

} // namespace qvx
