// Bounded lock-free queue of fixed-size text records (Vyukov's MPMC sequence scheme).
// The audio thread pushes its process records here without allocating or locking;
// a normal thread drains them to the file. When the ring is full a push fails and the
// caller counts the record as dropped instead of waiting.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Recorder {

template <size_t Capacity, size_t SlotBytes> class SlotRing
{
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    SlotRing()
    {
        for (size_t i = 0; i < Capacity; ++i)
            slots[i].sequence.store(i, std::memory_order_relaxed);
    }
    SlotRing(const SlotRing&) = delete;
    SlotRing& operator=(const SlotRing&) = delete;

    // fill (char* text, size_t capacity) -> size_t length written. Returns false when full.
    template <typename Fill> bool push(Fill&& fill)
    {
        size_t pos = writePos.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = slots[pos & (Capacity - 1)];
            const size_t seq = slot.sequence.load(std::memory_order_acquire);
            const intptr_t diff = intptr_t(seq) - intptr_t(pos);
            if (diff == 0) {
                if (writePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    size_t n = fill(slot.text, SlotBytes);
                    slot.length = n < SlotBytes ? n : SlotBytes;
                    slot.sequence.store(pos + 1, std::memory_order_release);
                    return true;
                }
            } else if (diff < 0)
                return false; // the slot still holds an unread record: full
            else
                pos = writePos.load(std::memory_order_relaxed);
        }
    }

    // sink (const char* text, size_t length) per record, oldest first. Returns the count.
    // Safe against concurrent pushes; concurrent drains also work but the caller of the
    // recorder serialises them anyway so records leave in order.
    template <typename Sink> size_t drain(Sink&& sink)
    {
        size_t count = 0;
        size_t pos = readPos.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = slots[pos & (Capacity - 1)];
            const size_t seq = slot.sequence.load(std::memory_order_acquire);
            const intptr_t diff = intptr_t(seq) - intptr_t(pos + 1);
            if (diff == 0) {
                if (readPos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    sink(static_cast<const char*>(slot.text), slot.length);
                    slot.sequence.store(pos + Capacity, std::memory_order_release);
                    ++count;
                }
            } else if (diff < 0)
                return count; // empty (or the next record is still being written)
            else
                pos = readPos.load(std::memory_order_relaxed);
        }
    }

private:
    struct Slot
    {
        std::atomic<size_t> sequence{0};
        size_t length{0};
        char text[SlotBytes];
    };
    Slot slots[Capacity];
    alignas(64) std::atomic<size_t> writePos{0};
    alignas(64) std::atomic<size_t> readPos{0};
};

} // namespace Recorder
