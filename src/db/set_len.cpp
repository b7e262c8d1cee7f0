#include "db/set_len.h"

#include "control/column_exit_clause.h"
#include "runtime/messages.h"

namespace qvx {

int init_set_len(curs& c, const SelectDescriptor& d) {
    if (!c.set_len) return 0;
    for (SetLenEntry& e : c.set_len->entries) {
        e.index = -1;
        for (size_t i = 0; i < d.items.size() && e.index < 0; ++i)
            if (d.items[i].name == e.name) e.index = static_cast<int16_t>(i);
        if (e.index >= 0) continue;
        PRINT('w', "pcl4570", "For cursor %s the set_len name (%s) not_found\n", c.cur_name.c_str(), e.name.c_str());
        PRINT('w', "pcl4575", "Holding cursor\n");
        c.held = 'Y';
        return 1;
    }
    c.set_len->resolved = true;
    return 0;
}

void set_the_lengths(const curs& c, SelectDescriptor& d) {
    if (!c.set_len) return;
    for (const SetLenEntry& e : c.set_len->entries)
        if (e.index >= 0 && static_cast<size_t>(e.index) < d.items.size())
            d.items[static_cast<size_t>(e.index)].fetch_len = e.len;
}

int apply_set_len(curs& c, SelectDescriptor& d) {
    if (!c.set_len) return 0;
    if (!c.set_len->resolved && init_set_len(c, d) != 0) return 1;
    set_the_lengths(c, d);
    return 0;
}

} // namespace qvx
