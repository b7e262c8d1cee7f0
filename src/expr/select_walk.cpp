#include "expr/select_walk.h"

#include "runtime/messages.h"

namespace qvx {

int open_select_cursor(curs& c, SelectWalk& walk) {
    row_data* first = c.rows.first();
    if (!first) {
        PRINT('w', "SEL0010", "Cursor %s has no data\n", c.cur_name.c_str());
        return 100;
    }
    walk.at = SelectWalk::At::before_first;
    walk.row = nullptr;
    walk.saved = c.reading_row;
    walk.moves = first->next != nullptr;
    if (walk.moves) c.reading_row = first;
    return 0;
}

int fetch_next_row(curs& c, SelectWalk& walk) {
    switch (walk.at) {
    case SelectWalk::At::closed:
        PRINT('e', "SEL0030", "Cursor %s is not open for select\n", c.cur_name.c_str());
        return -1;
    case SelectWalk::At::before_first:
        walk.row = c.rows.first();
        if (!walk.row) return 100;  // the rows went meanwhile
        walk.at = SelectWalk::At::row;
        break;
    case SelectWalk::At::row:
        if (!walk.row->next) return 100;
        walk.row = walk.row->next;
        break;
    }
    if (walk.moves) c.reading_row = walk.row;
    return 0;
}

int close_select_cursor(curs& c, SelectWalk& walk) {
    c.bound = 0;
    if (walk.at == SelectWalk::At::closed) {
        PRINT('e', "SEL0015", "Cursor %s is not open for select\n", c.cur_name.c_str());
        return 1;
    }
    walk.at = SelectWalk::At::closed;
    walk.row = nullptr;
    if (!walk.moves) return 0;
    c.reading_row = walk.saved;
    if (!c.rows.last()) {
        PRINT('w', "SEL0020", "Cursor %s has no last row\n", c.cur_name.c_str());
        return 1;
    }
    return 0;
}

void chain_internal_res(std::string_view text, ResultChain& chain) { chain.emplace_back(text); }

std::string_view get_row_function_arg_part() { return ",rfa"; }

} // namespace qvx
