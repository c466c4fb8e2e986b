// Gives a render-library object (T derives from RefCountInterface) its
// reference count. The count starts at 0; the last Release deletes the
// object. Counts change atomically: the drawing thread and the GUI thread
// both hold references.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

template <typename T>
class RefCountedObject : public T {
public:
    template <typename... Args>
    explicit RefCountedObject(Args&&... args) : T(std::forward<Args>(args)...) {}
    RefCountedObject(const RefCountedObject&) = delete;
    RefCountedObject& operator=(const RefCountedObject&) = delete;

    int AddRef() override { return static_cast<int>(count_.fetch_add(1, std::memory_order_relaxed) + 1); }
    int Release() override {
        const uint32_t left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return static_cast<int>(left);
    }
    bool HasOneRef() const { return count_.load(std::memory_order_acquire) == 1; }

protected:
    ~RefCountedObject() override = default;

private:
    std::atomic<uint32_t> count_{0};
};
