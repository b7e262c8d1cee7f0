#include "expr/lex_store.h"

#include <cstring>
#include <unordered_map>
#include <vector>

namespace qvx {
namespace {

constexpr std::string_view kRowArgs = ",rfa";

// One stored expression.
struct Entry {
    std::string text;    // up to and including its first ';'
    std::string cursor;  // empty for kind 1
    int kind = 0;
    std::shared_ptr<const LexemeList> list;
    std::shared_ptr<TermTable> terms;
    std::unique_ptr<LexemeList> replica;  // kinds 4 and 5
};

// Texts are keys up to their first ';'; a select list's text without its
// ",rfa", so that the list and its suffixed form meet.
std::string key_of(std::string_view text, int kind) {
    const size_t end = text.find(';');
    std::string_view t = text.substr(0, end);
    if (kind == kLexSelectList && t.size() >= kRowArgs.size() &&
        t.substr(t.size() - kRowArgs.size()) == kRowArgs)
        t.remove_suffix(kRowArgs.size());
    return std::string(t);
}

std::string stored_text(std::string_view text) {
    const size_t end = text.find(';');
    return std::string(end == std::string_view::npos ? text : text.substr(0, end + 1));
}

bool known_kind(int kind) {
    return kind == kLexPlain || kind == kLexCursor || kind == kLexSelectList || kind == kLexWhere;
}

bool has_replica(int kind) { return kind == kLexSelectList || kind == kLexWhere; }

void make_replica(Entry& e) {
    if (has_replica(e.kind)) e.replica = std::make_unique<LexemeList>(e.list ? e.list->size() : 0);
}

// The entry of another kind (and cursor) made from from: the same term
// table; the ROW row taken off or put on when the change is from or to a
// select list, else the same list.
std::unique_ptr<Entry> derive(const Entry& from, int kind, std::string cursor) {
    auto e = std::make_unique<Entry>();
    e->kind = kind;
    e->cursor = kind == kLexPlain ? std::string() : std::move(cursor);
    e->terms = from.terms;
    const bool from_sel = from.kind == kLexSelectList, to_sel = kind == kLexSelectList;
    if (from_sel && !to_sel) {
        std::string base = key_of(from.text, kLexSelectList);
        if (!from.text.empty() && from.text.back() == ';') base += ';';
        e->text = std::move(base);
        auto copy = std::make_shared<LexemeList>(*from.list);
        const Operation* row = get_row_func_entry();
        if (copy->size() >= 2 && (*copy)[copy->size() - 2].op == row) copy->erase(copy->end() - 2);
        e->list = std::move(copy);
    } else if (!from_sel && to_sel) {
        std::string base = from.text;
        const bool semi = !base.empty() && base.back() == ';';
        if (semi) base.pop_back();
        e->text = base + std::string(kRowArgs) + (semi ? ";" : "");
        auto copy = std::make_shared<LexemeList>(*from.list);
        copy->insert(copy->empty() ? copy->end() : copy->end() - 1, Lexeme{get_row_func_entry(), nullptr});
        e->list = std::move(copy);
    } else {
        e->text = from.text;
        e->list = from.list;
    }
    make_replica(*e);
    return e;
}

struct Chunk {
    void* chunk;
    long offset;
    void (*release)(void*);
};

struct State {
    // Groups by key; within a group, entries of one cursor adjacent and
    // ordered by kind.
    std::unordered_map<std::string, std::vector<std::unique_ptr<Entry>>> groups;
    size_t entries = 0;
    std::vector<Chunk> chunks;
};

// Kept to the very end of the process: the term tables the entries hold
// are freed through the term-table module, which may be gone by then.
State& state() {
    static State& s = *new State;
    return s;
}

void fill(LexBlock& b, const Entry& e) {
    b.text = e.text;
    b.cursor = e.cursor;
    b.kind = e.kind;
    b.list = e.list;
    b.list_len = e.list ? e.list->size() : 0;
    b.terms = e.terms;
    b.replica = e.replica.get();
}

// Where an entry of that cursor and kind belongs in its group.
size_t place_in(const std::vector<std::unique_ptr<Entry>>& group, const std::string& cursor, int kind) {
    size_t i = 0;
    while (i < group.size() && group[i]->cursor != cursor) ++i;
    if (i == group.size()) return i;
    while (i < group.size() && group[i]->cursor == cursor && group[i]->kind < kind) ++i;
    return i;
}

} // namespace

int find_lex_block(LexBlock& b) {
    State& s = state();
    const auto it = s.groups.find(key_of(b.text, b.kind));
    if (it == s.groups.end() || it->second.empty()) return 0;
    auto& group = it->second;
    const std::string cursor = b.kind == kLexPlain ? std::string() : b.cursor;
    const Entry* same_cursor = nullptr;
    for (const auto& e : group) {
        if (e->cursor != cursor) continue;
        if (e->kind == b.kind) {
            fill(b, *e);
            return 1;
        }
        if (!same_cursor) same_cursor = e.get();
    }
    if (!known_kind(b.kind)) return 2;
    // Missing: derived from the cursor's neighbouring entry, or from the
    // group's last entry when the cursor has none.
    const Entry& from = same_cursor ? *same_cursor : *group.back();
    std::unique_ptr<Entry> e = derive(from, b.kind, cursor);
    if (!e->list) return 2;
    const size_t at = same_cursor ? place_in(group, cursor, b.kind) : group.size();
    fill(b, *e);
    group.insert(group.begin() + static_cast<long>(at), std::move(e));
    ++s.entries;
    return 1;
}

int store_lex_block(LexBlock& b) {
    if (!known_kind(b.kind)) return 1;
    if (!b.list) return 1;
    State& s = state();
    auto e = std::make_unique<Entry>();
    e->text = stored_text(b.text);
    e->cursor = b.kind == kLexPlain ? std::string() : b.cursor;
    e->kind = b.kind;
    e->list = b.list;
    e->terms = b.terms;
    make_replica(*e);
    auto& group = s.groups[key_of(e->text, e->kind)];
    const size_t at = place_in(group, e->cursor, e->kind);
    fill(b, *e);
    group.insert(group.begin() + static_cast<long>(at), std::move(e));
    ++s.entries;
    return 0;
}

int register_memory(void* chunk, long offset, void (*release)(void*)) {
    if (!release) return 1;
    State& s = state();
    for (const Chunk& c : s.chunks)
        if (c.chunk == chunk) return 2;
    s.chunks.push_back({chunk, offset, release});
    return 0;
}

void free_loose_memory() {
    State& s = state();
    for (const Chunk& c : s.chunks) {
        void* p = c.chunk;
        while (p) {
            void* next = nullptr;
            if (c.offset >= 0) std::memcpy(&next, static_cast<char*>(p) + c.offset, sizeof next);
            c.release(p);
            p = next;
        }
    }
    s.chunks.clear();
}

size_t lex_store_size() { return state().entries; }

void reset_lex_store() {
    free_loose_memory();
    State& s = state();
    s.groups.clear();
    s.entries = 0;
}

} // namespace qvx
