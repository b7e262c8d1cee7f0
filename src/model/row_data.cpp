// Row records: one allocation holds the record and its text.
#include "model/row_data.h"

#include <new>

namespace qvx {

row_data* row_data::create(size_t size) noexcept {
    void* block = ::operator new(sizeof(row_data) + size + 1, std::nothrow);
    if (!block) return nullptr;
    auto* row = new (block) row_data;
    row->size = static_cast<uint32_t>(size);
    row->text()[size] = '\0';
    return row;
}

void row_data::destroy(row_data* row) noexcept {
    if (!row) return;
    row->~row_data();
    ::operator delete(row);
}

void free_rows(row_data* first) noexcept {
    while (first) {
        row_data* next = first->next;
        row_data::destroy(first);
        first = next;
    }
}

} // namespace qvx
