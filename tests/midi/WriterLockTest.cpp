// A writer that waits for the queues' writer lock never sleeps: the MIDI callback runs
// on a driver's thread, which must not be put to sleep. This program's own sleeping
// functions stand in for the C library's and count the calls (native builds only).

#include "host/WriterLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <thread>
#include <time.h>

namespace {
std::atomic<int> sleeps{0};

template <typename Fn> Fn real(const char* name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }
} // namespace

extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining)
{
    sleeps.fetch_add(1, std::memory_order_relaxed);
    static auto next = real<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
    return next(request, remaining);
}

extern "C" int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                               struct timespec* remaining)
{
    sleeps.fetch_add(1, std::memory_order_relaxed);
    static auto next =
        real<int (*)(clockid_t, int, const struct timespec*, struct timespec*)>("clock_nanosleep");
    return next(clock, flags, request, remaining);
}

// The holder keeps the lock far longer than any writer ever does (a preempted holder),
// without sleeping itself, so every sleep counted is the waiter's.
TEST(WriterLock, AWriterWaitingForAPreemptedHolderNeverSleeps)
{
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
    const int before = sleeps.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_FALSE(acquired.load());
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(sleeps.load() - before, 0);
}
