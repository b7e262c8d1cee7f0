// Row records: one allocation holds the record and its text.
#include "model/row_data.h"

#include <new>
#include <utility>

namespace qvx {

namespace {

// Change stamps are unique over the process, so a chain handed from one
// cursor to another never shows a stamp seen on the receiving cursor.
uint64_t next_change() noexcept {
    static uint64_t last = 0;
    return ++last;
}

} // namespace

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

RowChain::RowChain(RowChain&& other) noexcept { *this = std::move(other); }

RowChain& RowChain::operator=(RowChain&& other) noexcept {
    if (this == &other) return *this;
    head_ = std::move(other.head_);
    last_ = std::exchange(other.last_, nullptr);
    count_ = std::exchange(other.count_, 0);
    changes_ = next_change();
    other.changes_ = next_change();
    return *this;
}

void RowChain::append(row_data* row) noexcept {
    row->next = nullptr;
    if (last_)
        last_->next = row;
    else
        head_.reset(row);
    last_ = row;
    ++count_;
    changes_ = next_change();
}

row_data* RowChain::pop_front() noexcept {
    row_data* first = head_.release();
    if (!first) return nullptr;
    head_.reset(first->next);
    first->next = nullptr;
    if (!head_) last_ = nullptr;
    --count_;
    changes_ = next_change();
    return first;
}

bool RowChain::drop_front() noexcept {
    row_data* first = pop_front();
    if (!first) return false;
    row_data::destroy(first);
    return true;
}

void RowChain::adopt(row_data* first) noexcept {
    head_.reset(first);
    last_ = nullptr;
    count_ = 0;
    changes_ = next_change();
    for (row_data* r = first; r; r = r->next) {
        last_ = r;
        ++count_;
    }
}

void RowChain::clear() noexcept { adopt(nullptr); }

void RowChain::touch() noexcept { changes_ = next_change(); }

} // namespace qvx
