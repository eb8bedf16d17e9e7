#include "FakeAudio.h"

#include <algorithm>

namespace PomaroTest {

bool FakeJournal::contains(const std::wstring& event) const
{
    return std::find(events.begin(), events.end(), event) != events.end();
}

bool FakeDevice::getBufferSizeRange(Kelvane::SampleRate, int32_t* minFrames, int32_t* maxFrames,
                                    int32_t* preferredFrames, int32_t* granularity)
{
    if (!spec.rangeKnown || (!minFrames && !maxFrames && !preferredFrames && !granularity))
        return false;
    if (minFrames)
        *minFrames = spec.minFrames;
    if (maxFrames)
        *maxFrames = spec.maxFrames;
    if (preferredFrames)
        *preferredFrames = spec.preferredFrames;
    if (granularity)
        *granularity = spec.granularity;
    return true;
}

} // namespace PomaroTest
