#pragma once
// The arithmetic of choosing and sizing an audio stream: endpoint periods in frames,
// buffer durations, device scores, the preferred rate and the host's buffer size.
// Platform-free.

#include "audio/AudioTypes.h"

#include <cstdint>

namespace Kelvane {

// What a WASAPI endpoint offers at one rate, in frames.
struct BufferSizeRange
{
    int32_t minFrames = 0;
    int32_t maxFrames = 0;
    int32_t preferredFrames = 0;
    int32_t granularity = 0;

    // Fills whichever of the device interface's optional answers the caller asked for.
    void copyTo(int32_t* minOut, int32_t* maxOut, int32_t* preferredOut, int32_t* granularityOut) const
    {
        if (minOut)
            *minOut = minFrames;
        if (maxOut)
            *maxOut = maxFrames;
        if (preferredOut)
            *preferredOut = preferredFrames;
        if (granularityOut)
            *granularityOut = granularity;
    }
};

// A device period (100-ns units) in frames at hz, rounded, then cut to a multiple of 16.
int32_t periodToFrames(int64_t period, int32_t hz);

// The endpoint's sizes from its default and minimum periods: the minimum period is both
// the smallest and the preferred size, twice the default period the largest.
BufferSizeRange wasapiBufferSizeRange(int64_t defaultPeriod, int64_t minimumPeriod, int32_t hz);

// Buffer duration in 100-ns units for frames at hz; 0 when hz is not above 0.
int64_t bufferDuration(int32_t hz, int32_t frames);

// Base score of a device family for a requested driver type: 100 when the family was
// asked for (Auto counts as asking for WASAPI), otherwise 0.
int32_t familyBaseScore(DriverType requested, DriverType family);

// Score of an opened device from its supported rates: 48 kHz +20, 44.1 kHz +10, any
// other rate the base, no rate -10.
int32_t deviceScore(int32_t supportedRates, int32_t base);

// The first supported rate of 48000, 44100, 96000, 22050 Hz; RateNone when none is.
SampleRate preferredSampleRate(int32_t supportedRates);

// The host's buffer size: the request (or the device's preferred size when the request
// is not above 0), at least 10 ms, cut to the granularity, kept within min and max.
int32_t hostBufferSize(int32_t requested, int32_t preferred, int32_t hz, int32_t minFrames, int32_t maxFrames,
                       int32_t granularity);

} // namespace Kelvane
