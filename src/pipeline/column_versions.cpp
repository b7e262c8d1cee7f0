#include "pipeline/column_versions.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "control/versions.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kNameField = 50;  // column names compare over this many bytes

bool same_name(std::string_view a, std::string_view b) {
    return a.substr(0, std::min(a.size(), kNameField)) == b.substr(0, std::min(b.size(), kNameField));
}

// The column of one version; positions count from 1.
columns* column_in(curs& version, std::string_view name, bool positions) {
    if (positions && !name.empty() && name[0] >= '0' && name[0] <= '9') {
        int position = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), position);
        (void)end;
        if (ec != std::errc() || position < 1 || static_cast<size_t>(position) > version.cols.size()) return nullptr;
        return &version.cols[static_cast<size_t>(position) - 1];
    }
    for (columns& col : version.cols)
        if (same_name(col.name, name)) return &col;
    return nullptr;
}

int search(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out, bool positions) {
    if (columns* own = column_in(cursor, name, positions)) {
        column_out = own;
        cursor_out = &cursor;
        return 0;
    }
    const std::vector<curs*> others = other_versions(cursor);
    if (others.empty()) return 1;
    const std::string shown(name);
    if (!version_stamp(cursor).empty())
        PRINT('w', "csv3300",
              "Column %s not found in the active version of the cursor %s:going through inactive versions\n",
              shown.c_str(), cursor.cur_name.c_str());
    curs* newest = nullptr;
    columns* found = nullptr;
    for (curs* version : others) {
        columns* col = column_in(*version, name, positions);
        if (col && (!newest || version_stamp(*version) > version_stamp(*newest))) {
            newest = version;
            found = col;
        }
    }
    if (!found) return 1;
    PRINT('w', "csv3305", "Column %s found in alternative version of the cursor %s: incorrect data or abend possible.\n",
          shown.c_str(), cursor.cur_name.c_str());
    column_out = found;
    cursor_out = newest;
    return 0;
}

} // namespace

std::vector<curs*> other_versions(curs& cursor) {
    std::vector<curs*> out = cursor_versions(cursor);
    out.erase(out.begin());
    return out;
}

std::string_view version_stamp(const curs& version) { return version.vers_time; }

int search_curs_vers_insert(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out) {
    return search(cursor, name, column_out, cursor_out, true);
}

int search_curs_vers(curs& cursor, std::string_view name, columns*& column_out, curs*& cursor_out) {
    return search(cursor, name, column_out, cursor_out, false);
}

} // namespace qvx
