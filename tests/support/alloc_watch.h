#pragma once
// Counts heap allocations made through the test binary's replaced global
// operator new (defined once, in export_test.cpp) while `countAllocations`
// is set. Shared so that a second replacement is never needed.
#include <atomic>
#include <cstddef>

inline std::atomic<bool> countAllocations{false};
inline std::atomic<size_t> allocationsCounted{0};
