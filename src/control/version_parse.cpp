// The "if", "else" and "endif" clauses of a cursor block. Each "if" gets
// a node on the record it stands in; its branches are full copies of that
// record taken when the branch opens, so a branch already holds every
// clause given before its "if" and receives the clauses up to its "else"
// or "endif".
#include <new>

#include "control/versions.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// Reader state from the first "if" of a block to its last "endif".
struct ParseState {
    curs* record = nullptr;       // the record being filled
    IF_NODE* open_if = nullptr;   // the IF being filled
    VersionTree* tree = nullptr;  // the block's tree
    ConditionParser condition_parser = nullptr;
};
ParseState state;

bool debugging() { return debug_on(8); }

IF_NODE& new_node(VersionTree& tree) {
    tree.nodes.push_back(std::make_unique<IF_NODE>());
    return *tree.nodes.back();
}

// A branch record of the node: a full copy of from, without IFs.
curs& new_branch(VersionTree& tree, const curs& from, IF_NODE& node) {
    tree.records.push_back(copy_curs(from));
    curs& branch = *tree.records.back();
    branch.if_chain = nullptr;
    branch.parent_if = &node;
    return branch;
}

void append_node(curs& record, IF_NODE& node) {
    IF_NODE** link = &record.if_chain;
    while (*link) link = &(*link)->next;
    *link = &node;
}

} // namespace

void set_condition_parser(ConditionParser parser) { state.condition_parser = parser; }

void reset_version_parse() {
    const ConditionParser keep = state.condition_parser;
    state = ParseState{};
    state.condition_parser = keep;
}

int parse_if(curs*& record, const char*& pos) {
    if (!state.record) {
        state.record = record;
        if (!record->vers_tree) record->vers_tree = std::make_shared<VersionTree>();
        state.tree = record->vers_tree.get();
    } else if (state.record != record) {
        PRINT('e', "PIF0010", "IF-ELSE srtucture not complete for cursor %s\n", record->cur_name.c_str());
        return 1;
    }
    curs& current = *state.record;
    IF_NODE* node = nullptr;
    try {
        node = &new_node(*state.tree);
    } catch (const std::bad_alloc&) {
        PRINT('s', "PIF0020", "Can not acquire memory\n");
        return 1;
    }
    node->parent_curs = &current;
    if (debugging()) PRINT('t', "SMZIF030", "condition: %.30s\n", pos);
    if (state.condition_parser) node->condition = state.condition_parser(pos);
    if (!node->condition) {
        PRINT('e', "PIF0030", "Syntax error in conditional expression  for cursor %s\n", current.cur_name.c_str());
        return 1;
    }
    if (debugging()) PRINT('t', "SMZIF040", "condition parsed\n");
    // The position stays on the condition's end sign.
    if (pos[-1] == ';') --pos;
    try {
        node->then_curs = &new_branch(*state.tree, current, *node);
    } catch (const std::bad_alloc&) {
        PRINT('s', "PIF0040", "Can not acquire memory\n");
        return 1;
    }
    append_node(current, *node);
    state.open_if = node;
    state.record = node->then_curs;
    record = state.record;
    return 0;
}

int parse_else(curs*& record) {
    if (!state.record || state.record != record || !state.open_if) {
        PRINT('e', "PIF0050", "ELSE has no matching IF for cursor %s\n", record->cur_name.c_str());
        return 1;
    }
    IF_NODE& node = *state.open_if;
    try {
        node.else_curs = &new_branch(*state.tree, *node.parent_curs, node);
    } catch (const std::bad_alloc&) {
        PRINT('s', "PIF0060", "Can not acquire memory\n");
        return 1;
    }
    state.record = node.else_curs;
    record = state.record;
    return 0;
}

int parse_endif(curs*& record) {
    if (!state.record || state.record != record || !state.open_if) {
        PRINT('e', "PIF0070", "ENDIF has no matching IF for cursor %s\n", record->cur_name.c_str());
        return 1;
    }
    state.record = state.open_if->parent_curs;
    state.open_if = state.record->parent_if;
    record = state.record;
    if (debugging())
        PRINT('w', "SMZIF045",
              "current curs %x,                            current IF   %x,                            current curs "
              "parent if %x\n",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(state.record)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(state.open_if)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(state.record->parent_if)));
    if (!state.open_if) state.record = nullptr;
    return 0;
}

} // namespace qvx
