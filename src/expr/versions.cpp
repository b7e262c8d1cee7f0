#include "expr/versions.h"

#include <cstdint>
#include <memory>
#include <new>
#include <strings.h>
#include <vector>

#include "control/versions.h"
#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/term_table.h"
#include "model/cursor_list.h"
#include "pipeline/age_to.h"
#include "pipeline/bases.h"
#include "pipeline/column_exit.h"
#include "pipeline/column_ref.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "pipeline/loads.h"
#include "pipeline/math_eval.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// A parsed condition: its reverse Polish list and the positions of the
// names written without a cursor, which mean the evaluated cursor's columns.
struct ParsedCondition : IfCondition {
    LexemeList list;
    std::vector<size_t> own_names;
};

// One term table for the conditions of all cursors.
std::unique_ptr<TermTable> condition_table;

TermTable& conditions() {
    if (!condition_table) condition_table = std::make_unique<TermTable>();
    return *condition_table;
}

unsigned short_address(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

std::shared_ptr<IfCondition> parse_condition(const char*& pos) {
    auto installed = conditions().install();
    curs* const before = current_cursor();
    set_current_cursor(nullptr);
    std::optional<LexemeList> list = parse_expression(pos);
    set_current_cursor(before);
    if (!list) return nullptr;
    auto parsed = std::make_shared<ParsedCondition>();
    parsed->list = std::move(*list);
    for (size_t i = 0; i < parsed->list.size(); ++i) {
        const Term* t = parsed->list[i].term;
        if (t && t->entry_type == kNameTerm && !t->cursor_name[0] && t->name[0] != '%') parsed->own_names.push_back(i);
    }
    return parsed;
}

// The conditions share their name terms: a name resolved for another
// cursor is looked up again in this one.
void rebind_own_names(ParsedCondition& cond, curs& c) {
    for (size_t i : cond.own_names) {
        Term& t = *cond.list[i].term;
        if (t.source == TermSource::column && t.src_cursor == &c) continue;
        forget_shared(&t);
        t.source = TermSource::none;
        t.entry_type = kNameTerm;
        t.cursor_name[0] = '\0';
        t.src_cursor = nullptr;
        t.data_type = kUndefined;
    }
}

// The value of the condition: 1 true, 0 false, -1 no usable result.
int evaluate(ParsedCondition& cond, curs& c) {
    rebind_own_names(cond, c);
    LexemeList work;
    try {
        work = cond.list;
    } catch (const std::bad_alloc&) {
        PRINT('s', "CSL0005", "Can not acquire memory\n");
        return -1;
    }
    TermPtr result = interpreter(work);
    if (!result) {
        PRINT('t', "CSL0010", "Can not determine cursor %s version:         may be next time\n", c.cur_name.c_str());
        return -1;
    }
    double value = 0;
    if (result->numeric_kind == kIntKind) value = result->ival;
    else if (result->numeric_kind == kDoubleKind) value = result->dval;
    else {
        PRINT('t', "CSL0020", "Invalid conditional expression result for           cursor %s: will try next time\n",
              c.cur_name.c_str());
        return -1;
    }
    if (expr_debug()) PRINT('t', "SMZIF200", "Conditional expression result %lf\n", value);
    return value != 0 ? 1 : 0;
}

// The record the tree reaches for the cursor's current data; null after
// a reported failure.
curs* walk_tree(curs& c) {
    curs* record = c.vers_root;
    for (IF_NODE* node = record->if_chain; node; node = record->if_chain) {
        auto* cond = static_cast<ParsedCondition*>(node->condition.get());
        const int outcome = cond ? evaluate(*cond, c) : -1;
        if (outcome < 0) return nullptr;
        if (outcome) {
            if (!node->then_curs) {
                PRINT('e', "CSL0030", "Something wrong with IF-tree for cursor %s\n", c.cur_name.c_str());
                return nullptr;
            }
            record = node->then_curs;
        } else {
            if (!node->else_curs) return node->parent_curs;
            record = node->else_curs;
        }
    }
    return record;
}

// The slot's definition back into its version and the selected one into
// the slot; the run state and schedule stay with the slot.
void switch_version(curs& slot, curs& selected) {
    curs& previous = *slot.tree_place;
    const CursorDefinition kept = slot;
    const char own_held = previous.held;
    swap_definition(slot, previous);
    previous.held = own_held;
    previous.hold_reasons[0] = previous.hold_reasons[1] = 0;
    previous.vers_time = slot.vers_time;  // active until this selection: its stamp
    swap_definition(slot, selected);
    selected.held = slot.held;
    if (kept.hold_reasons[0] || kept.hold_reasons[1]) slot.held = kept.held;
    slot.hold_reasons[0] = kept.hold_reasons[0];
    slot.hold_reasons[1] = kept.hold_reasons[1];
    slot.cur_name = kept.cur_name;
    slot.def_line = kept.def_line;
    slot.last_time = kept.last_time;
    slot.window_start = kept.window_start;
    slot.window_end = kept.window_end;
    slot.next_time = kept.next_time;
    slot.stale_until = kept.stale_until;
    slot.bypass = kept.bypass;
    slot.collector = kept.collector;
    slot.range_kind = kept.range_kind;
    slot.range_index = kept.range_index;
    slot.tree_place = &selected;
    slot.vers_list = selected.vers_list;
    // The age_to copy cursor is a second slot: its record goes back to the
    // version left, the selected version's record comes in.
    switch_age_to_copy(slot, previous, selected);
}

bool is_percent(const curs& c) { return strncasecmp(c.cur_name.c_str(), "%CURSOR", 9) == 0; }

// The per-column links the clause editors make, cleared before they run again.
void reset_all() {
    for (auto& c : cur_anchor) {
        if (c->is_age_copy || (!c->decode && !c->math && !c->column_exit)) continue;
        for (columns& col : c->cols) {
            col.decode_list = -1;
            col.math_def = -1;
        }
    }
}

int redo_edits() {
    reset_all();
    int failed = 0;
    for (int (*edit)() : {edit_decode, edit_in_lists, edit_bases, edit_math, edit_col_exits, edit_iterate_where,
                          load_pass, set_qualifieds})
        if (edit() != 0) failed = 1;
    for (auto& c : cur_anchor) {
        if (is_percent(*c)) continue;
        c->bound = 0;
        c->hv_pieces.reset();
    }
    return failed;
}

} // namespace

void install_condition_parser() { set_condition_parser(parse_condition); }

void reset_versions() { condition_table.reset(); }

int select_cursor_version(curs& c, const std::string& time) {
    if (!c.vers_root) return 0;
    curs* selected = nullptr;
    {
        auto installed = conditions().install();
        curs* const before = current_cursor();
        set_current_cursor(&c);
        selected = walk_tree(c);
        set_current_cursor(before);
    }
    if (!selected) return -1;
    if (expr_debug()) {
        auto sql = [](const curs& v) { return v.raw_insert_select ? v.raw_insert_select->c_str() : v.sel_piece.c_str(); };
        const curs& place = *c.tree_place;
        PRINT('t', "SMZIF210",
              "Slot %x, slot tree place %x, slot SQL %s, selected cursor %x, selected tree place %x, selected SQL %s\n",
              short_address(&c), short_address(&place), sql(c), short_address(selected),
              short_address(selected->tree_place), selected == &place ? sql(c) : sql(*selected));
    }
    c.vers_time = time;
    if (selected == c.tree_place) return 0;
    switch_version(c, *selected);
    return 1;
}

int tune_up_cursor_versions(const std::string& time) {
    last_version_update_time = time;
    if (cur_anchor.empty()) return 1;
    int failed = 0;
    bool changed = false;
    for (auto& c : cur_anchor) {
        if (c->virtual_cur || is_percent(*c) || c->is_age_copy) continue;
        const int rc = select_cursor_version(*c, time);
        if (rc < 0) failed = 1;
        if (rc == 1) {
            changed = true;
            if (trace_all) PRINT('t', "CSL0100", "Cursor %s version changed\n", c->cur_name.c_str());
        }
    }
    if (!changed) return failed;
    if (trace_all) PRINT('t', "CSL0110", "There was cursor version change: redoing some edits\n");
    if (redo_edits() != 0) failed = 1;
    return failed;
}

} // namespace qvx
