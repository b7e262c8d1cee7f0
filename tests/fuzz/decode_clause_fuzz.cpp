// Decode and in_list clauses: each line of the input is the text after
// "decode" (or, after "in_list ", an in-list of the reference cursor).
// Accepted clauses are bound and evaluated on fixed rows, one of them
// with null values; whatever a clause says, every row is stored, and a
// decode writes only inside its own column.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/cursor.h"
#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "pipeline/row_sources.h"
#include "unit/pipeline/row_fixture.h"

using namespace qvx;
using rowtest::Row;
using rowtest::Select;

namespace {

curs& cursor(const std::string& name, const std::vector<std::string>& words) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    c->row_limit = 200;
    for (const std::string& w : words) add_column(w, *c);
    return add_cursor(std::move(c));
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        out.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return out;
}

// Every column still ends with its zero byte.
bool separators_intact(const curs& c, const row_data& r) {
    for (const columns& col : c.cols)
        if (r.text()[col.buf_offset + col.length] != '\0') return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    Select ref_sel;
    ref_sel.item("LIMIT", 2, 4).item("NAME", 1, 8);
    curs& ref = cursor("REF", {"LIMIT", "NAME"});
    rowtest::fetch(ref, &ref_sel, {Row{"10", "first"}, Row{"50", "second"}});
    curs& c = cursor("C", {"V", "S", "W"});
    cursor("NEXT", {});

    for (std::string_view line : lines_of(qvxfuzz::as_text(data, size))) {
        if (line.substr(0, 8) == "in_list ")
            parse_in_list(ref, line.substr(8));
        else
            FUZZ_CHECK(parse_decode(c, line) <= 1);
    }
    edit_in_lists();
    build_in_list(ref);
    if (edit_decode() == 0) {
        Select sel;
        sel.item("V", 2, 6).item("S", 1, 8).item("W", 2, 4);
        const std::vector<Row> rows = {Row{"12", "OPEN", "4"}, Row{std::nullopt, std::nullopt, std::nullopt},
                                       Row{"-7.5", "second", "50"}};
        const int rc = rowtest::fetch(c, &sel, rows);
        FUZZ_CHECK(rc > 0 || c.held == 'Y');
        if (rc > 0) {
            // A "hold me delete" action empties the cursor while it is built.
            if (c.held != 'Y') FUZZ_CHECK(c.rows.size() == static_cast<int32_t>(rows.size()));
            for (const row_data* r = c.rows.first(); r; r = r->next) FUZZ_CHECK(separators_intact(c, *r));
        }
        for (const PostCursor& p : c.post_cursors) FUZZ_CHECK(p.cursor && find_cursor(p.cursor->cur_name) == p.cursor);
    }
    qvxfuzz::fresh_state();
    return 0;
}
