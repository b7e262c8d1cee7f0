// Shared by the expression tests: the message ids written while a test
// runs, a term table of the test's own installed for the whole test, and
// the reverse Polish list of an expression as text.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/term_table.h"
#include "model/cursor_list.h"
#include "runtime/messages.h"
#include "support/state.h"

namespace exprtest {

// "LEX0090E" for every message, in order; the lines with their texts.
inline std::vector<std::string> ids;
inline std::vector<std::string> lines;

inline void tap(char letter, const char* msgid, const std::string& text) {
    std::string id = msgid ? msgid : "";
    for (char& ch : id) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ids.push_back(id + letter);
    lines.push_back(id + " " + text);
}

inline bool wrote(const std::string& id) {
    for (const std::string& i : ids)
        if (i == id) return true;
    return false;
}

// A column of a test cursor: its name, the database type (2 Number, 1
// text) and its width.
struct Col {
    std::string name;
    int16_t type;
    int32_t width;
};

// A cursor with the columns laid out as row building lays them out.
inline qvx::curs& table_cursor(const std::string& name, const std::vector<Col>& cols) {
    auto c = std::make_unique<qvx::curs>();
    c->cur_name = name;
    int32_t offset = 0;
    for (const Col& col : cols) {
        qvx::columns k;
        k.name = col.name;
        k.orig_type = col.type;
        k.length = col.width;
        k.buf_offset = offset;
        offset += col.width + 1;
        c->cols.push_back(std::move(k));
    }
    c->length = offset > 0 ? offset - 1 : 0;
    return qvx::add_cursor(std::move(c));
}

// Stores a row: numbers right-aligned in blanks, texts followed by zero
// bytes, as the fetch leaves them.
inline void add_row(qvx::curs& c, const std::vector<std::string>& values) {
    qvx::row_data* row = qvx::row_data::create(static_cast<size_t>(c.length));
    std::memset(row->text(), 0, row->size);
    for (size_t i = 0; i < c.cols.size() && i < values.size(); ++i) {
        const qvx::columns& col = c.cols[i];
        const size_t width = static_cast<size_t>(col.length);
        std::string v = values[i].substr(0, width);
        if (col.orig_type == 2) v.insert(0, width - v.size(), ' ');
        std::memcpy(row->text() + col.buf_offset, v.data(), v.size());
    }
    c.rows.append(row);
}

class ExprTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        ids.clear();
        lines.clear();
        qvx::set_message_tap(tap);
        qvx::open_lexer(nullptr);
    }
    void TearDown() override {
        qvx::Term* chain = nullptr;
        qvx::close_lexer(chain);
        qvx::free_perm_term_tb(chain);
        qvx::set_message_tap(nullptr);
        qvxtest::reset_collector_state();
    }

    // The converted list of text, or nothing.
    std::optional<qvx::LexemeList> parse(const std::string& text) {
        const char* pos = text.c_str();
        return qvx::parse_expression(pos);
    }

    // The converted list as words: terms by their text (strings quoted,
    // columns as cursor.column), operations by their text.
    std::string rpn(const std::string& text) {
        std::optional<qvx::LexemeList> list = parse(text);
        if (!list) return "(failed)";
        std::string out;
        for (const qvx::Lexeme& l : *list) {
            if (l.is_end()) break;
            if (!out.empty()) out += ' ';
            if (l.op) {
                out += l.op->args == 1 && std::string(l.op->text) == "-" ? "neg" : l.op->text;
            } else if (l.term->entry_type == qvx::kStringConst) {
                out += "'" + std::string(l.term->text()) + "'";
            } else if (l.term->entry_type == qvx::kColumnTerm) {
                out += std::string(l.term->cursor_name) + "." + std::string(l.term->text());
            } else {
                out += std::string(l.term->text());
            }
        }
        return out;
    }

    size_t table_size() const {
        size_t n = 0;
        for (const qvx::Term* t = qvx::get_lex_term_tb_anchor(); t; t = t->next) ++n;
        return n;
    }
};

} // namespace exprtest
