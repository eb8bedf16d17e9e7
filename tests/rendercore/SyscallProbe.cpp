// Runs the prepared per-block path 10,000 times between two marker system calls, so
// that a tracer (strace -f) can show that nothing in between enters the kernel: no
// allocation that maps memory, no waiting lock (a contended lock is a futex call), no
// clock, no I/O. The markers are access() calls on paths that do not exist.
// An uncontended lock makes no system call, so the probe also counts the calls of
// the POSIX lock functions it replaces below. Then the producers' side: a writer that
// waits for the queues' writer lock never sleeps (the MIDI callback runs on a driver's
// thread, which must not be put to sleep); the probe's sleeping functions stand in for
// the C library's and count the calls.

#include "host/WriterLock.h"
#include "tests/rendercore/HotPathRig.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <thread>
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

namespace {
// The holder keeps the lock far longer than any writer ever does (a preempted holder),
// without sleeping itself, so every sleep counted is the waiter's.
long sleepsOfAWaitingWriter()
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
    const long before = sleepCalls.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    const bool heldOff = !acquired.load();
    lock.unlock();
    waiter.join();
    return heldOff && acquired.load() ? sleepCalls.load() - before : -1;
}
} // namespace

int main()
{
    RenderCoreTest::HotPathRig rig;
    // Warm-up: first touches of the buffers may fault pages in, which is not a call.
    for (int32_t block = 0; block < 100; ++block) {
        rig.feed(block);
        rig.renderLayout(block);
        rig.drainReports();
    }
    // The replacement must see a real lock, or its zero below would prove nothing.
    std::mutex probe;
    probe.lock();
    probe.unlock();
    if (lockCalls.load() == 0) {
        std::printf("lock counter saw no lock\n");
        return 2;
    }
    int64_t events = 0;
    access("/pomaro-hot-path-begin", F_OK);
    const long locksBefore = lockCalls.load();
    for (int32_t block = 0; block < 10000; ++block) {
        rig.feed(block);
        rig.renderLayout(block);
        events += rig.processor.lastEventCount;
        rig.drainReports();
    }
    const long locks = lockCalls.load() - locksBefore;
    access("/pomaro-hot-path-end", F_OK);
    std::printf("blocks=10000 events=%lld locks=%ld\n", static_cast<long long>(events), locks);
    // As for the locks: the replacement must see a real sleep.
    std::this_thread::sleep_for(std::chrono::microseconds(1));
    if (sleepCalls.load() == 0) {
        std::printf("sleep counter saw no sleep\n");
        return 2;
    }
    const long sleeps = sleepsOfAWaitingWriter();
    std::printf("sleeps of a writer waiting for the writer lock=%ld\n", sleeps);
    return events == 16 * 10000 && locks == 0 && sleeps == 0 ? 0 : 1;
}
