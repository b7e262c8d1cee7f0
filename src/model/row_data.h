// Stored rows: one record per row a cursor keeps, with the row text right
// behind the record in the same allocation, the owning head of a chain of
// rows, and the row chain a cursor keeps (oldest first, linked towards the
// newest, with its newest row and its length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace qvx {

struct row_data {
    row_data* next = nullptr;  // next newer row; null on the newest
    uint32_t len = 0;          // text length of a dummy row; 0 on fetched rows
    int32_t age = 0;           // seconds, grown by the age trim
    int32_t sample_no = 0;     // sample of the run that stored the row
    int32_t row_no = 0;        // position in its sample, from 1
    uint32_t size = 0;         // bytes of text allocated (the closing zero not counted)

    char* text() { return reinterpret_cast<char*>(this + 1); }
    const char* text() const { return reinterpret_cast<const char*>(this + 1); }

    // A row with room for size bytes of text followed by a zero byte; the
    // text itself is not initialised. Null when memory ran out.
    static row_data* create(size_t size) noexcept;
    // Frees one row (not the rows after it).
    static void destroy(row_data* row) noexcept;
};

// Frees a chain from its first row on, one row at a time.
void free_rows(row_data* first) noexcept;

// Owner of a row chain: frees every row from its row on when it goes or
// is given another chain.
class RowHead {
public:
    RowHead() = default;
    explicit RowHead(row_data* first) noexcept : row_(first) {}
    ~RowHead() { free_rows(row_); }
    RowHead(RowHead&& other) noexcept : row_(std::exchange(other.row_, nullptr)) {}
    RowHead& operator=(RowHead&& other) noexcept {
        if (this != &other) {
            free_rows(row_);
            row_ = std::exchange(other.row_, nullptr);
        }
        return *this;
    }
    RowHead(const RowHead&) = delete;
    RowHead& operator=(const RowHead&) = delete;

    row_data* get() const noexcept { return row_; }
    operator row_data*() const noexcept { return row_; }
    row_data* operator->() const noexcept { return row_; }

    // Frees the chain held and takes the one given.
    void reset(row_data* first = nullptr) noexcept {
        free_rows(row_);
        row_ = first;
    }
    // Gives the chain up without freeing it.
    row_data* release() noexcept { return std::exchange(row_, nullptr); }

private:
    row_data* row_ = nullptr;
};

// A cursor's stored rows, oldest first. The newest row and the count
// always match the chain.
//
// A chain may lend its rows to one other chain (an age_to target showing
// its source's sample): the borrower sees the same rows without owning
// them. Whatever changes either side ends the loan first, so a row is
// never freed while the other side still sees it: a lender about to
// change gives the borrower copies of the rows it sees; a borrower about
// to change forgets the loan. A chain is not copied; a moved chain takes
// its loan along (the other side of it then knows the new chain).
class RowChain {
public:
    RowChain() = default;
    RowChain(const RowChain&) = delete;
    RowChain& operator=(const RowChain&) = delete;
    // A chain handed on leaves its source empty; both take new stamps.
    RowChain(RowChain&& other) noexcept;
    RowChain& operator=(RowChain&& other) noexcept;
    ~RowChain();

    row_data* first() const noexcept { return head_.get(); }
    row_data* last() const noexcept { return last_; }
    int32_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    // A stamp taken anew (unique in the process) by every change of the
    // chain (a row added, taken, freed or adopted) and by every touch():
    // what was worked out from the rows holds while it stays the same.
    uint64_t changes() const noexcept { return changes_; }
    // Notes that stored row text was written in place.
    void touch() noexcept;

    // Takes the row and links it behind the newest.
    void append(row_data* row) noexcept;
    // Unlinks the oldest row and gives it to the caller; null when empty.
    row_data* pop_front() noexcept;
    // Frees the oldest row; false when there was none.
    bool drop_front() noexcept;
    // Frees the rows held and takes the chain starting at first.
    void adopt(row_data* first) noexcept;
    // Frees every row.
    void clear() noexcept;

    // Drops the rows held and shows the rows of from without owning them.
    void borrow(RowChain& from) noexcept;
    // Drops the rows held and takes over the chain of from, which is left
    // empty; a chain borrowed from it becomes this chain's own.
    void take(RowChain& from) noexcept;
    // Ends a loan before the rows are changed in place (their age, their
    // numbers): a lender's borrower gets copies, a borrower forgets.
    void own() noexcept;
    // True while the chain shows another chain's rows.
    bool borrowed() const noexcept { return lender_ != nullptr; }
    // True while another chain shows this chain's rows.
    bool lent() const noexcept { return borrower_ != nullptr; }

private:
    void end_loan() noexcept;
    void forget_view() noexcept;
    void copy_view() noexcept;

    RowHead head_;
    row_data* last_ = nullptr;
    int32_t count_ = 0;
    RowChain* lender_ = nullptr;    // the chain whose rows this one shows
    RowChain* borrower_ = nullptr;  // the chain showing this one's rows
    uint64_t changes_ = 0;
};

} // namespace qvx
