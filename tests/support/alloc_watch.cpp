// The test binary's one replacement of the global operator new and delete,
// feeding the counts in alloc_watch.h.
#include <cstdlib>
#include <new>

#include "tests/support/alloc_watch.h"

static void* watchedAlloc(size_t n) {
    if (countAllocations) ++allocationsCounted;
    if (watching) {
        bytesRequested += n;
        size_t seen = largestBlock;
        while (n > seen && !largestBlock.compare_exchange_weak(seen, n)) {}
    }
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(size_t n) { return watchedAlloc(n); }
void* operator new[](size_t n) { return watchedAlloc(n); }
// The nothrow forms too (std::stable_sort's buffer): their blocks come back
// through the plain delete below, so they must come from malloc as well.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    try {
        return watchedAlloc(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
