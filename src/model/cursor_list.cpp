// The cursor list: the cursors in file order and a name index over them.
#include "model/cursor_list.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace qvx {

std::vector<std::unique_ptr<curs>> cur_anchor;
std::string last_version_update_time;

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

std::vector<void (*)()>& cleanup_steps() {
    static std::vector<void (*)()> steps;
    return steps;
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


void on_delete_cursors(void (*step)()) {
    auto& steps = cleanup_steps();
    if (std::find(steps.begin(), steps.end(), step) == steps.end()) steps.push_back(step);
}

void delete_cursors() {
    // Rows go with their cursors; whoever points into them forgets first.
    for (auto* step : cleanup_steps()) step();
    cur_anchor.clear();
    last_version_update_time.clear();
    CursorIndex& index = cursor_index();
    index.by_name.clear();
    index.indexed = 0;
}

} // namespace qvx
