// The select over a cursor's stored rows: the select list and the WHERE
// condition are taken from the lexed-expression store (lexed and stored
// the first time a text is seen), the rows are walked oldest first, the
// condition picks the rows and the select list, evaluated as ROW(list),
// says when a group ends; each group's first value is stored into the
// caller's target, so the target ends with that of the last group.
#include "expr/select.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "expr/interpreter.h"
#include "expr/lex_store.h"
#include "expr/lexer.h"
#include "expr/select_internal.h"
#include "expr/term_values.h"
#include "model/cursor_list.h"
#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// A prepared text: the store's descriptor and the text it was asked for.
struct Prepared {
    std::string source;  // the caller's text, as given
    LexBlock block;
    LexemeList work;     // the copy each evaluation overwrites
    // A condition's terms joined by AND, in order; empty when the
    // condition is taken whole.
    std::vector<Range> conjuncts;

    bool describes(std::string_view text, std::string_view cursor, const TermTable* table) const {
        return block.list && block.terms.get() == table && source == text && block.cursor == cursor;
    }
    // Describes nothing (the work copy keeps its room).
    void clear() {
        source.clear();
        block = LexBlock{};
        conjuncts.clear();
    }
};

struct SelectState {
    // The AND terms of every stored condition list, worked out once (the
    // list held, so that its address names no other list).
    struct Split {
        std::shared_ptr<const LexemeList> list;
        std::vector<Range> conjuncts;
    };
    std::unordered_map<const LexemeList*, Split> conjuncts;
    TermTable* table = nullptr;
    std::unique_ptr<TermTable::Installed> installed;
    std::shared_ptr<TermTable> handle;  // the table as the store keeps it (not owned)
    Prepared columns;                   // the select list
    Prepared where;                     // the WHERE condition
    TermPtr result;                     // the last result, until the next select replaces it
};

SelectState& state() {
    static SelectState s;
    return s;
}

// The cursor unqualified names resolve to, for as long as it lives.
class CurrentCursor {
public:
    explicit CurrentCursor(curs& c) : saved_(current_cursor()) { set_current_cursor(&c); }
    ~CurrentCursor() { set_current_cursor(saved_); }
    CurrentCursor(const CurrentCursor&) = delete;
    CurrentCursor& operator=(const CurrentCursor&) = delete;

private:
    curs* saved_;
};

// Lexes text for the cursor; the ROW function put before the end of a
// select list. Nothing when the lexer failed (reported).
[[noreturn]] void out_of_memory(const char* id, const char* text) {
    PRINT('s', id, text);
    quitting(0);
    std::abort();
}

// Lexes text for the cursor; the ROW function put in place of the end of
// a select list, the end after it. Nothing when the lexer failed
// (reported).
std::optional<LexemeList> lex_text(const std::string& text, curs& c, bool select_list) {
    CurrentCursor cur(c);
    const char* pos = text.c_str();
    std::optional<LexemeList> list = parse_expression(pos);
    if (!list || !select_list) return list;
    try {
        list->insert(list->empty() ? list->end() : list->end() - 1, Lexeme{get_row_func_entry(), nullptr});
    } catch (const std::bad_alloc&) {
        out_of_memory("SEL0135", "Can not acquire memory: quitting\n");
    }
    return list;
}

// True when the list has the form the kind is evaluated in: a select
// list ends with its marker and ROW, a condition with neither (an entry
// the store made from the other kind is lexed again).
bool fits(const LexemeList& list, int kind) {
    const size_t n = list.size();
    const auto marker = [&](size_t i) {
        return i < n && list[i].term && list[i].term->text() == get_row_function_arg_part().substr(1);
    };
    if (kind == kLexSelectList) return n >= 3 && list[n - 2].op == get_row_func_entry() && marker(n - 3);
    return n < 2 || !marker(n - 2);
}

// Fills p for text and cursor: from the module's descriptor when it
// describes them, else from the store, else lexed and stored. 0 or 1.
int prepare(Prepared& p, std::string_view text, curs& c, int kind, const char* get_id, const char* store_id) {
    SelectState& s = state();
    if (p.describes(text, c.cur_name, s.table)) return 0;
    p.clear();
    p.source = std::string(text);
    p.block.text = p.source;
    p.block.cursor = c.cur_name;
    p.block.kind = kind;
    const int found = find_lex_block(p.block);
    if (found == 1 && p.block.terms.get() == s.table && p.block.list && fits(*p.block.list, kind)) return 0;
    if (found == 2)
        PRINT('w', get_id, "Error trying to get a parsed expression: will parse again\n");
    const bool select_list = kind == kLexSelectList;
    std::string lexed;
    try {
        lexed = select_list ? p.source + std::string(get_row_function_arg_part()) : p.source;
    } catch (const std::bad_alloc&) {
        out_of_memory("SEL0133", "Can not acquire memory: qutting\n");
    }
    std::optional<LexemeList> list = lex_text(lexed, c, select_list);
    p.block = LexBlock{};
    if (!list) return 1;
    p.block.text = lexed;
    p.block.cursor = c.cur_name;
    p.block.kind = kind;
    p.block.list = std::make_shared<const LexemeList>(std::move(*list));
    p.block.terms = s.handle;
    if (store_lex_block(p.block) != 0) {
        PRINT('s', store_id, "Can not store a lexed block: quitting\n");
        quitting(0);
        p.clear();
        return 1;
    }
    p.source = std::string(text);
    return 0;
}

int ed_parse_sel_list(std::string_view list, curs& c) {
    return prepare(state().columns, list, c, kLexSelectList, "SEL0130", "SEL0138");
}

int parse_where(std::string_view where, curs& c) {
    Prepared& p = state().where;
    const bool same = p.describes(where, c.cur_name, state().table);
    if (prepare(p, where, c, kLexWhere, "SEL0144", "SEL0147") != 0) return 1;
    if (same) return 0;
    auto& known = state().conjuncts;
    const auto it = known.find(p.block.list.get());
    if (it != known.end()) {
        p.conjuncts = it->second.conjuncts;
        return 0;
    }
    p.conjuncts = conjuncts_of(*p.block.list);
    known.emplace(p.block.list.get(), SelectState::Split{p.block.list, p.conjuncts});
    return 0;
}

// Evaluates a fresh copy of the prepared list (the select's cursor is
// current).
TermPtr evaluate(Prepared& p) {
    p.work.assign(p.block.list->begin(), p.block.list->end());
    return interpreter(std::span<Lexeme>(p.work));
}

// One condition (a whole one, or one AND term of it) of the work copy.
int evaluate_condition(curs& c, std::span<Lexeme> list) {
    const TermPtr r = interpreter(list);
    if (!r) {
        PRINT('e', "SEL0050", "Can not evaluate a row for cursor %s:       may be next time\n", c.cur_name.c_str());
        return -1;
    }
    if (r->numeric_kind != kIntKind && r->numeric_kind != kDoubleKind) {
        PRINT('e', "SEL0060", "Invalid conditional expression result for         cursor %s: will try next time\n",
              c.cur_name.c_str());
        return -1;
    }
    return is_true(*r) ? 1 : 0;
}

// The WHERE condition for the current row: 1 true, 0 false, -1 failed.
// AND terms are taken in order up to the first that is not true.
int evaluate_row(curs& c, Prepared& p) {
    p.work.assign(p.block.list->begin(), p.block.list->end());
    if (p.conjuncts.empty()) return evaluate_condition(c, p.work);
    for (const Range& r : p.conjuncts) {
        const int pass = evaluate_condition(c, std::span<Lexeme>(p.work.data() + r.first, r.end - r.first));
        if (pass != 1) return pass;
    }
    return 1;
}

// The select list for the current row; nothing after SEL0100.
TermPtr process_row(curs& c, Prepared& p) {
    TermPtr r = evaluate(p);
    if (!r) {
        PRINT('e', "SEL0100", "Can not process a row for cursor %s:       may be next time\n", c.cur_name.c_str());
        set_row_status(1);
    }
    return r;
}

[[noreturn]] void corrupted(const char* id, const curs& c) {
    PRINT('s', id, "Process for cursor %s corrupted: quitting\n", c.cur_name.c_str());
    quitting(0);
    std::abort();
}

// Closes the walk when a select ends early.
struct WalkGuard {
    curs& c;
    SelectWalk& walk;
    ~WalkGuard() {
        if (walk.at != SelectWalk::At::closed) close_select_cursor(c, walk);
    }
};

// Evaluates the select list for the walk's current row; a new group
// stores the result of the one before. 0 good, 1 error.
int select_row(curs& c, void* target, int type) {
    SelectState& s = state();
    set_row_status(2);
    s.result.reset();
    s.result = process_row(c, s.columns);
    if (!s.result) return 1;
    set_proc_mode(2);
    switch (get_row_status()) {
        case 2:
            return 0;
        case 3:
            if (dispose_result(s.result, target, type) != 0) return 1;
            set_proc_mode(1);
            s.result = process_row(c, s.columns);
            if (!s.result) return 1;
            set_row_status(2);
            set_proc_mode(2);
            return 0;
        default:
            PRINT('w', "SEL0120", "Ignoring a row for cursor %s\n", c.cur_name.c_str());
            return 0;
    }
}

// Walks the rows; 0 after the last row, 1 error.
int walk_rows(curs& c, SelectWalk& walk, bool has_where, void* target, int type) {
    SelectState& s = state();
    for (;;) {
        const int rc = fetch_next_row(c, walk);
        if (rc == 100) return 0;
        if (rc == -1) return 1;
        if (rc != 0) corrupted("SEL0300", c);
        if (has_where) {
            const int pass = evaluate_row(c, s.where);
            if (pass == 0) continue;
            if (pass == -1) {
                PRINT('w', "SEL0320", "Ignoring a row for cursor %s\n", c.cur_name.c_str());
                continue;
            }
            if (pass != 1) corrupted("SEL0330", c);
        }
        if (select_row(c, target, type) != 0) return 1;
    }
}

} // namespace

bool sql_initialised() {
    if (state().table) return true;
    PRINT('s', "SEL1010", "SQL-like processing not initialized: quitting\n");
    quitting(0);
    return false;
}

void start_exec_sql(TermTable& table) {
    SelectState& s = state();
    s.installed.reset();
    if (s.table != &table) s.handle = std::shared_ptr<TermTable>(&table, [](TermTable*) {});
    s.table = &table;
    s.installed = std::make_unique<TermTable::Installed>(table);
}

void end_exec_sql(TermTable& table) {
    SelectState& s = state();
    if (s.table == &table) s.installed.reset();
    s.table = nullptr;
}

bool exec_sql_started() { return state().table != nullptr; }

int perform_select(std::string_view select_list, std::string_view cursor_name, void* target, const char* where,
                   int type) {
    if (!sql_initialised()) return 1;
    curs* c = find_cursor(cursor_name);
    if (!c) {
        PRINT('e', "SEL0290", "Cursor %s not found\n", std::string(cursor_name).c_str());
        return 1;
    }
    if (ed_parse_sel_list(select_list, *c) != 0) return 1;
    if (where && parse_where(where, *c) != 0) return 1;
    SelectWalk walk;
    if (open_select_cursor(*c, walk) != 0) return 100;
    int rc = 0;
    {
        CurrentCursor cur(*c);
        WalkGuard guard{*c, walk};
        set_proc_mode(0);
        set_row_status(0);
        if (walk_rows(*c, walk, where != nullptr, target, type) != 0) return 1;
        rc = close_select_cursor(*c, walk);
    }
    if (rc != 0) return rc;
    const int status = get_row_status();
    if (status == 2 || status == 3) return dispose_result(state().result, target, type);
    return status == 0 ? 100 : rc;
}

void cleanup_select() {}

void reset_select() {
    SelectState& s = state();
    s.result.reset();
    s.installed.reset();
    s.table = nullptr;
    s.handle.reset();
    s.columns = Prepared{};
    s.where = Prepared{};
    s.conjuncts.clear();
}

} // namespace qvx
