// An expression: the input is the text of a condition or select list. It
// is lexed and converted with a cursor M (Number column N, text columns
// NAME and C) as the current cursor beside a cursor S (Number column V)
// and the percent cursor, then evaluated twice on a copy of the list, as
// the first row of a select and as a further row. The first byte's low
// bit switches the expression debug switch on. Everything made goes with
// the term table at the end: the leak check sees what an input leaves.
//
// A SUM over a value that is no number ends the collector, as it should;
// so a list with SUM is evaluated only when its terms are numbers or the
// Number columns.
#include <memory>
#include <string>

#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/term_table.h"
#include "fuzz_support.h"
#include "model/cursor_list.h"
#include "pipeline/percent_cursor.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

struct Column {
    const char* name;
    int16_t type;
    const char* value;
};

void add_table(const char* name, std::initializer_list<Column> cols) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    std::string text;
    for (const Column& col : cols) {
        columns k;
        k.name = col.name;
        k.orig_type = col.type;
        k.length = 8;
        k.buf_offset = static_cast<int32_t>(text.size());
        std::string v = col.value;
        if (col.type == 2) v.insert(0, 8 - v.size(), ' ');
        v.resize(8, '\0');
        text += v + '\0';
        c->cols.push_back(std::move(k));
    }
    c->length = static_cast<int32_t>(text.size()) - 1;
    row_data* row = row_data::create(text.size() - 1);
    FUZZ_CHECK(row != nullptr);
    text.copy(row->text(), text.size());
    c->rows.append(row);
    add_cursor(std::move(c));
}

// SUM needs numbers: every term a number constant or a Number column.
bool sum_is_safe(const LexemeList& list) {
    bool sum = false;
    for (const Lexeme& l : list) sum = sum || (l.op && l.op == find_function("SUM"));
    if (!sum) return true;
    for (const Lexeme& l : list) {
        if (!l.term) continue;
        const std::string_view t = l.term->text();
        // Column names are matched exactly ("n" is a variable of its own).
        const bool number_column = t == "N" || (l.term->entry_type == kColumnTerm &&
                                                std::string_view(l.term->cursor_name) == "S" && t == "V");
        if (l.term->entry_type != kNumberConst && !number_column) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    FUZZ_CHECK(create_percent_cursor() == 0);
    add_table("M", {{"N", 2, "5"}, {"NAME", 1, "abc"}, {"C", 1, " 12"}});
    add_table("S", {{"V", 2, "-2.5"}});
    my_trace_all[8] = size > 0 && (data[0] & 1);
    const std::string text(qvxfuzz::as_text(data, size));
    {
        TermTable table;
        auto installed = table.install();
        set_current_cursor(find_cursor("M"));
        const char* pos = text.c_str();
        std::optional<LexemeList> list = parse_expression(pos);
        // The position stays within the text and one past its end.
        FUZZ_CHECK(pos >= text.c_str() && pos <= text.c_str() + text.size() + 1);
        if (list) {
            FUZZ_CHECK(!list->empty() && list->back().is_end());
            FUZZ_CHECK(static_cast<int>(list->size()) <= kMaxLexemes + 1);
            if (sum_is_safe(*list)) {
                for (int mode : {0, 2}) {
                    set_proc_mode(mode);
                    LexemeList work = *list;
                    TermPtr result = interpreter(work);
                    FUZZ_CHECK(!result || (result->work == 1 && result->value != nullptr));
                }
            }
        }
    }
    qvxfuzz::fresh_state();
    clear_reuse_list();
    return 0;
}
