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
        while (n > seen && !largestBlock.compare_exchange_weak(seen, n)) {
        }
    }
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(size_t n) { return watchedAlloc(n); }
void* operator new[](size_t n) { return watchedAlloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
