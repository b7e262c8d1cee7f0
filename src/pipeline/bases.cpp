#include "pipeline/bases.h"

namespace qvx {

int set_bases(curs&, const SelectDescriptor&, RowOrigin) { return 0; }

const row_data* locate_base_row(const curs& referenced, const curs&) { return referenced.current_row(); }

const char* locate_base(const curs& referenced, const curs& cursor, int32_t offset) {
    const row_data* row = locate_base_row(referenced, cursor);
    return row ? row->text() + offset : nullptr;
}

} // namespace qvx
