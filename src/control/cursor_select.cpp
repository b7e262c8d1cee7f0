// The SELECT text of a cursor: written out with insert_select, or built
// from the cursor's columns. Columns the collector fills itself (the
// "%" pseudo-columns) are not fetched, and a name used by several host
// variables (:AVG!CPU and :CPU) is fetched once.
#include <string>
#include <string_view>
#include <unordered_set>

#include "control/cursor.h"
#include "control/keyword_case.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr std::string_view kPseudoColumns[] = {
    "%rowno",     "%machine",       "%now_time",        "%now_secs", "%sampleno",
    "%machine_me", "%execution_time", "%current_interval", "%me",
};
constexpr std::string_view kSqlcodePrefix = "%sqlcode_";

// Pseudo-column names are written all lower or all upper case.
bool is_pseudo_column(std::string_view name) {
    if (name.empty() || name.front() != '%') return false;
    if (keyword_prefix_matches(name, kSqlcodePrefix)) return true;
    for (std::string_view p : kPseudoColumns)
        if (keyword_matches(name, p)) return true;
    return false;
}

} // namespace

int set_selects(curs& cursor) {
    std::string sel;
    bool listed = false;
    if (cursor.raw_insert_select) {
        sel = *cursor.raw_insert_select;
    } else {
        sel = "SELECT ";
        std::unordered_set<std::string_view> seen;
        seen.reserve(cursor.cols.size());
        for (const columns& col : cursor.cols) {
            if (is_pseudo_column(col.name) || !seen.insert(col.name).second) continue;
            sel += col.name;
            sel += ',';
            listed = true;
        }
        if (listed) {
            sel.pop_back();
            sel += " FROM ";
            sel += cursor.table_name;
        }
    }
    if (cursor.insert_where) {
        sel += " WHERE ";
        sel += *cursor.insert_where;
    }
    if (!cursor.raw_insert_select && !listed) {
        PRINT('E', "PCC0020", "Error - No columns to fetch\n");
        return 1;
    }
    cursor.sel_piece = std::move(sel);
    return 0;
}

} // namespace qvx
