#include "audio/AsioRules.h"

namespace Kelvane {

int32_t asioPowerOfTwoFrames(int32_t requested, int32_t minFrames, int32_t maxFrames)
{
    if (maxFrames < minFrames || maxFrames < 1)
        return minFrames;
    const int64_t floor = requested > minFrames ? requested : minFrames;
    int64_t power = 1;
    while (power < floor)
        power <<= 1;
    if (power <= maxFrames)
        return static_cast<int32_t>(power);
    // Above the range: the largest power of two that is still allowed.
    power = 1;
    while (power * 2 <= maxFrames)
        power <<= 1;
    return power >= minFrames ? static_cast<int32_t>(power) : minFrames;
}

AsioMessageAnswer asioMessageAnswer(long selector, long value, bool hasCurrent, int32_t currentFrames)
{
    switch (selector) {
    case 1: // selector supported?
        return {(value == 2 || value == 3 || value == 4 || value == 7 || value == 8) ? 1L : 0L, false};
    case 2: // engine version
        return {2, false};
    case 3: // reset request: answered as handled even when nothing is prepared
        return {1, hasCurrent};
    case 4: // buffer size change: the stream is rebuilt only for a different size
        return {0, hasCurrent && value != currentFrames};
    default:
        return {0, false};
    }
}

} // namespace Kelvane
