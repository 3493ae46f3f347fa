#pragma once
// A word shared between the main thread and the audio thread.
//
// Every shared value is read and written whole, with relaxed ordering: each
// value stands on its own (a cell, a row number, a flag), nothing is published
// through another, so no ordering between them is needed.
#include <atomic>

template <class T>
struct Relaxed {
    std::atomic<T> value;
    static_assert(std::atomic<T>::is_always_lock_free, "a shared word must be lock-free");

    constexpr Relaxed(T v = T()) noexcept : value(v) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;

    T load() const noexcept { return value.load(std::memory_order_relaxed); }
    void store(T v) noexcept { value.store(v, std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }
    Relaxed& operator=(T v) noexcept {
        store(v);
        return *this;
    }
};
