// A math clause: the input is the text after "math". It is parsed in a
// cursor with the columns A, B, C and R (R 8 bytes wide) beside a cursor S
// with one row; a clause that is accepted and binds is computed on a fixed
// row, twice (the second time with the running high or low set).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "control/cursor.h"
#include "control/math_clause.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/math_eval.h"

using namespace qvx;

namespace {

// A cursor of Number columns, 8 bytes wide.
curs& cursor_with(const char* name, const char* const* words, size_t n) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    for (size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(add_column(words[i], *c) == 0);
        c->cols.back().orig_type = 2;
        c->cols.back().length = 8;
    }
    return add_cursor(std::move(c));
}

// The row layout as the first built row makes it.
void lay_out(curs& c) {
    int32_t offset = 0;
    for (columns& col : c.cols) {
        col.buf_offset = offset;
        offset += col.length + 1;
    }
    c.length = offset - 1;
}

// A row text: each value right-aligned in its field, a zero byte after it.
void fill(const curs& c, char* text, const char* const* values) {
    for (size_t i = 0; i < c.cols.size(); ++i) {
        const columns& col = c.cols[i];
        const size_t width = static_cast<size_t>(col.length);
        const size_t len = std::min(std::strlen(values[i]), width);
        std::memset(text + col.buf_offset, ' ', width);
        std::memcpy(text + col.buf_offset + width - len, values[i], len);
        text[col.buf_offset + col.length] = '\0';
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    const std::string_view text = qvxfuzz::as_text(data, size);
    if (text.size() > 4000) return 0;

    static const char* const s_words[] = {"A"};
    static const char* const s_values[] = {"-12.5"};
    curs& s = cursor_with("S", s_words, 1);
    lay_out(s);
    row_data* row = row_data::create(static_cast<size_t>(s.length));
    FUZZ_CHECK(row != nullptr);
    fill(s, row->text(), s_values);
    s.rows.append(row);

    static const char* const words[] = {"A", "B", "C", "R^8"};
    static const char* const values[] = {"3", "0", "1e300", ""};
    curs& c = cursor_with("M", words, 4);
    c.tracem = size > 0 && (data[0] & 1);
    const int rc = parse_math(c, text);
    FUZZ_CHECK(rc == 0 || rc == 1);
    FUZZ_CHECK(rc == 1 || (c.math && !c.math->defs.empty()));
    if (rc == 0) {
        const MathDef& m = c.math->defs.back();
        FUZZ_CHECK(m.name.size() < 50);
        FUZZ_CHECK(m.math.size() == m.words.size());
        if (edit_math() == 0) {
            lay_out(c);
            std::string buf(static_cast<size_t>(c.length) + 1, '\0');
            for (int pass = 0; pass < 2; ++pass) {
                fill(c, buf.data(), values);
                for (columns& col : c.cols)
                    if (col.is_math) do_math(c, col, buf.data());
                // Every field keeps its width and its terminator.
                for (const columns& col : c.cols) {
                    FUZZ_CHECK(col.length == (col.is_math && col.name != "R" ? 16 : 8));
                    FUZZ_CHECK(buf[static_cast<size_t>(col.buf_offset + col.length)] == '\0');
                }
            }
        }
    }
    qvxfuzz::fresh_state();
    return 0;
}
