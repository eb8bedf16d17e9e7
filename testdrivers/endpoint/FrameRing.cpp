#include "testdrivers/endpoint/FrameRing.h"

#include <cstring>

namespace PomaroTestEndpoint {

void FrameRing::reset(uint32_t minCapacity)
{
    uint32_t cap = 1;
    while (cap < minCapacity && cap < (1u << 30))
        cap <<= 1;
    buf_.assign(minCapacity == 0 ? 0 : cap, 0);
    mask_ = minCapacity == 0 ? 0 : cap - 1;
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
}

uint32_t FrameRing::available() const
{
    return uint32_t(head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire));
}

uint32_t FrameRing::room() const
{
    uint64_t used = head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire);
    return uint32_t(buf_.size() - used);
}

uint32_t FrameRing::push(const int16_t* frames, uint32_t n)
{
    const uint32_t free = room(); // read once: the consumer may free more meanwhile
    uint32_t k = n < free ? n : free;
    uint64_t h = head_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < k; ++i) {
        uint32_t v;
        std::memcpy(&v, frames + 2 * size_t(i), sizeof v);
        buf_[(h + i) & mask_] = v;
    }
    head_.store(h + k, std::memory_order_release);
    return k;
}

uint32_t FrameRing::pushSilence(uint32_t n)
{
    const uint32_t free = room(); // read once: the consumer may free more meanwhile
    uint32_t k = n < free ? n : free;
    uint64_t h = head_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < k; ++i)
        buf_[(h + i) & mask_] = 0;
    head_.store(h + k, std::memory_order_release);
    return k;
}

uint32_t FrameRing::pop(int16_t* out, uint32_t max)
{
    uint64_t t = tail_.load(std::memory_order_relaxed);
    uint64_t avail = head_.load(std::memory_order_acquire) - t;
    uint32_t k = avail < max ? uint32_t(avail) : max;
    for (uint32_t i = 0; i < k; ++i) {
        uint32_t v = buf_[(t + i) & mask_];
        std::memcpy(out + 2 * size_t(i), &v, sizeof v);
    }
    tail_.store(t + k, std::memory_order_release);
    return k;
}

} // namespace PomaroTestEndpoint
