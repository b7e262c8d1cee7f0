// An owning slot on a record for what one clause kind makes of its
// clauses. The record only names the type; the module that owns the
// clause kind defines it and fills the slot, and the slot deletes its
// content through the deleter that module's code gave it, so the record
// needs no header above its own layer.
#pragma once

#include <utility>

namespace qvx {

template <class T>
class ClauseSlot {
public:
    ClauseSlot() = default;
    ClauseSlot(const ClauseSlot&) = delete;
    ClauseSlot& operator=(const ClauseSlot&) = delete;
    ClauseSlot(ClauseSlot&& other) noexcept { swap(other); }
    ClauseSlot& operator=(ClauseSlot&& other) noexcept {
        ClauseSlot gone(std::move(other));
        swap(gone);
        return *this;
    }
    ~ClauseSlot() { reset(); }

    explicit operator bool() const { return ptr_ != nullptr; }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }

    // The content, made empty first when the slot holds none. Only code
    // that sees T's definition can call this.
    T& ensure() {
        if (!ptr_) {
            ptr_ = new T();
            drop_ = [](T* p) { delete p; };
            copy_ = [](const T* p) { return new T(*p); };
        }
        return *ptr_;
    }

    // A deep copy of the content (an empty slot for none): a version of a
    // cursor starts as a copy of the record it branches from.
    ClauseSlot clone() const {
        ClauseSlot out;
        if (ptr_) {
            out.ptr_ = copy_(ptr_);
            out.drop_ = drop_;
            out.copy_ = copy_;
        }
        return out;
    }

    void reset() {
        if (ptr_) drop_(ptr_);
        ptr_ = nullptr;
        drop_ = nullptr;
        copy_ = nullptr;
    }

private:
    void swap(ClauseSlot& other) noexcept {
        std::swap(ptr_, other.ptr_);
        std::swap(drop_, other.drop_);
        std::swap(copy_, other.copy_);
    }

    T* ptr_ = nullptr;
    void (*drop_)(T*) = nullptr;
    T* (*copy_)(const T*) = nullptr;
};

} // namespace qvx
