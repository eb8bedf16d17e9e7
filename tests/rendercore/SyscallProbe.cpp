// Runs the prepared per-block path 10,000 times between two marker system calls, so
// that a tracer (strace -f) can show that nothing in between enters the kernel: no
// allocation that maps memory, no waiting lock (a contended lock is a futex call), no
// clock, no I/O. The markers are access() calls on paths that do not exist.
// An uncontended lock makes no system call, so the probe also counts the calls of
// the POSIX lock functions it replaces below.

#include "tests/rendercore/HotPathRig.h"

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace {
std::atomic<long> lockCalls{0};

template <typename Fn> Fn next(const char* name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }
} // namespace

// Every lock of the C++ library and of the SDK's base goes through these.
extern "C" int pthread_mutex_lock(pthread_mutex_t* m)
{
    lockCalls.fetch_add(1, std::memory_order_relaxed);
    static auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    return real(m);
}
extern "C" int pthread_mutex_trylock(pthread_mutex_t* m)
{
    lockCalls.fetch_add(1, std::memory_order_relaxed);
    static auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
    return real(m);
}
extern "C" int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
    lockCalls.fetch_add(1, std::memory_order_relaxed);
    static auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
    return real(l);
}
extern "C" int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
    lockCalls.fetch_add(1, std::memory_order_relaxed);
    static auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
    return real(l);
}

int main()
{
    RenderCoreTest::HotPathRig rig;
    // Warm-up: first touches of the buffers may fault pages in, which is not a call.
    for (int32_t block = 0; block < 100; ++block) {
        rig.feed(block);
        rig.render(block);
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
        rig.render(block);
        events += rig.processor.lastEventCount;
        rig.drainReports();
    }
    const long locks = lockCalls.load() - locksBefore;
    access("/pomaro-hot-path-end", F_OK);
    std::printf("blocks=10000 events=%lld locks=%ld\n", static_cast<long long>(events), locks);
    return events == 16 * 10000 && locks == 0 ? 0 : 1;
}
