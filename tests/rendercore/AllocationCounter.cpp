// Replaces the global allocation functions of the test program. Sanitizers bring
// their own malloc, so there only operator new is replaced.

#include "tests/rendercore/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace RenderCoreTest {
namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};

inline void note()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

void startCountingAllocations()
{
    allocations.store(0);
    counting.store(true);
}

std::uint64_t stopCountingAllocations()
{
    counting.store(false);
    return allocations.load();
}

} // namespace RenderCoreTest

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define POMARO_COUNT_MALLOC 1
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n)
{
    RenderCoreTest::note();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size)
{
    RenderCoreTest::note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n)
{
    RenderCoreTest::note();
    return __libc_realloc(p, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n)
{
    RenderCoreTest::note();
    return __libc_memalign(alignment, n);
}
}
#endif

bool RenderCoreTest::countsMalloc()
{
#ifdef POMARO_COUNT_MALLOC
    return true;
#else
    return false;
#endif
}

namespace {
void* allocate(std::size_t n)
{
    RenderCoreTest::note();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    std::abort();
}
void* allocateAligned(std::size_t n, std::align_val_t a)
{
    RenderCoreTest::note();
    const std::size_t alignment = static_cast<std::size_t>(a);
    const std::size_t size = (n + alignment - 1) / alignment * alignment;
#ifdef _WIN32
    void* p = _aligned_malloc(size ? size : alignment, alignment);
#else
    void* p = std::aligned_alloc(alignment, size ? size : alignment);
#endif
    if (!p)
        std::abort();
    return p;
}
void freeAligned(void* p)
{
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}
} // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocateAligned(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { freeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { freeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { freeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { freeAligned(p); }
