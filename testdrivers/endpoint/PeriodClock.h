#pragma once
// The endpoint's sense of time: when each period falls due, and which periods the
// client missed. Platform-free: times are ticks of any monotonic counter.

#include <cstdint>

namespace PomaroTestEndpoint {

// Due times derived from the start and the period index, so rounding never accumulates.
class PeriodSchedule
{
public:
    PeriodSchedule() = default;
    PeriodSchedule(int64_t startTicks, int64_t periodHns, int64_t ticksPerSecond);
    int64_t due(uint64_t index) const; // index 1 is one period after the start
    // Milliseconds to wait from now until index is due, rounded up; 0 when due already.
    uint32_t waitMs(int64_t nowTicks, uint64_t index) const;
    double periodTicks() const { return periodTicks_; }

private:
    int64_t start_ = 0;
    double periodTicks_ = 1;
    int64_t ticksPerMs_ = 1;
};

struct PeriodCounts
{
    uint64_t periods = 0;      // events signalled
    uint64_t late = 0;         // periods the client let pass without releasing a buffer
    uint64_t endpointLate = 0; // periods the endpoint's own thread handled late; not the client's fault
};

// A period is late when its event falls due again before the client released a buffer
// for the previous one. The first event has no previous one to answer.
class LateTracker
{
public:
    // releases: non-empty ReleaseBuffer calls so far; tickLate: this tick is handled
    // more than half a period after it fell due.
    void onTick(uint64_t releases, bool tickLate);
    const PeriodCounts& counts() const { return counts_; }

private:
    PeriodCounts counts_;
    uint64_t releasesAtLastTick_ = 0;
};

} // namespace PomaroTestEndpoint
