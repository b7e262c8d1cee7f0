// Shared by the expression tests: the message ids written while a test
// runs, a term table of the test's own installed for the whole test, and
// the reverse Polish list of an expression as text.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "expr/lexer.h"
#include "expr/term_table.h"
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
