#include "testdrivers/endpoint/StreamRules.h"

namespace PomaroTestEndpoint {

namespace {
bool is16BitStereoPcm(const FormatDesc& f)
{
    bool pcm = f.tag == 1 || (f.tag == 0xFFFE && f.extensiblePcm);
    return pcm && f.channels == 2 && f.bits == 16 && f.blockAlign == 4 && f.avgBytes == f.rate * 4u;
}
} // namespace

bool isExclusiveFormatAccepted(const EndpointSpec& e, const FormatDesc& f)
{
    if (!is16BitStereoPcm(f))
        return false;
    for (uint32_t r : e.rates) {
        if (r == f.rate)
            return true;
    }
    return false;
}

uint32_t framesForDuration(int64_t hns, uint32_t rate)
{
    if (hns <= 0)
        return 0;
    return uint32_t((hns * int64_t(rate) + kHnsPerSecond / 2) / kHnsPerSecond);
}

int64_t durationForFrames(uint32_t frames, uint32_t rate)
{
    if (rate == 0)
        return 0;
    return (int64_t(frames) * kHnsPerSecond + rate / 2) / rate;
}

SizeDecision decideExclusiveSize(const EndpointSpec& e, uint32_t requestedFrames)
{
    SizeDecision d;
    if (e.notAlignedRequest != 0 && requestedFrames == e.notAlignedRequest) {
        d.aligned = false;
        d.frames = e.notAlignedAnswer;
        return d;
    }
    if (e.alignFrames > 1 && requestedFrames % e.alignFrames != 0) {
        d.aligned = false;
        // The next larger aligned size, as the system's endpoints answer.
        d.frames = (requestedFrames / e.alignFrames + 1) * e.alignFrames;
        return d;
    }
    d.frames = requestedFrames + e.extraFrames;
    return d;
}

} // namespace PomaroTestEndpoint
