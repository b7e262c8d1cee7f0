// The versions of a cursor block: the tree of its "if" clauses multiplied
// out so that every path meets each "if" once, in block order; the leaves
// completed from their parents; the resulting versions in a ring whose
// first member the listed cursor (the slot) takes.
#include <array>
#include <cstdint>
#include <new>

#include "control/versions.h"
#include "model/cursor_list.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr int kStackSize = 50;  // nesting levels a path may pass
using IfStack = std::array<IF_NODE*, kStackSize>;

unsigned short_address(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

bool debugging() { return debug_on(8); }

template <class T>
void take_if_zero(T& mine, const T& parent) {
    if (mine == T{}) mine = parent;
}
template <class T>
void take_if_empty(T& mine, const T& parent) {
    if (mine.empty()) mine = parent;
}
template <class T>
void take_if_none(std::optional<T>& mine, const std::optional<T>& parent) {
    if (!mine) mine = parent;
}
template <class T>
void take_slot(ClauseSlot<T>& mine, const ClauseSlot<T>& parent) {
    if (!mine) mine = parent.clone();
}

void copy_slots(curs& to, const curs& from) {
    to.load_list = from.load_list.clone();
    to.pre_cursor = from.pre_cursor.clone();
    to.iterate = from.iterate.clone();
    to.in_list = from.in_list.clone();
    to.base = from.base.clone();
    to.iterate_where = from.iterate_where.clone();
    to.math = from.math.clone();
    to.decode = from.decode.clone();
    to.column_exit = from.column_exit.clone();
    to.set_len = from.set_len.clone();
    to.hv_pieces = from.hv_pieces.clone();
}

// Memory ran out while copying a subtree: the message of the part that failed.
struct CopyFailure {
    const char* id;
};
template <class F>
auto or_fail(const char* id, F&& make) {
    try {
        return make();
    } catch (const std::bad_alloc&) {
        throw CopyFailure{id};
    }
}

// Deep copies of a chain of IF nodes (with their branch records) whose
// records now sit under parent.
IF_NODE* copy_if_chain(const IF_NODE* first, curs& parent, VersionTree& tree, bool whole_chain);

curs& copy_branch(const curs& source, IF_NODE& node, VersionTree& tree) {
    tree.records.push_back(copy_curs(source));
    curs& copy = *tree.records.back();
    copy.parent_if = &node;
    copy.if_chain = copy_if_chain(source.if_chain, copy, tree, true);
    return copy;
}

IF_NODE* copy_if_chain(const IF_NODE* first, curs& parent, VersionTree& tree, bool whole_chain) {
    IF_NODE* head = nullptr;
    IF_NODE** link = &head;
    for (const IF_NODE* n = first; n; n = whole_chain ? n->next : nullptr) {
        IF_NODE& copy = *or_fail("PIF0160", [&] {
            tree.nodes.push_back(std::make_unique<IF_NODE>());
            return tree.nodes.back().get();
        });
        copy.condition = n->condition;
        copy.parent_curs = &parent;
        if (n->then_curs) copy.then_curs = or_fail("PIF0170", [&] { return &copy_branch(*n->then_curs, copy, tree); });
        if (n->else_curs) copy.else_curs = or_fail("PIF0180", [&] { return &copy_branch(*n->else_curs, copy, tree); });
        *link = &copy;
        link = &copy.next;
    }
    return head;
}

// The node alone (not its followers) copied under parent.
IF_NODE* copy_if_tree(const IF_NODE& node, curs& parent, VersionTree& tree) {
    try {
        return copy_if_chain(&node, parent, tree, false);
    } catch (const CopyFailure& failure) {
        PRINT('s', failure.id, "Can not acquire memory\n");
        return nullptr;
    }
}

// The deepest level below this one whose node has a follower, advanced to
// it; null when every enclosing chain is at its end.
IF_NODE* update_stack(IfStack& stack, int from) {
    for (int l = from; l >= 0; --l)
        if (stack[l] && stack[l]->next) {
            stack[l] = stack[l]->next;
            return stack[l];
        }
    return nullptr;
}

// The stack goes by value: each branch continues the enclosing chains
// from where its own path stands.
int multiply_tree(curs& record, IfStack stack, int level, VersionTree& tree) {
    if (level >= kStackSize) {
        PRINT('s', "PIF0130", "Current stack position: %i- exceeds stack size: %i\n", level, kStackSize);
        return 1;
    }
    if (debugging()) {
        PRINT('t', "SMZIF500", "Current stack position: %i\n", level);
        PRINT('t', "SMZIF510", "Curs if_chain: %p\n", static_cast<void*>(record.if_chain));
    }
    stack[level] = record.if_chain;
    if (!record.if_chain) {
        IF_NODE* later = update_stack(stack, level - 1);
        if (!later) return 0;
        record.if_chain = copy_if_tree(*later, record, tree);
        if (!record.if_chain) return 1;
        stack[level] = record.if_chain;
    }
    IF_NODE& node = *record.if_chain;
    if (node.then_curs && multiply_tree(*node.then_curs, stack, level + 1, tree) != 0) return 1;
    if (node.else_curs) return multiply_tree(*node.else_curs, stack, level + 1, tree);
    IF_NODE* later = update_stack(stack, level);
    if (!later) return 0;
    try {
        tree.records.push_back(copy_curs(record));
    } catch (const std::bad_alloc&) {
        PRINT('s', "PIF0140", "Can not acquire memory\n");
        return 1;
    }
    curs& other = *tree.records.back();
    other.parent_if = &node;
    other.if_chain = copy_if_tree(*later, other, tree);
    if (!other.if_chain) return 1;
    node.else_curs = &other;
    return multiply_tree(other, stack, level + 1, tree);
}

// Completes the branches top-down and lists the versions, true before false.
void edit_if_tree(curs& record, std::vector<curs*>& versions) {
    IF_NODE* node = record.if_chain;
    if (!node) {
        versions.push_back(&record);
        return;
    }
    if (node->then_curs) {
        merge_curs(*node->then_curs, record);
        edit_if_tree(*node->then_curs, versions);
    }
    if (node->else_curs) {
        merge_curs(*node->else_curs, record);
        edit_if_tree(*node->else_curs, versions);
    } else {
        versions.push_back(&record);
    }
}

const char* sql_of(const curs& c) {
    if (c.raw_insert_select) return c.raw_insert_select->c_str();
    return c.sel_piece.empty() ? "NULL" : c.sel_piece.c_str();
}

} // namespace

std::unique_ptr<curs> copy_curs(const curs& source) {
    auto copy = std::make_unique<curs>();
    static_cast<CursorDefinition&>(*copy) = source;
    copy_slots(*copy, source);
    copy->age_to_cur = source.age_to_cur;
    copy->copy_pending = source.copy_pending;
    copy->copied = source.copied;
    copy->is_age_copy = source.is_age_copy;
    copy->age_to_source = source.age_to_source;
    copy->if_chain = source.if_chain;
    copy->parent_if = source.parent_if;
    return copy;
}

void merge_curs(curs& v, const curs& p) {
    v.cur_name = p.cur_name;
    v.def_line = p.def_line;
    v.last_time = p.last_time;
    v.window_start = p.window_start;
    v.window_end = p.window_end;
    v.next_time = p.next_time;
    v.collector = p.collector;
    take_if_zero(v.stale, p.stale);
    take_if_zero(v.virtual_cur, p.virtual_cur);
    take_if_zero(v.empty, p.empty);
    take_if_zero(v.demand, p.demand);
    take_if_zero(v.once, p.once);
    take_if_zero(v.no_sql, p.no_sql);
    take_if_zero(v.interval, p.interval);
    take_if_empty(v.sel_piece, p.sel_piece);
    take_if_empty(v.table_name, p.table_name);
    take_if_empty(v.host_table_name, p.host_table_name);
    take_if_zero(v.bracket, p.bracket);
    take_if_none(v.raw_insert_select, p.raw_insert_select);
    if (!v.insert) {
        v.insert = p.insert;
        v.insert_col_count = p.insert_col_count;
        v.insert_col_names = p.insert_col_names;
    }
    take_if_zero(v.hv_count, p.hv_count);
    take_if_none(v.insert_where, p.insert_where);
    take_if_empty(v.cols, p.cols);
    take_if_zero(v.held, p.held);
    if (v.hold_reasons == std::array<int16_t, 3>{}) v.hold_reasons = p.hold_reasons;
    take_if_zero(v.has_col_funct, p.has_col_funct);
    take_if_zero(v.has_minmax, p.has_minmax);
    take_if_zero(v.row_limit, p.row_limit);
    take_if_zero(v.time_limit, p.time_limit);
    take_if_zero(v.row_size, p.row_size);
    take_if_zero(v.history, p.history);
    take_if_zero(v.class_no, p.class_no);
    take_if_zero(v.sample_limit, p.sample_limit);
    take_if_empty(v.uuidbase, p.uuidbase);
    take_if_empty(v.uuidpavc, p.uuidpavc);
    take_if_empty(v.uuidpcvc, p.uuidpcvc);
    take_if_zero(v.rpc_version, p.rpc_version);
    take_if_zero(v.objid, p.objid);
    take_if_zero(v.set, p.set);
    take_if_zero(v.show_cursor, p.show_cursor);
    take_if_zero(v.show_row, p.show_row);
    if (v.age_to.empty() || static_cast<unsigned char>(v.age_to[0]) <= ' ') v.age_to = p.age_to;
    take_if_none(v.fetch_exit, p.fetch_exit);
    take_if_zero(v.start_after, p.start_after);
    take_if_zero(v.stop_after, p.stop_after);
    take_if_none(v.script, p.script);
    take_if_zero(v.dummy_last_row, p.dummy_last_row);
    take_if_zero(v.conditional_dummy_last_row, p.conditional_dummy_last_row);
    take_if_zero(v.trace, p.trace);
    take_if_zero(v.traced, p.traced);
    take_if_zero(v.tracem, p.tracem);
    for (size_t k = 0; k < v.ranges.size(); ++k) take_if_empty(v.ranges[k], p.ranges[k]);
    take_slot(v.load_list, p.load_list);
    take_slot(v.pre_cursor, p.pre_cursor);
    take_slot(v.iterate, p.iterate);
    take_slot(v.in_list, p.in_list);
    take_slot(v.base, p.base);
    take_slot(v.iterate_where, p.iterate_where);
    take_slot(v.math, p.math);
    take_slot(v.decode, p.decode);
    take_slot(v.column_exit, p.column_exit);
    take_slot(v.set_len, p.set_len);
}

void swap_definition(curs& a, curs& b) {
    std::swap(static_cast<CursorDefinition&>(a), static_cast<CursorDefinition&>(b));
    std::swap(a.load_list, b.load_list);
    std::swap(a.pre_cursor, b.pre_cursor);
    std::swap(a.iterate, b.iterate);
    std::swap(a.in_list, b.in_list);
    std::swap(a.base, b.base);
    std::swap(a.iterate_where, b.iterate_where);
    std::swap(a.math, b.math);
    std::swap(a.decode, b.decode);
    std::swap(a.column_exit, b.column_exit);
    std::swap(a.set_len, b.set_len);
    std::swap(a.hv_pieces, b.hv_pieces);
    std::swap(a.dummy_text, b.dummy_text);
}

std::vector<curs*> cursor_versions(curs& cursor) {
    std::vector<curs*> out{&cursor};
    curs* active = cursor.tree_place;
    if (!active) return out;
    for (curs* v = active->vers_list; v && v != active; v = v->vers_list) out.push_back(v);
    return out;
}

int edit_curs_version_set(curs& c) {
    reset_version_parse();
    if (c.parent_if) {
        PRINT('e', "PIF0100", "Cursor %s end encountered before expected ENDIF\n", c.cur_name.c_str());
        return 1;
    }
    if (!c.if_chain) {
        c.vers_list = c.tree_place = &c;
        return 0;
    }
    VersionTree& tree = *c.vers_tree;
    if (multiply_tree(c, IfStack{}, 0, tree) != 0) return 1;
    curs* root = nullptr;
    try {
        tree.records.push_back(copy_curs(c));
        root = tree.records.back().get();
    } catch (const std::bad_alloc&) {
        PRINT('s', "PIF0110", "Can not acquire memory\n");
        return 1;
    }
    for (IF_NODE* n = root->if_chain; n; n = n->next) n->parent_curs = root;
    std::vector<curs*> versions;
    edit_if_tree(*root, versions);
    if (debugging()) {
        for (curs* v : versions)
            PRINT('t', "SMZIF010", "Cursor %s : %x is being edited, vers_list %x, SQL %s\n", v->cur_name.c_str(),
                  short_address(v), short_address(v->vers_list), sql_of(*v));
        PRINT('t', "SMZIF011", "New root : %x\n", short_address(root));
    }
    if (versions.empty()) {
        PRINT('e', "PIF0120", "IF-tree for cursor %s not valid\n", c.cur_name.c_str());
        return 1;
    }
    for (size_t i = 0; i < versions.size(); ++i) {
        versions[i]->vers_list = versions[(i + 1) % versions.size()];
        versions[i]->vers_root = root;
        versions[i]->tree_place = versions[i];
    }
    curs& first = *versions.front();
    swap_definition(c, first);
    first.held = c.held;  // a version's own hold switch stays in its place while it is active
    c.if_chain = nullptr;
    c.vers_root = root;
    c.tree_place = &first;
    c.vers_list = first.vers_list;
    if (debugging())
        PRINT('t', "SMZIF060", "Slot cursor %s : %x, vers_list %x, SQL %s, tree place %x\n", c.cur_name.c_str(),
              short_address(&c), short_address(c.vers_list), sql_of(c), short_address(c.tree_place));
    return 0;
}

int define_vers_chain() {
    for (auto& c : cur_anchor)
        for (curs* v : cursor_versions(*c))
            if (v->held == 'Y') v->hold_reasons[2] = 1;
    return 0;
}

} // namespace qvx
