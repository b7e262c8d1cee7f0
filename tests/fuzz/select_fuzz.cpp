// A select: the input's first line is the select list, the rest (if any)
// the WHERE condition, run over a cursor M of three rows (Number column N,
// text columns NAME and C) into each target type, twice (the second time
// from the lexed-expression store). The first byte's low bit switches the
// expression debug switch on.
//
// A SUM over a value that is no number ends the collector, as it should;
// so an input that names SUM is not run.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "expr/lex_store.h"
#include "expr/select.h"
#include "expr/term_table.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

void add_rows() {
    auto c = std::make_unique<curs>();
    c->cur_name = "M";
    const char* names[] = {"N", "NAME", "C"};
    const int16_t types[] = {2, 1, 1};
    for (int k = 0; k < 3; ++k) {
        columns col;
        col.name = names[k];
        col.orig_type = types[k];
        col.length = 8;
        col.buf_offset = 9 * k;
        c->cols.push_back(std::move(col));
    }
    c->length = 26;
    const char* rows[][3] = {{"       5", "abc", " 12"}, {"       5", "abd", "x"}, {"    -2.5", "abc", "7.5"}};
    for (const auto& r : rows) {
        row_data* row = row_data::create(26);
        FUZZ_CHECK(row != nullptr);
        std::memset(row->text(), 0, row->size);
        for (int k = 0; k < 3; ++k) std::memcpy(row->text() + 9 * k, r[k], std::strlen(r[k]));
        c->rows.append(row);
    }
    add_cursor(std::move(c));
}

bool names_sum(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::toupper(ch); });
    return text.find("SUM") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(qvxfuzz::as_text(data, size));
    if (names_sum(text)) return 0;
    qvxfuzz::fresh_state();
    add_rows();
    my_trace_all[8] = size > 0 && (data[0] & 1);
    const size_t cut = text.find('\n');
    const std::string list = text.substr(0, cut);
    const bool has_where = cut != std::string::npos;
    const std::string where = has_where ? text.substr(cut + 1) : std::string();
    {
        TermTable table;
        start_exec_sql(table);
        for (int pass = 0; pass < 2; ++pass) {
            for (int type = 0; type <= 6; ++type) {
                union {
                    const char* text;
                    int32_t i;
                    float f;
                } target{};
                const int rc = perform_select(list, "M", &target, has_where ? where.c_str() : nullptr, type);
                FUZZ_CHECK(rc == 0 || rc == 1 || rc == 100);
                if (rc == 0 && type == kTargetText) FUZZ_CHECK(target.text != nullptr);
            }
        }
        // The walk is closed: the cursor reads its newest row again.
        FUZZ_CHECK(find_cursor("M")->reading_row == nullptr);
        end_exec_sql(table);
        reset_select();
        reset_lex_store();
    }
    qvxfuzz::fresh_state();
    clear_reuse_list();
    return 0;
}
