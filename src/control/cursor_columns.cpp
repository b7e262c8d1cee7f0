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

struct Prefix {
    const char* upper;  // written all upper or all lower case
    int16_t code;
};

constexpr Prefix kTypes[] = {
    {"INT!", kTypeInteger}, {"FLOAT!", kTypeFloat}, {"TS!", kTypeTimestamp}, {"NS!", kTypeNs},
};

constexpr Prefix kFunctions[] = {
    {"AVG!", kFuncAvg},        {"SUM!", kFuncSum},         {"MIN!", kFuncMin},
    {"MAX!", kFuncMax},        {"WAVG!", kFuncWavg},       {"TREND!", kFuncTrend},
    {"HW!", kFuncHighWater},   {"LW!", kFuncLowWater},     {"COUNT!", kFuncCount},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Takes a prefix of the table off the front of text; its code, or 0.
template <size_t N>
int16_t take_prefix(std::string_view& text, const Prefix (&table)[N]) {
    for (const Prefix& p : table) {
        std::string_view u(p.upper);
        if (keyword_prefix_matches(text, u)) {
            text.remove_prefix(u.size());
            return p.code;
        }
    }
    return 0;
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
    if (int16_t t = take_prefix(word, kTypes)) col.decl_type = t;
    if (long n = take_digits(word); n >= 0) samples = n;
    if (int16_t f = take_prefix(word, kFunctions)) {
        col.col_funct = f;
        if (f != kFuncHighWater && f != kFuncLowWater) cursor.has_col_funct = 1;
        if (f == kFuncMin || f == kFuncMax) cursor.has_minmax = 1;
    }
    if (int16_t t = take_prefix(word, kTypes)) col.decl_type = t;
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
