// The cursor list: the cursors in file order, a name index over them, and
// the start-up step that turns COLLECT.CTL into ready cursors.
#include "control/cursor.h"

#include <string>
#include <unordered_map>

#include "pipeline/percent_cursor.h"
#include "pipeline/server_status.h"
#include "pipeline/virtual_cursors.h"
#include "runtime/lifecycle.h"

namespace qvx {

std::vector<std::unique_ptr<curs>> cur_anchor;

namespace {

// Name index over cur_anchor. A collector may hold thousands of cursors
// and every clause that names another cursor looks it up, so the list is
// never walked for a name.
struct CursorIndex {
    std::unordered_map<std::string, curs*> by_name;
    size_t indexed = 0;  // entries of cur_anchor the index covers

    void rebuild() {
        by_name.clear();
        by_name.reserve(cur_anchor.size());
        for (auto& c : cur_anchor) by_name.emplace(c->cur_name, c.get());
        indexed = cur_anchor.size();
    }
};

CursorIndex& cursor_index() {
    static CursorIndex index;
    return index;
}

} // namespace

curs& add_cursor(std::unique_ptr<curs> cursor) {
    CursorIndex& index = cursor_index();
    if (index.indexed != cur_anchor.size()) index.rebuild();
    curs& c = *cursor;
    cur_anchor.push_back(std::move(cursor));
    index.by_name.emplace(c.cur_name, &c);  // the first of a name wins, as in the list
    index.indexed = cur_anchor.size();
    return c;
}

curs* find_cursor(std::string_view name) {
    CursorIndex& index = cursor_index();
    if (index.indexed != cur_anchor.size()) index.rebuild();
    auto it = index.by_name.find(std::string(name));
    if (it == index.by_name.end()) return nullptr;
    if (it->second->cur_name == name) return it->second;
    // The cursor was renamed behind the index: index the list again.
    index.rebuild();
    it = index.by_name.find(std::string(name));
    return it == index.by_name.end() ? nullptr : it->second;
}

void delete_cursors() {
    // Rows go with their cursors; the percent variables with "%CURSOR".
    forget_percent_cursor();
    servstatus = nullptr;
    servstatus_len = 0;
    cur_anchor.clear();
    CursorIndex& index = cursor_index();
    index.by_name.clear();
    index.indexed = 0;
}

void set_operate(std::vector<OpRange>& list, long start, long end) {
    if (end < start) end += 86400;
    list.push_back(OpRange{static_cast<int32_t>(start), static_cast<int32_t>(end)});
}

int init_cursors() {
    int rc = parse_curs();
    if (rc == 0) rc = create_percent_cursor();
    if (rc == 0) rc = init_virtuals();
    // After COLLECT.CTL, and stopping at the first failure, these steps
    // bind the clauses kept on the cursors: percent cursors, virtual
    // cursors, age_to, the version chains, decodes, pre_cursor, in_list,
    // base, math, column exits, iterate, iterate_where, the loads (parse,
    // then edit) and last the qualified names.
    if (rc != 0) {
        delete_cursors();
        quitting(-1001);
    }
    return rc;
}

} // namespace qvx
