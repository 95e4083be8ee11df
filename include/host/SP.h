// SPDX-License-Identifier: Apache-2.0
// SP<T>: the host's intrusive shared pointer. T derives from SPBase, which holds the count;
// the object is deleted when the last SP to it goes away. Counting is atomic.
#pragma once

#include <atomic>
#include <utility>

class SPBase {
public:
    SPBase() = default;
    SPBase(const SPBase&) : count_(0) {}
    SPBase& operator=(const SPBase&) { return *this; }
    virtual ~SPBase() = default;

    void addRef() const { count_.fetch_add(1, std::memory_order_relaxed); }
    void release() const {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    long refCount() const { return count_.load(std::memory_order_relaxed); }

private:
    mutable std::atomic<long> count_{0};
};

template <typename T>
class SP {
public:
    SP() = default;
    SP(T* object) : object_(object) {  // NOLINT: implicit, as the host's pointer is
        if (object_ != nullptr) {
            object_->addRef();
        }
    }
    SP(const SP& other) : SP(other.object_) {}
    SP(SP&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ~SP() { reset(); }

    SP& operator=(SP other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    void reset() {
        if (object_ != nullptr) {
            std::exchange(object_, nullptr)->release();
        }
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    bool isNull() const { return object_ == nullptr; }

private:
    T* object_ = nullptr;
};
