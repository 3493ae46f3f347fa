#pragma once
// Counts heap allocations made through the test binary's replaced global
// operator new (defined once, in alloc_watch.cpp) while `countAllocations`
// is set. Shared so that a second replacement is never needed.
#include <atomic>
#include <cstddef>

inline std::atomic<bool> countAllocations{false};
inline std::atomic<size_t> allocationsCounted{0};

// Allocation watch for the bounded-memory test: the largest single block and
// the bytes requested while `watching` is set.
inline std::atomic<bool> watching{false};
inline std::atomic<size_t> largestBlock{0}, bytesRequested{0};
