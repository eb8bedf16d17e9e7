#pragma once
// Wake-to-release times of a render thread, kept without allocating on that thread,
// and their percentiles. Platform-free.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Kelvane {

class RenderTimingLog
{
public:
    // Room for capacity periods, taken now: recording never allocates.
    explicit RenderTimingLog(size_t capacity);

    // Render thread: one period's wake and release times in clock ticks. Periods
    // beyond the capacity are counted but not kept.
    void record(int64_t wakeTicks, int64_t releaseTicks);

    // Any thread, after the recording thread stopped or while it runs: the spans
    // recorded so far.
    std::vector<int64_t> spans() const;
    uint64_t periodsSeen() const { return seen.load(std::memory_order_acquire); }

private:
    std::vector<int64_t> span;
    std::atomic<size_t> kept{0};
    std::atomic<uint64_t> seen{0};
};

// The p-th percentile (0..100) by the nearest-rank rule; 0 for no values.
int64_t percentile(std::vector<int64_t> values, double p);

} // namespace Kelvane
