#include "host/MidiMessageRing.h"

#include <mutex>

namespace PomaroApp {

bool MidiMessageRing::push(uint32_t message) noexcept
{
    const int32_t cap = capacity.load(std::memory_order_acquire);
    if (cap <= 0 || !entries)
        return false;
    std::lock_guard<WriterLock> guard(writers);
    const int32_t w = writeIndex.load(std::memory_order_relaxed);
    const int32_t next = (w + 1 == cap) ? 0 : w + 1;
    // Acquire pairs with the reader's release: the slot at w has been read.
    if (next == readIndex.load(std::memory_order_acquire))
        return false;
    entries[w] = message;
    writeIndex.store(next, std::memory_order_release);
    return true;
}

bool MidiMessageRing::pop(uint32_t& message) noexcept
{
    const int32_t cap = capacity.load(std::memory_order_acquire);
    if (cap <= 0 || !entries)
        return false;
    const int32_t r = readIndex.load(std::memory_order_relaxed);
    if (r == writeIndex.load(std::memory_order_acquire))
        return false;
    message = entries[r];
    readIndex.store((r + 1 == cap) ? 0 : r + 1, std::memory_order_release);
    return true;
}

int32_t MidiMessageRing::clearFromReader() noexcept
{
    const int32_t cap = capacity.load(std::memory_order_acquire);
    if (cap <= 0)
        return 0;
    const int32_t w = writeIndex.load(std::memory_order_acquire);
    const int32_t r = readIndex.load(std::memory_order_relaxed);
    readIndex.store(w, std::memory_order_release);
    return (w - r + cap) % cap;
}

int32_t MidiMessageRing::count() const noexcept
{
    const int32_t cap = capacity.load(std::memory_order_acquire);
    if (cap <= 0)
        return 0;
    const int32_t w = writeIndex.load(std::memory_order_acquire);
    const int32_t r = readIndex.load(std::memory_order_acquire);
    return (w - r + cap) % cap;
}

void MidiMessageRing::release() noexcept
{
    capacity.store(0, std::memory_order_release);
    writeIndex.store(0, std::memory_order_relaxed);
    readIndex.store(0, std::memory_order_relaxed);
    entries.reset();
}

void initMidiRing(MidiMessageRing& ring)
{
    if (ring.capacity.load(std::memory_order_acquire) == MidiMessageRing::kCapacity && ring.entries)
        return;
    ring.release();
    ring.entries.reset(new uint32_t[MidiMessageRing::kCapacity]());
    ring.capacity.store(MidiMessageRing::kCapacity, std::memory_order_release);
}

} // namespace PomaroApp
