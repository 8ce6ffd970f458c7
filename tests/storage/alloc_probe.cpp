// The allocation probe of alloc_probe.h, linked into the test programs that
// use it.
#include "tests/storage/alloc_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

// GCC sees the malloc inside the replaced operator new and the free inside the
// replaced delete as a mismatch; they are a matched pair here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Records the largest single allocation while a test asks for it, to show
// that declared sizes are checked before anything is allocated. Replacing the
// global allocation functions affects the whole test program; they only
// forward to malloc/free. Other tests of this program use the same record
// through alloc_probe.h.
namespace alloc_probe {
std::atomic<bool> gTrack{false};
std::atomic<std::size_t> gLargest{0};
}  // namespace alloc_probe

namespace {
using alloc_probe::gLargest;
using alloc_probe::gTrack;

void* Allocate(std::size_t n) {
    if (gTrack.load(std::memory_order_relaxed)) {
        std::size_t seen = gLargest.load(std::memory_order_relaxed);
        while (n > seen && !gLargest.compare_exchange_weak(seen, n)) {}
    }
    return std::malloc(n ? n : 1);
}
}  // namespace

void* operator new(std::size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
