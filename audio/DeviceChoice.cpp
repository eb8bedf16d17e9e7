#include "audio/DeviceChoice.h"
#include "audio/AsioRules.h"

#include <algorithm>

namespace Kelvane {

namespace {
constexpr double kUnitsPerSecond = 10000000.0; // 100-ns units
}

int32_t periodToFrames(int64_t period, int32_t hz)
{
    const int32_t frames = static_cast<int32_t>(static_cast<double>(period) * hz / kUnitsPerSecond + 0.5);
    return frames - frames % 16;
}

BufferSizeRange wasapiBufferSizeRange(int64_t defaultPeriod, int64_t minimumPeriod, int32_t hz)
{
    BufferSizeRange r;
    r.minFrames = periodToFrames(minimumPeriod, hz);
    r.maxFrames = 2 * periodToFrames(defaultPeriod, hz);
    r.preferredFrames = r.minFrames;
    r.granularity = 16;
    return r;
}

int64_t bufferDuration(int32_t hz, int32_t frames)
{
    if (hz <= 0)
        return 0;
    return static_cast<int64_t>(kUnitsPerSecond / hz * frames + 0.5);
}

int32_t familyBaseScore(DriverType requested, DriverType family)
{
    if (family == DriverWasapi)
        return (requested == DriverAuto || requested == DriverWasapi) ? 100 : 0;
    return requested == family ? 100 : 0;
}

int32_t deviceScore(int32_t supportedRates, int32_t base)
{
    if (supportedRates & Rate48000)
        return base + 20;
    if (supportedRates & Rate44100)
        return base + 10;
    if (supportedRates != 0)
        return base;
    return -10;
}

SampleRate preferredSampleRate(int32_t supportedRates)
{
    for (SampleRate rate : {Rate48000, Rate44100, Rate96000, Rate22050})
        if (supportedRates & rate)
            return rate;
    return RateNone;
}

int32_t hostBufferSize(int32_t requested, int32_t preferred, int32_t hz, int32_t minFrames, int32_t maxFrames,
                       int32_t granularity)
{
    int32_t size = requested > 0 ? requested : preferred;
    // Periods under 10 ms cost more in wake-ups than they give in latency.
    if (hz > 0 && static_cast<double>(size) / hz < 0.01)
        size = static_cast<int32_t>(hz * 0.01);
    // A driver with granularity -1 takes powers of two only.
    if (granularity < 0)
        return asioPowerOfTwoFrames(size, minFrames, maxFrames);
    if (granularity > 0)
        size -= size % granularity;
    if (size < minFrames)
        return minFrames;
    return std::min(size, maxFrames);
}

} // namespace Kelvane
