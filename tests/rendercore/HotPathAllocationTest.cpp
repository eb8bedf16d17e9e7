// The per-block path allocates nothing, takes no lock and makes no system call, and a producer
// waiting for the queues' writer lock never sleeps (the MIDI callback runs on a driver's thread).
// check_syscalls.py runs this under strace: between its two marker calls (access() on paths that
// do not exist) must be nothing, so no allocation that maps memory, no contended lock, no clock.

#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include "host/WriterLock.h"

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

namespace {
std::atomic<long> lockCalls{0}, sleepCalls{0};
template <typename Fn> Fn next(const char* name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }
} // namespace

// Every lock of the C++ library and of the SDK's base goes through these, and every sleep.
#define COUNTED(counter, name, params, args)                                                                 \
    extern "C" int name params                                                                               \
    {                                                                                                        \
        counter.fetch_add(1, std::memory_order_relaxed);                                                     \
        static auto real = next<int(*) params>(#name);                                                       \
        return real args;                                                                                    \
    }
COUNTED(lockCalls, pthread_mutex_lock, (pthread_mutex_t * m), (m))
COUNTED(lockCalls, pthread_mutex_trylock, (pthread_mutex_t * m), (m))
COUNTED(lockCalls, pthread_rwlock_rdlock, (pthread_rwlock_t * l), (l))
COUNTED(lockCalls, pthread_rwlock_wrlock, (pthread_rwlock_t * l), (l))
COUNTED(sleepCalls, nanosleep, (const struct timespec* request, struct timespec* remaining),
        (request, remaining))
COUNTED(sleepCalls, clock_nanosleep,
        (clockid_t clock, int flags, const struct timespec* request, struct timespec* remaining),
        (clock, flags, request, remaining))
#undef COUNTED
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};

void note()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)
// ASan's allocator serves malloc and every form of operator new; its hook sees them all. (TSan's
// hook misses the aligned forms, so there, as on Windows, operator new is replaced instead.)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { note(); }, [](const volatile void*) {});
#else
// The library's operator delete matches these. The nothrow forms are replaced too, since
// TSan's runtime would serve them itself.
namespace {
// Out of line: seen inlined, the malloc inside would look mismatched with the caller's delete.
[[gnu::noinline]] void* allocate(std::size_t n, std::size_t alignment = 0)
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
void* allocateOrNull(std::size_t n) noexcept
{
    try {
        return allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
} // namespace
void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocateOrNull(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocateOrNull(n); }
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

TEST(HotPath, TenThousandBlocksWithNotesAndParameterChangesAllocateNothingAndTakeNoLock)
{
    // The counters must see allocations and locks, or their zeros prove nothing.
    struct alignas(64) Wide
    {
        char bytes[64];
    };
    std::unique_ptr<std::vector<int>> probe;
    EXPECT_GE(allocationsOf([&] {
                  probe = std::make_unique<std::vector<int>>(100); // two
                  delete[] new Wide[3];
                  delete[] new (std::nothrow) int[3];
              }),
              4u);
    HotPathRig rig;
    // Warm-up: first touches of the buffers may fault pages in, which is not a call.
    for (int32_t block = 0; block < 100; ++block) {
        rig.feed(block);
        rig.renderLayout(block);
        rig.drainReports();
    }
#ifndef _WIN32
    std::mutex mutex;
    mutex.lock();
    mutex.unlock();
    ASSERT_GT(lockCalls.load(), 0) << "the lock counter must see a lock";
    access("/pomaro-hot-path-begin", F_OK);
    const long locksBefore = lockCalls.load();
#endif
    const int64_t reportsBefore = rig.reports;
    std::uint64_t seen = 0;
    int64_t events = 0, points = 0;
    for (int32_t block = 0; block < 10000; ++block) {
        rig.feed(block);
        seen += allocationsOf([&] { rig.renderLayout(block); });
        events += rig.processor.lastEventCount;
        points += rig.processor.lastParamCount;
        rig.drainReports();
    }
#ifndef _WIN32
    const long locks = lockCalls.load() - locksBefore;
    access("/pomaro-hot-path-end", F_OK);
    EXPECT_EQ(locks, 0);
#endif
    EXPECT_EQ(seen, 0u);
    // The work really flowed: every note, every parameter and every report.
    EXPECT_EQ(std::tuple(events, points, rig.reports - reportsBefore), std::tuple(160000, 160000, 160000));
}

#ifndef _WIN32
// The holder keeps the lock far longer than any writer ever does (a preempted holder),
// without sleeping itself, so every sleep counted is the waiter's.
TEST(HotPath, AWriterWaitingForTheWriterLockNeverSleeps)
{
    std::this_thread::sleep_for(std::chrono::microseconds(1));
    ASSERT_GT(sleepCalls.load(), 0) << "the sleep counter must see a sleep";
    PomaroApp::WriterLock lock;
    lock.lock();
    std::atomic<bool> waiting{false}, acquired{false};
    std::thread waiter([&] {
        waiting.store(true);
        lock.lock();
        acquired.store(true);
        lock.unlock();
    });
    while (!waiting.load())
        std::this_thread::yield();
    const long before = sleepCalls.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_FALSE(acquired.load());
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(sleepCalls.load() - before, 0);
}
#endif

} // namespace
} // namespace RenderCoreTest
