#include "expr/term.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "runtime/exit_path.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

// The release shared by free_term and simple_free_term.
void release(Term* t, int mode, const char* invalid_id, const char* value_id) {
    if (!t) return;
    if (expr_debug() && verify_term(t) != 0) {
        PRINT('e', invalid_id, "Term block is invalid, not freed\n");
        return;
    }
    if (t->value_owned) {
        if (!t->owns_real_buffer()) PRINT('e', value_id, "TERM_TABLE structure ->value pointer can't be freed\n");
        t->use_inline();
    }
    t->sum_term = t->vector_partner = t->vector_next = t->next = nullptr;
    if (mode == kFreeTerm) {
        delete t;
    } else if (mode == kReuseTerm) {
        detail::clear_term(*t);
        t->next = detail::reuse_list.head;
        detail::reuse_list.head = t;
        ++detail::reuse_list.count;
    }
}

} // namespace

void Term::set_owned(std::string_view text) {
    own_buffer.assign(text);
    value = own_buffer.c_str();
    value_owned = 1;
}

void Term::use_inline() {
    std::string().swap(own_buffer);
    value = name;
    value_owned = 0;
}

void Term::set_text(std::string_view text) {
    const size_t n = std::min(text.size(), kTermNameLen);
    std::memcpy(name, text.data(), n);
    name[n] = '\0';
    if (text.size() > kTermNameLen) {
        long_text.assign(text);
        set_owned(text);
    } else {
        long_text.clear();
        if (value_owned) use_inline();
        value = name;
    }
}

Term* alloc_term(int32_t entry_type, int32_t data_type) {
    Term* t = new (std::nothrow) Term;
    if (!t) {
        PRINT('s', "TRM0010", "Can not acquire memory\n");
        quitting(0);
        return nullptr;
    }
    t->entry_type = entry_type;
    t->data_type = data_type;
    return t;
}

int copy_term(Term& target, const Term& source) {
    const char* from = source.value ? source.value : "";
    const size_t n = source.len > 0 ? static_cast<size_t>(source.len) : std::min(std::strlen(from), kTermNameLen);
    bool owned = n > kTermNameLen;  // a value wider than the name field gets a buffer
    if (source.value_owned) {
        if (!source.value || source.value == source.name) {
            PRINT('e', "TRM0020", "Invalid TERM_TABLE structure\n");
            return 1;
        }
        owned = true;
        if (target.value_owned && !target.owns_real_buffer())
            PRINT('w', "TRM0023", "Invalid TERM_TABLE structure, trying to correct\n");
    } else if (target.value_owned && !target.owns_real_buffer()) {
        PRINT('w', "TRM0025", "Invalid TERM_TABLE structure, trying to correct\n");
    }
    // The bytes first: source may read from the target's own fields.
    std::string bytes;
    try {
        bytes.assign(from, strnlen(from, n));
        bytes.resize(n, '\0');
        if (owned) target.own_buffer.reserve(n + 1);
    } catch (const std::bad_alloc&) {
        PRINT('s', "TRM0030", "Can not acquire memory\n");
        return 1;
    }
    target.entry_type = source.entry_type;
    target.work = source.work;
    std::memcpy(target.name, source.name, sizeof target.name);
    target.data_type = source.data_type;
    target.ival = source.ival;
    target.dval = source.dval;
    target.numeric_kind = source.numeric_kind;
    std::memcpy(target.cursor_name, source.cursor_name, sizeof target.cursor_name);
    target.source = source.source;
    target.src_cursor = source.src_cursor;
    target.src_col = source.src_col;
    target.src_generation = source.src_generation;
    target.follows_cursor = source.follows_cursor;
    target.long_text = source.long_text;
    target.len = static_cast<int32_t>(n);
    if (owned) {
        target.set_owned(bytes);
    } else {
        target.use_inline();
        std::memcpy(target.name, bytes.data(), n);
        target.name[n] = '\0';
    }
    target.sum_term = target.vector_partner = target.vector_next = target.next = nullptr;
    return 0;
}

void free_term(Term* term, int mode) { release(term, mode, "LEX0243", "LEX0245"); }

void simple_free_term(Term* term, int mode) { release(term, mode, "LEX0252", "LEX0255"); }

int verify_term(const Term* t) {
    if (!expr_debug()) return 0;
    if (!t || t->tag != kTermTag) {
        PRINT('e', "TRM0200", "Term entry type is invalid\n");
        return 1;
    }
    if (t->entry_type < kStringConst || t->entry_type > kVectorTerm) {
        PRINT('e', "TRM0210", "Term %s type is invalid\n", t->name);
        return 1;
    }
    if (t->data_type < kUndefined || t->data_type > kMaxDataType) {
        PRINT('e', "TRM0220", "Term data type is invalid\n");
        return 1;
    }
    return 0;
}

detail::ReuseList::~ReuseList() { clear_reuse_list(); }

void clear_reuse_list() {
    detail::ReuseList& r = detail::reuse_list;
    while (r.head) delete std::exchange(r.head, r.head->next);
    r.count = 0;
}

} // namespace qvx
