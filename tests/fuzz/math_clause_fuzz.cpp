// A math clause: the input is the text after "math". It is parsed in a
// cursor M with the Number columns A, B, C and R (R 8 bytes wide) beside a
// cursor S with one row; a clause that is accepted and binds is computed
// on a fixed row, twice (the second time with the running high or low set).
#include <memory>
#include <string>

#include "control/cursor.h"
#include "control/math_clause.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/math_eval.h"

using namespace qvx;

namespace {

// A cursor whose row text holds the values right-aligned in their fields,
// laid out as the first built row does it (widths set by the math binding
// kept, others 8).
curs& cursor_with(const char* name, std::initializer_list<const char*> words) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    for (const char* w : words) {
        FUZZ_CHECK(add_column(w, *c) == 0);
        c->cols.back().length = 8;
    }
    return add_cursor(std::move(c));
}

std::string row_text(curs& c, std::initializer_list<const char*> values) {
    std::string text;
    auto v = values.begin();
    for (columns& col : c.cols) {
        const std::string value = v != values.end() ? *v++ : "";
        col.buf_offset = static_cast<int32_t>(text.size());
        text += std::string(static_cast<size_t>(col.length) - value.size(), ' ') + value + '\0';
    }
    c.length = static_cast<int32_t>(text.size()) - 1;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    const std::string_view text = qvxfuzz::as_text(data, size);
    curs& s = cursor_with("S", {"A"});
    const std::string s_text = row_text(s, {"-12.5"});
    row_data* row = row_data::create(s_text.size() - 1);
    FUZZ_CHECK(row != nullptr);
    s_text.copy(row->text(), s_text.size());
    s.rows.append(row);

    curs& c = cursor_with("M", {"A", "B", "C", "R^8"});
    c.tracem = size > 0 && (data[0] & 1);
    const int rc = parse_math(c, text);
    FUZZ_CHECK(rc == 0 || rc == 1);
    FUZZ_CHECK(rc == 1 || (c.math && c.math->defs.back().math.size() == c.math->defs.back().words.size()));
    if (rc == 0 && edit_math() == 0) {
        for (int pass = 0; pass < 2; ++pass) {
            std::string buf = row_text(c, {"3", "0", "1e300"});
            for (const columns& col : c.cols)
                if (col.is_math) do_math(c, col, buf.data());
            // Every field keeps its width and its terminator.
            for (const columns& col : c.cols) {
                FUZZ_CHECK(col.length == (col.is_math && col.name != "R" ? 16 : 8));
                FUZZ_CHECK(buf[static_cast<size_t>(col.buf_offset + col.length)] == '\0');
            }
        }
    }
    qvxfuzz::fresh_state();
    return 0;
}
