// The collector's fetch: rows go to the row store.
#include "db/fetch.h"
#include "pipeline/row_store.h"

namespace qvx {

int prep_l_fetch(curs& cursor, const std::string& time_text, int& rows) {
    static const RowSink to_row_store = [](curs& c, const SelectDescriptor* d, const std::string& t) {
        return merge_text(c, d, t);
    };
    return prep_l_fetch(cursor, time_text, rows, to_row_store);
}

} // namespace qvx
