#pragma once
// A word shared between threads that stands on its own: a cell, a row
// number, a flag, a level.
//
// It is read and written whole, with relaxed ordering, so it publishes
// nothing else: seeing it change says nothing about any other memory. A word
// that hands something over (the voices, between the audio callback and the
// export) is a plain std::atomic instead, used through named routines that
// state their ordering (audio/sequencer.h). The few read-modify-writes (a
// mailbox emptied, a position word stored only if unchanged) go through
// `value`.
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
