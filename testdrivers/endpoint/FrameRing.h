#pragma once
// Single-producer single-consumer ring of 16-bit stereo frames: the client's thread
// releases rendered frames into it, the endpoint's clock thread drains them to disk.
// Lock-free so that recording never disturbs the client's timing. Platform-free.

#include <atomic>
#include <cstdint>
#include <vector>

namespace PomaroTestEndpoint {

class FrameRing
{
public:
    // Capacity is rounded up to a power of two; allocation happens here only.
    explicit FrameRing(uint32_t minCapacity = 0) { reset(minCapacity); }
    void reset(uint32_t minCapacity); // not while a producer or consumer is active

    uint32_t capacity() const { return uint32_t(buf_.size()); }
    // Producer: copies up to n frames (interleaved int16 pairs); returns how many fit.
    uint32_t push(const int16_t* frames, uint32_t n);
    // Producer: n frames of silence; returns how many fit.
    uint32_t pushSilence(uint32_t n);
    // Consumer: up to max frames into out; returns how many.
    uint32_t pop(int16_t* out, uint32_t max);
    uint32_t available() const;

private:
    uint32_t room() const;
    std::vector<uint32_t> buf_; // one frame = left in the low half, right in the high half
    uint32_t mask_ = 0;
    std::atomic<uint64_t> head_{0}; // frames written
    std::atomic<uint64_t> tail_{0}; // frames read
};

} // namespace PomaroTestEndpoint
