// The cursor list: every cursor in file order and the look-up by name.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"

namespace qvx {

// All cursors in file order.
extern std::vector<std::unique_ptr<curs>> cur_anchor;

// Appends a cursor to cur_anchor and to the name index that find_cursor
// uses. Cursors should join the list this way; one pushed directly is
// still found (the index is rebuilt when it no longer matches the list).
curs& add_cursor(std::unique_ptr<curs> cursor);

// Time text of the last version tune-up of the collection pass (empty
// before the first); a column read cached before it is looked up again.
extern std::string last_version_update_time;

// Finds a cursor by exact name.
curs* find_cursor(std::string_view name);

// Deletes every cursor. The clean-up steps registered first run before,
// so that modules holding pointers into the cursors forget them.
void delete_cursors();

// Registers a clean-up step of delete_cursors (once per function).
void on_delete_cursors(void (*step)());

} // namespace qvx
