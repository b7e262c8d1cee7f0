// The column listing of a cursor: where each column sits in the row text,
// its database type and how it is sent.
#include "pipeline/cursor_listing.h"

#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

const char* database_type_name(int16_t type) {
    switch (type) {
        case 1:
        case 24: return "Char";
        case 2: return "Number";
        case 8: return "Long";
        case 11: return "RowId";
        case 12: return "Date";
        case 23: return "Raw";
        default: return "???";
    }
}

struct SendShown {
    const char* name;
    int length;
};

SendShown send_shown(const columns& col) {
    if (col.send_type == SendType::none) return {"NO-SEND", 0};
    if (col.orig_type != 2) return {"Char", col.length};
    if (col.send_type == SendType::text) return {"Right alligned", col.length};
    if (col.send_type == SendType::integer) return {"Integer", 4};
    return {"Float", 8};
}

} // namespace

int sho_cur(curs& c) {
    c.show_cursor = 0;
    PRINT('t', "csc1900", "Curs= %s , host table= %s\n", c.cur_name.c_str(), c.host_table_name.c_str());
    if (debug_on(6)) {
        if (c.raw_insert_select)
            PRINT('t', "csc1910", " %s\n", c.raw_insert_select->c_str());
        else
            PRINT('t', "csc1915", " %s\n", c.sel_piece.c_str());
    }
    for (size_t n = 0; n < c.cols.size(); ++n) {
        const columns& col = c.cols[n];
        const char* host = n < c.insert_col_names.size() ? c.insert_col_names[n].c_str() : "";
        const SendShown shown = send_shown(col);
        PRINT('t', "csc1920", "#%d Host=%s (%d,%d), Orig=%s, Orig-t=%s, send_t=%s, len=%d\n",
              static_cast<int>(n + 1), host, col.buf_offset, col.length, col.name.c_str(),
              database_type_name(col.orig_type), shown.name, shown.length);
    }
    return 0;
}

} // namespace qvx
