// Binding column exits once every cursor is known: each column takes the
// first unbound chain of its name, the CONCAT columns of that chain
// resolve by the column-reference rules, and a chain no column took is
// an error.
#include <algorithm>

#include "model/cursor_list.h"
#include "pipeline/column_exit.h"
#include "pipeline/column_ref.h"
#include "pipeline/cursor_run.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The CONCAT columns of a chain; false after an error (reported).
bool resolve_concats(curs& c, ColumnExitChain& chain) {
    bool good = true;
    for (ColumnExit& exit : chain.exits) {
        if (exit.routine != ExitRoutine::concat) continue;
        columns* col = nullptr;
        curs* owner = nullptr;
        if (find_col(c, exit.concat_name, col, owner) == 0 && col && owner) {
            exit.concat.cursor = owner;
            exit.concat.column = static_cast<int16_t>(col - owner->cols.data());
            continue;
        }
        PRINT('e', "pce4185", "Column (%s) in concatenate not found\n", exit.concat_name.c_str());
        good = false;
    }
    return good;
}

bool bind_cursor(curs& c) {
    ColumnExitClauses& list = *c.column_exit;
    bool good = true;
    list.in_column_order.clear();
    for (ColumnExitChain& chain : list.chains) {
        chain.bound = false;
        chain.column = -1;
    }
    for (size_t i = 0; i < c.cols.size(); ++i) {
        auto chain = std::find_if(list.chains.begin(), list.chains.end(), [&](const ColumnExitChain& ch) {
            return !ch.bound && ch.col_name == c.cols[i].name;
        });
        if (chain == list.chains.end()) continue;
        chain->bound = true;
        chain->column = static_cast<int16_t>(i);
        list.in_column_order.push_back(static_cast<size_t>(chain - list.chains.begin()));
        good = resolve_concats(c, *chain) && good;
    }
    for (const ColumnExitChain& chain : list.chains) {
        if (chain.bound) continue;
        PRINT('e', "pce4190", "Column %s in cursor %s not matched for column exit\n", chain.col_name.c_str(),
              c.cur_name.c_str());
        good = false;
    }
    return good;
}

} // namespace

int edit_col_exits() {
    bool good = true;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (!c.column_exit || is_age_to_copy(c)) continue;
        good = bind_cursor(c) && good;
    }
    if (!good) {
        PRINT('e', "pce4195", "Column exit editing failed\n");
        return 1;
    }
    PRINT('i', "pce4200", "Column exit editing was successful\n");
    return 0;
}

} // namespace qvx
