// Sine lookup for the oscillators: phase is a 32-bit fraction of a cycle, so
// it wraps exactly and never drifts, and a lookup is one interpolated read.
#pragma once

#include <cstdint>

namespace PomaroDemo {

class SineTable
{
public:
    static constexpr int kBits = 12;
    static constexpr int kSize = 1 << kBits;

    // Fills the table on first use; call from a non-realtime thread before rendering.
    static const SineTable& instance();

    float lookup(uint32_t phase) const
    {
        const uint32_t index = phase >> (32 - kBits);
        const float frac = static_cast<float>(phase & kFracMask) * kFracScale;
        const float a = table_[index];
        return a + (table_[index + 1] - a) * frac;
    }

private:
    SineTable();
    static constexpr uint32_t kFracMask = (1u << (32 - kBits)) - 1u;
    static constexpr float kFracScale = 1.0f / static_cast<float>(1u << (32 - kBits));
    float table_[kSize + 1];
};

// Cycles (any sign, |x| < 2^31 cycles' fraction) to a phase offset that wraps like the accumulator.
inline uint32_t cyclesToPhase(float cycles)
{
    return static_cast<uint32_t>(static_cast<int64_t>(cycles * 4294967296.0f));
}

} // namespace PomaroDemo
