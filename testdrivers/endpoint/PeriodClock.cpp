#include "testdrivers/endpoint/PeriodClock.h"

#include <cmath>

namespace PomaroTestEndpoint {

PeriodSchedule::PeriodSchedule(int64_t startTicks, int64_t periodHns, int64_t ticksPerSecond)
    : start_(startTicks), periodTicks_(double(periodHns) * double(ticksPerSecond) / 1e7),
      ticksPerMs_(ticksPerSecond >= 1000 ? ticksPerSecond / 1000 : 1)
{}

int64_t PeriodSchedule::due(uint64_t index) const
{
    return start_ + int64_t(std::llround(double(index) * periodTicks_));
}

uint32_t PeriodSchedule::waitMs(int64_t nowTicks, uint64_t index) const
{
    int64_t left = due(index) - nowTicks;
    if (left <= 0)
        return 0;
    return uint32_t((left + ticksPerMs_ - 1) / ticksPerMs_);
}

void LateTracker::onTick(uint64_t releases, bool tickLate)
{
    if (counts_.periods > 0 && releases == releasesAtLastTick_) {
        if (tickLate)
            ++counts_.endpointLate;
        else
            ++counts_.late;
    }
    releasesAtLastTick_ = releases;
    ++counts_.periods;
}

} // namespace PomaroTestEndpoint
