// The per-block path allocates nothing once the host has prepared it. This program counts
// the allocations made while counting is on (one thread counts at a time).

#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};

void note()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer's allocator serves malloc and every form of operator new; its hook sees them all.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { note(); }, [](const volatile void*) {});
#else
// The library's nothrow forms call these, and its operator delete matches them.
namespace {
void* allocate(std::size_t n, std::size_t alignment = 0)
{
    note();
    const std::size_t size = alignment ? (n + alignment - 1) / alignment * alignment : n;
#ifdef _WIN32
    void* p = alignment ? _aligned_malloc(size ? size : alignment, alignment) : std::malloc(n ? n : 1);
#else
    void* p = alignment ? std::aligned_alloc(alignment, size ? size : alignment) : std::malloc(n ? n : 1);
#endif
    if (!p)
        throw std::bad_alloc();
    return p;
}
} // namespace
void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
#endif

namespace RenderCoreTest {
namespace {

template <typename Work> std::uint64_t allocationsOf(Work work)
{
    allocations.store(0);
    counting.store(true);
    work();
    counting.store(false);
    return allocations.load();
}

TEST(HotPathAllocation, TenThousandBlocksWithNotesAndParameterChangesAllocateNothing)
{
    // The counter must see allocations, or its zero proves nothing.
    std::unique_ptr<std::vector<int>> probe;
    EXPECT_GE(allocationsOf([&] { probe = std::make_unique<std::vector<int>>(100); }), 2u);
    struct alignas(64) Wide
    {
        char bytes[64];
    };
    EXPECT_GE(allocationsOf([] { delete[] new Wide[3]; }), 1u);
    EXPECT_GE(allocationsOf([] { delete[] new (std::nothrow) int[3]; }), 1u);
    HotPathRig rig;
    std::uint64_t seen = 0;
    int64_t events = 0, points = 0;
    for (int32_t block = 0; block < 10000; ++block) {
        rig.feed(block);
        seen += allocationsOf([&] { rig.renderLayout(block); });
        events += rig.processor.lastEventCount;
        points += rig.processor.lastParamCount;
        rig.drainReports();
    }
    EXPECT_EQ(seen, 0u);
    // The work really flowed: every note, every parameter and every report.
    EXPECT_EQ(events, 16 * 10000);
    EXPECT_EQ(points, 16 * 10000);
    EXPECT_EQ(rig.reports, 16 * 10000);
    EXPECT_EQ(rig.processor.calls, 10000);
}

} // namespace
} // namespace RenderCoreTest
