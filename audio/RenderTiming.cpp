#include "audio/RenderTiming.h"

#include <algorithm>
#include <cmath>

namespace Kelvane {

RenderTimingLog::RenderTimingLog(size_t capacity) : span(capacity, 0) {}

void RenderTimingLog::record(int64_t wakeTicks, int64_t releaseTicks)
{
    seen.fetch_add(1, std::memory_order_relaxed);
    const size_t n = kept.load(std::memory_order_relaxed);
    if (n >= span.size())
        return;
    span[n] = releaseTicks - wakeTicks;
    kept.store(n + 1, std::memory_order_release); // publishes span[n]
}

std::vector<int64_t> RenderTimingLog::spans() const
{
    const size_t n = kept.load(std::memory_order_acquire);
    return std::vector<int64_t>(span.begin(), span.begin() + static_cast<std::ptrdiff_t>(n));
}

int64_t percentile(std::vector<int64_t> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double clamped = std::min(std::max(p, 0.0), 100.0);
    // The small allowance keeps 99.9 % of 1000 at rank 999 despite binary fractions.
    size_t rank = static_cast<size_t>(std::ceil(clamped * static_cast<double>(values.size()) / 100.0 - 1e-9));
    if (rank < 1)
        rank = 1;
    return values[rank - 1];
}

} // namespace Kelvane
