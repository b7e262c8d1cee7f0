// Row records: one allocation holds the record and its text.
#include "model/row_data.h"

#include <cstring>
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

RowChain::~RowChain() {
    if (lender_) {
        forget_view();
    } else if (borrower_) {
        borrower_->take(*this);  // the borrower keeps the rows it shows
    }
}

RowChain::RowChain(RowChain&& other) noexcept { *this = std::move(other); }

RowChain& RowChain::operator=(RowChain&& other) noexcept {
    if (&other == this) return *this;
    end_loan();
    head_ = std::move(other.head_);
    last_ = std::exchange(other.last_, nullptr);
    count_ = std::exchange(other.count_, 0);
    changes_ = next_change();
    other.changes_ = next_change();
    lender_ = std::exchange(other.lender_, nullptr);
    borrower_ = std::exchange(other.borrower_, nullptr);
    if (lender_) lender_->borrower_ = this;
    if (borrower_) borrower_->lender_ = this;
    return *this;
}

// A borrower about to change makes copies of the rows it shows, a lender
// about to change gives its borrower copies.
void RowChain::own() noexcept {
    if (lender_)
        copy_view();
    else if (borrower_)
        borrower_->copy_view();
}

// On a borrower: drops the rows it shows without freeing them.
void RowChain::forget_view() noexcept {
    lender_->borrower_ = nullptr;
    lender_ = nullptr;
    head_.release();
    last_ = nullptr;
    count_ = 0;
    changes_ = next_change();
}

// On a borrower: replaces the rows it shows by copies of its own. Rows
// that cannot be copied for want of memory are left out.
void RowChain::copy_view() noexcept {
    row_data* from = head_.get();
    const int32_t count = count_;
    forget_view();
    for (int32_t i = 0; from && i < count; ++i, from = from->next) {
        row_data* row = row_data::create(from->size);
        if (!row) break;
        row->len = from->len;
        row->age = from->age;
        row->sample_no = from->sample_no;
        row->row_no = from->row_no;
        std::memcpy(row->text(), from->text(), from->size);
        append(row);
    }
}

// Before the chain's rows are dropped: a borrower forgets them, a lender
// hands its borrower copies.
void RowChain::end_loan() noexcept {
    if (lender_)
        forget_view();
    else if (borrower_)
        borrower_->copy_view();
}

void RowChain::borrow(RowChain& from) noexcept {
    if (&from == this) return;
    end_loan();
    head_.reset();
    from.own();  // from keeps one borrower and no loan of its own
    head_.reset(from.first());
    last_ = from.last_;
    count_ = from.count_;
    lender_ = &from;
    from.borrower_ = this;
    changes_ = next_change();
}

void RowChain::take(RowChain& from) noexcept {
    if (&from == this) return;
    if (lender_ == &from) {
        // The rows shown become this chain's own.
        from.head_.release();
        from.last_ = nullptr;
        from.count_ = 0;
        from.borrower_ = nullptr;
        lender_ = nullptr;
        from.changes_ = next_change();
        return;
    }
    end_loan();
    from.own();
    head_.reset(from.head_.release());
    last_ = std::exchange(from.last_, nullptr);
    count_ = std::exchange(from.count_, 0);
    changes_ = next_change();
    from.changes_ = next_change();
}

void RowChain::append(row_data* row) noexcept {
    own();
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
    own();
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
    end_loan();
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
