#pragma once
// A tiny spin lock that serialises the producers of a single-reader queue.
// Only writers ever take it; the reader of the queue stays lock-free and
// wait-free. Writers are the user-interface and MIDI callback threads, whose
// critical sections are a handful of stores, so contention lasts nanoseconds.
// A waiting writer never sleeps (a MIDI driver's thread must not): it spins,
// and past a few dozen rounds yields its core at each round, in case the
// holder was preempted on it.

#include <atomic>
#include <thread>

namespace PomaroApp {

class WriterLock
{
public:
    WriterLock() = default;
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    bool try_lock() noexcept
    {
        return !locked.load(std::memory_order_relaxed) && !locked.exchange(true, std::memory_order_acquire);
    }

    void lock() noexcept
    {
        unsigned spins = 0;
        while (locked.exchange(true, std::memory_order_acquire)) {
            while (locked.load(std::memory_order_relaxed))
                backOff(spins++);
        }
    }

    void unlock() noexcept { locked.store(false, std::memory_order_release); }

private:
    static void backOff(unsigned spins) noexcept
    {
        if (spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        } else // returns at once when nothing else is ready to run
            std::this_thread::yield();
    }

    std::atomic<bool> locked{false};
};

} // namespace PomaroApp
