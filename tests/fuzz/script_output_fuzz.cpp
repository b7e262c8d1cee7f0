// A script's output: the first byte chooses the word splitter (low bit: the
// control-file tokenizer, else the simple splitter); the rest are the
// output lines. Each line is routed as a message or a row, and each row
// fills a descriptor with a text, a number and a text column.
#include <cstring>
#include <string>

#include "control/dictionary.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "procs/script_exit.h"

using namespace qvx;

namespace {

void dict(const char* name, int16_t type, int16_t length) {
    auto e = std::make_unique<dict_element>();
    e->name = name;
    e->data_type = type;
    e->length = length;
    dict_anchor.push_back(std::move(e));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvxfuzz::fresh_state();
    dict("A", 0, 3);
    dict("N", 2, 4);
    dict("B", 0, 5);
    curs c;
    c.raw_insert_select = "SELECT A, N, B FROM x";
    FUZZ_CHECK(parse_script_exit(c) == 0);
    SelectDescriptor& d = *c.script_columns;
    FUZZ_CHECK(d.items.size() == 3 && d.buffer.size() == 12);
    const int mode = (data[0] & 1) ? 1 : 9;

    const std::string_view text = qvxfuzz::as_text(data + 1, size - 1);
    for (size_t at = 0; at <= text.size();) {
        const size_t nl = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, nl - at);
        at = nl + 1;
        std::string_view row;
        if (route_script_line(line, row) == ScriptLine::message) {
            FUZZ_CHECK(line.size() >= 9 && std::strchr("EWIT", line[7]) && line[7] && line.substr(0, 2) != "->");
            continue;
        }
        FUZZ_CHECK(row.size() <= line.size() && line.substr(line.size() - row.size()) == row);
        const int filled = fill_script_row(d, row, mode);
        FUZZ_CHECK(filled >= 0 && filled <= 3);
        FUZZ_CHECK(d.buffer.size() == 12);
        for (int i = 0; i < 3; ++i) FUZZ_CHECK(d.indicator[static_cast<size_t>(i)] == (i < filled ? 1 : -1));
        // Blanks are no word; a comma is one to the control-file tokenizer
        // but only a separator to the simple splitter.
        if (row.find_first_not_of(mode == 1 ? " " : " ,") == std::string_view::npos) FUZZ_CHECK(filled == 0);
    }
    qvxfuzz::fresh_state();
    return 0;
}
