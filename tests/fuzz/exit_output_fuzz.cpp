// A fetch exit's output: the first byte chooses the parsing style (its
// low three bits, 1 to 5), start_after (next two bits) and stop_after (top
// three bits); the rest are the output lines. The rows are parsed for a
// cursor with a text, a number and a text column and then stored by the
// row store.
#include <string>
#include <vector>

#include "control/cursor.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/row_store.h"
#include "procs/exit_result.h"
#include "procs/fetch_exit.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvxfuzz::fresh_state();
    auto owned = std::make_unique<curs>();
    owned->cur_name = "X";
    owned->row_limit = 50;
    for (const char* w : {"A^3", "INT!N^4", "B^5"}) FUZZ_CHECK(add_column(w, *owned) == 0);
    curs& c = add_cursor(std::move(owned));
    const int kind = 1 + (data[0] & 7) % 5;
    c.fetch_exit = FetchExitSpec{"fuzz", 0, 0, kind};
    c.start_after = static_cast<int16_t>((data[0] >> 3) & 3);
    c.stop_after = static_cast<int16_t>(data[0] >> 5);

    std::vector<std::string> lines;
    const std::string_view text = qvxfuzz::as_text(data + 1, size - 1);
    for (size_t at = 0; at <= text.size();) {
        const size_t nl = std::min(text.find('\n', at), text.size());
        lines.emplace_back(text.substr(at, nl - at));
        at = nl + 1;
    }

    ResultSet rs;
    build_result_columns(c, rs);
    FUZZ_CHECK(rs.cols.size() == 3 && rs.max_row_size == 13);
    FetchExitWork w;
    w.kind = kind;
    w.skip = c.start_after;
    w.take = c.stop_after;
    w.taking_limited = c.stop_after > 0;
    w.cursor = &c;
    w.result = &rs;
    const int rows = parseCmdResults(w, lines);
    FUZZ_CHECK(rows >= 0 && static_cast<size_t>(rows) == rs.rows && static_cast<size_t>(rows) <= lines.size());
    if (c.stop_after > 0) FUZZ_CHECK(rows <= c.stop_after);
    for (size_t r = 0; r < rs.rows; ++r) {
        bool any = false;
        for (size_t i = 0; i < rs.cols.size(); ++i) {
            FUZZ_CHECK(rs.len(r, i) >= -1 && rs.len(r, i) <= rs.cols[i].length);
            any = any || rs.len(r, i) >= 0;
        }
        FUZZ_CHECK(any);
    }

    const RowSink store = [](curs& cur, const SelectDescriptor* d, const std::string& t) {
        return merge_text(cur, d, t, RowOrigin::fetch_exit);
    };
    FUZZ_CHECK(merge_DB_DATA2curs(w, c, store) == 0);
    FUZZ_CHECK(rs.rows == 0 && c.fetch_rows == rows);
    FUZZ_CHECK(c.rows.size() == std::min(rows, 50));
    for (const row_data* r = c.rows.first(); r; r = r->next) {
        FUZZ_CHECK(r->size == static_cast<uint32_t>(c.length) && c.length == 14);
        // A number is right-justified: no blank follows a digit.
        const std::string n(r->text() + c.cols[1].buf_offset, 4);
        FUZZ_CHECK(n.find_last_not_of(' ') == std::string::npos || n.back() != ' ');
    }
    qvxfuzz::fresh_state();
    return 0;
}
