// column_exit and set_len clauses: each line of the input but the last is
// the text after a "column_exit", the last line the text after "set_len"
// (an input of one line is one column exit). The exits are parsed in a
// cursor M with the Char columns A (10 bytes) and T (16) and the Number
// column N (16), beside a cursor O with one row and the percent cursor;
// exits that bind run on a fixed row, twice. The set_len is parsed in
// another cursor and applied to a select list with the items A, T and N
// before they are sized.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/column_exit_clause.h"
#include "control/cursor.h"
#include "db/fetch.h"
#include "db/set_len.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/column_exit.h"
#include "pipeline/percent_cursor.h"

using namespace qvx;

namespace {

// A cursor of the columns, laid out as the first built row does it.
curs& cursor_with(const char* name, std::initializer_list<std::pair<const char*, int32_t>> cols) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    int32_t offset = 0;
    for (const auto& [word, width] : cols) {
        FUZZ_CHECK(add_column(word, *c) == 0);
        columns& col = c->cols.back();
        col.length = width;
        col.orig_type = word[0] == 'N' ? 2 : 1;
        col.buf_offset = offset;
        offset += width + 1;
    }
    c->length = offset - 1;
    return add_cursor(std::move(c));
}

// The row text of the cursor: each field filled from its value, then
// its terminator.
std::string row_text(const curs& c, std::initializer_list<std::string> values) {
    std::string text(static_cast<size_t>(c.length) + 1, '\0');
    auto v = values.begin();
    for (const columns& col : c.cols) {
        std::string field = v != values.end() ? *v++ : std::string();
        field.resize(static_cast<size_t>(col.length), ' ');
        field.copy(text.data() + col.buf_offset, field.size());
    }
    return text;
}

void run_exits(curs& m) {
    int32_t count = 1700000000;
    std::string stamp(16, ' ');
    std::memcpy(stamp.data(), &count, sizeof count);
    for (int pass = 0; pass < 2; ++pass) {
        std::string text = row_text(m, {"  ab", pass ? stamp : "12/07/2026 11:58", "              42"});
        const std::string before = text;
        for (size_t k : m.column_exit->in_column_order) {
            const ColumnExitChain& chain = m.column_exit->chains[k];
            const int rc = column_exit_driver(m, m.cols[static_cast<size_t>(chain.column)], text.data(), chain);
            FUZZ_CHECK(rc == 0 || rc == 1);
        }
        // Every field keeps its width and its terminator; a column without
        // exits keeps its value.
        FUZZ_CHECK(text.size() == before.size());
        for (size_t i = 0; i < m.cols.size(); ++i) {
            const columns& col = m.cols[i];
            FUZZ_CHECK(text[static_cast<size_t>(col.buf_offset + col.length)] == '\0');
            bool has_exits = false;
            for (size_t k : m.column_exit->in_column_order)
                has_exits = has_exits || m.column_exit->chains[k].column == static_cast<int16_t>(i);
            if (!has_exits)
                FUZZ_CHECK(text.compare(col.buf_offset, col.length, before, col.buf_offset, col.length) == 0);
        }
    }
}

void column_exits(const std::vector<std::string_view>& clauses) {
    curs& o = cursor_with("O", {{"X", 6}});
    const std::string o_text = row_text(o, {" cd"});
    row_data* row = row_data::create(o_text.size() - 1);
    FUZZ_CHECK(row != nullptr);
    o_text.copy(row->text(), o_text.size());
    o.rows.append(row);
    curs& m = cursor_with("M", {{"A", 10}, {"T", 16}, {"N", 16}});
    FUZZ_CHECK(create_percent_cursor() == 0);
    bool all_accepted = true;
    for (std::string_view clause : clauses) {
        const int rc = parse_col_ex(m, clause);
        FUZZ_CHECK(rc == 0 || rc == 1);
        FUZZ_CHECK(rc == 1 || (m.column_exit && !m.column_exit->chains.empty()));
        all_accepted = all_accepted && rc == 0;
    }
    if (!all_accepted || !m.column_exit) return;
    for (const ColumnExitChain& chain : m.column_exit->chains) {
        FUZZ_CHECK(!chain.exits.empty() && chain.col_name.size() < 50);
        for (const ColumnExit& e : chain.exits)
            FUZZ_CHECK(e.routine != ExitRoutine::substr || (e.start >= 1 && e.start <= kMaxSetLen &&
                                                            e.sub_len >= 1 && e.sub_len <= kMaxSetLen));
    }
    if (edit_col_exits() == 0) run_exits(m);
}

void set_len(std::string_view clause) {
    curs c;
    c.cur_name = "S";
    const int rc = parse_set_len(c, clause);
    FUZZ_CHECK(rc == 0 || rc == 1);
    if (rc != 0) {
        FUZZ_CHECK(!c.set_len);
        return;
    }
    const SetLenEntry& e = c.set_len->entries.back();
    FUZZ_CHECK(e.name.size() < 50 && e.name.find('.') == std::string::npos && e.len >= 0 && e.len <= kMaxSetLen);
    SelectDescriptor d;
    for (const char* name : {"A", "T", "N"})
        d.items.push_back(SelectItem{.name = name, .type = name[0] == 'N' ? kDbNumber : kDbChar, .size_chars = 8,
                                     .size_bytes = 24});
    const int applied = apply_set_len(c, d);
    FUZZ_CHECK((applied == 0) == (e.name == "A" || e.name == "T" || e.name == "N"));
    FUZZ_CHECK(applied == 0 || c.held == 'Y');
    if (applied != 0) return;
    for (SelectItem& it : d.items) {
        FUZZ_CHECK(size_select_item(it));
        FUZZ_CHECK(it.name != e.name || it.buf_len == e.len);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    const std::string_view text = qvxfuzz::as_text(data, size);
    std::vector<std::string_view> lines;
    for (size_t at = 0;;) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    const std::string_view set_len_clause = lines.size() > 1 ? lines.back() : std::string_view{};
    if (lines.size() > 1) lines.pop_back();
    column_exits(lines);
    qvxfuzz::fresh_state();
    set_len(set_len_clause);
    qvxfuzz::fresh_state();
    return 0;
}
