// Load, pre_cursor, iterate and iterate_where statements of one cursor S
// over a fixed set of cursors: S (CPU Number, NAME and STATUS text, three
// stored rows), the virtual VC (NCPU, TOPNAME) and a plain P. Each input
// line is one statement: "pre_cursor ...", "iterate ...",
// "iterate_where ..." go to their parsers, any other line is a load. The
// good loads then run over S's rows and over an empty fetch.
#include <cstring>
#include <string>
#include <string_view>

#include "control/cursor_lists_clause.h"
#include "control/load_clause.h"
#include "fixed_cursors.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/loads.h"

using namespace qvx;

namespace {

using qvxfuzz::Col;

curs& cursor(const std::string& name, std::initializer_list<Col> cols) {
    return qvxfuzz::fixed_cursor(name, cols);
}

void add_row(curs& c, std::initializer_list<const char*> fields) { qvxfuzz::add_fixed_row(c, fields, 1); }

// Every field of the virtual row still ends with its zero byte.
bool fields_intact(const curs& c) {
    const row_data* r = c.rows.last();
    for (const columns& col : c.cols)
        if (r->text()[col.buf_offset + col.length] != '\0') return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    curs& s = cursor("S", {{"CPU", 2, 4}, {"NAME", 1, 6}, {"STATUS", 1, 4}});
    curs& vc = cursor("VC", {{"NCPU", 2, 16}, {"TOPNAME", 1, 5}});
    vc.virtual_cur = 1;
    add_row(vc, {"", ""});
    cursor("P", {{"X", 1, 2}});
    for (const auto& row : {std::initializer_list<const char*>{"   5", "alpha", "Z"}, {"  12", "bravo", "Y"},
                            {"   5", "carl", "Y"}})
        add_row(s, row);

    std::string_view text = qvxfuzz::as_text(data, size);
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string line(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const auto starts = [&](std::string_view kw) { return line.rfind(kw, 0) == 0; };
        if (starts("pre_cursor ")) parse_pre_cursor(s, std::string_view(line).substr(11));
        else if (starts("iterate_where ")) parse_iterate_where(s, std::string_view(line).substr(14));
        else if (starts("iterate ")) parse_iterate(s, std::string_view(line).substr(8));
        else s.load_list.ensure().texts.push_back(line);
    }

    const int rc = parse_loads();
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (s.load_list) {
        for (const Load& l : s.load_list->loads) {
            FUZZ_CHECK(l.src_col >= 0 && static_cast<size_t>(l.src_col) < s.cols.size());
            FUZZ_CHECK(l.target_cur == &vc);
            FUZZ_CHECK(l.target_col >= 0 && static_cast<size_t>(l.target_col) < vc.cols.size());
            FUZZ_CHECK(!l.has_from || (l.from_col >= 0 && static_cast<size_t>(l.from_col) < s.cols.size()));
            FUZZ_CHECK(!l.has_from || !(l.is_count || l.is_sum || l.is_average));
            FUZZ_CHECK(l.src_funct == ColumnFunction::none || !(l.has_from || l.has_where));
        }
        edit_loads();
        process_loads(s, s.rows.size());
        FUZZ_CHECK(fields_intact(vc));
        process_loads(s, 0);
        FUZZ_CHECK(fields_intact(vc));
        FUZZ_CHECK(vc.rows.size() == 1 && s.rows.size() == 3);
    }

    if (edit_pre_cursors() == 0 && s.pre_cursor)
        for (const PreCursorEntry& e : s.pre_cursor->entries) FUZZ_CHECK(e.cursor && e.cursor != &s);
    if (edit_iterates() == 0 && s.iterate) FUZZ_CHECK(s.iterate->driver && s.iterate->driver != &s);
    if (s.iterate && s.iterate->driver) edit_iterate_where();
    qvxfuzz::fresh_state();
    return 0;
}
