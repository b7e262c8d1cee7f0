// Base clauses and host-variable merges of one cursor X over a fixed set
// of cursors: B (K Number, V text; keys 1, 2, 2), R (NAME text, NUM
// Number, one row, an in-list LST), the empty E and the virtual VC. Each
// input line starting with "base " is a base clause of X; any other line
// is a select text merged for X. X's rows (keys 2, 1, 9) are then built
// through the base join, and every select text is merged twice (fresh,
// then from the kept pieces), which must give the same text.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "control/base_clause.h"
#include "control/cursor.h"
#include "control/cursor_lists_clause.h"
#include "fixed_cursors.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/bases.h"
#include "pipeline/column_ref.h"
#include "pipeline/host_vars.h"
#include "pipeline/row_store.h"

using namespace qvx;

namespace {

using qvxfuzz::Col;

curs& cursor(const std::string& name, std::initializer_list<Col> cols) {
    return qvxfuzz::fixed_cursor(name, cols, 200);
}

void add_row(curs& c, std::initializer_list<const char*> fields) { qvxfuzz::add_fixed_row(c, fields, c.sample_no); }

bool in_chain(const curs& c, const row_data* row) {
    for (const row_data* r = c.rows.first(); r; r = r->next)
        if (r == row) return true;
    return false;
}

// X's select list: the key item K, its value right-justified.
SelectDescriptor key_list() {
    SelectDescriptor d;
    d.items.push_back({.name = "K", .type = 2, .buf_len = 4, .orig_type = 2});
    d.offset = {0};
    d.value_len = {4};
    d.indicator = {0};
    d.buffer.assign(5, '\0');
    return d;
}

void build_rows(curs& x, curs& b) {
    SelectDescriptor d = key_list();
    ++x.sample_no;
    for (const char* key : {"   2", "   1", "   9"}) {
        std::memcpy(d.buffer.data(), key, 4);
        ++x.row_no;
        const int rc = merge_text(x, &d, "20240102030405");
        FUZZ_CHECK(rc >= 0);
        if (rc == 0 || !x.base) continue;
        for (const BaseEntry& e : x.base->entries)
            FUZZ_CHECK(!e.row || in_chain(*e.base_cur, e.row));
        if (const row_data* read = locate_base_row(b, x)) FUZZ_CHECK(in_chain(b, read));
    }
}

void merge_twice(curs& x, const std::string& text) {
    x.hv_pieces.reset();
    std::string fresh;
    const int n = set_hvs_in_sel(x, text, fresh);
    FUZZ_CHECK(n == 0 || static_cast<size_t>(n) == fresh.size());
    if (n == 0) return;
    FUZZ_CHECK(text.find('[') != std::string::npos || fresh == text);
    std::string again;
    FUZZ_CHECK(set_hvs_in_sel(x, text, again) == n);
    FUZZ_CHECK(again == fresh);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    curs& b = cursor("B", {{"K", 2, 4}, {"V", 1, 6}});
    b.sample_no = 1;
    for (const auto& row : {std::initializer_list<const char*>{"   1", "one"}, {"   2", "two"}, {"   2", "dup"}})
        add_row(b, row);
    curs& r = cursor("R", {{"NAME", 1, 6}, {"NUM", 2, 4}});
    add_row(r, {"ABC", "  42"});
    r.in_list.ensure().lists = {InList{"LST", "NAME", "( 'ABC' )", 0}};
    cursor("E", {{"C", 1, 2}});
    cursor("VC", {{"C", 1, 2}}).virtual_cur = 1;
    auto owned = std::make_unique<curs>();
    owned->cur_name = "X";
    owned->row_limit = 200;
    for (const char* word : {"K", "B.V"}) add_column(word, *owned);
    curs& x = add_cursor(std::move(owned));

    std::vector<std::string> selects;
    std::string_view text = qvxfuzz::as_text(data, size);
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.rfind("base ", 0) == 0)
            FUZZ_CHECK(parse_base(x, line.substr(5)) <= 1);
        else
            selects.emplace_back(line);
    }
    if (x.base)
        for (const BaseEntry& e : x.base->entries)
            FUZZ_CHECK(!e.base_name.empty() && !e.key_name.empty() && !e.base_col_name.empty());

    const int bases = edit_bases();
    if (bases == 0 && x.base)
        for (const BaseEntry& e : x.base->entries)
            FUZZ_CHECK(e.base_cur && e.base_cur != &x && !e.base_cur->virtual_cur && e.base_col >= 0 &&
                       static_cast<size_t>(e.base_col) < e.base_cur->cols.size());
    if (bases == 0 && set_qualifieds() == 0) build_rows(x, b);
    for (const std::string& s : selects) merge_twice(x, s);
    qvxfuzz::fresh_state();
    return 0;
}
