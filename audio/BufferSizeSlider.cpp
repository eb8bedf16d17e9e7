#include "audio/BufferSizeSlider.h"

#include "audio/AudioTypes.h"

#include <algorithm>

namespace Kelvane {

namespace {

// Powers of two between min and max: the first one and how many doublings follow it.
// A range holding none gives count 0, and the range's minimum stands for every position.
struct PowerRange
{
    int64_t first = 0;
    int32_t count = 0;
};

PowerRange powersOfTwo(int32_t minFrames, int32_t maxFrames)
{
    PowerRange r;
    int64_t p = 1;
    while (p < minFrames)
        p <<= 1;
    if (p > maxFrames)
        return r;
    r.first = p;
    r.count = 1;
    while ((p << 1) <= maxFrames) {
        p <<= 1;
        ++r.count;
    }
    return r;
}

int32_t clampToInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

} // namespace

int32_t bufferSizeStep(int32_t minFrames, int32_t maxFrames, int32_t granularity)
{
    if (granularity != 0)
        return granularity;
    // A device that reports its maximum below its minimum must not turn the eighth into a
    // negative step, which would read as "powers of two".
    const int64_t eighth = (static_cast<int64_t>(maxFrames) - minFrames) / 8;
    return eighth > 0 ? clampToInt32(eighth) : 1;
}

int32_t bufferSizeLastPosition(int32_t minFrames, int32_t maxFrames, int32_t step)
{
    if (step < 0) {
        const PowerRange powers = powersOfTwo(minFrames, maxFrames);
        return powers.count > 0 ? powers.count - 1 : 0;
    }
    if (step == 0)
        return 0;
    const int64_t last = (static_cast<int64_t>(maxFrames) - minFrames) / step;
    return clampToInt32(std::max<int64_t>(last, 0));
}

int32_t bufferSizePosition(int32_t frames, int32_t minFrames, int32_t maxFrames, int32_t step)
{
    if (step < 0) {
        const PowerRange powers = powersOfTwo(minFrames, maxFrames);
        int32_t position = 0;
        for (int64_t p = powers.first * 2; position + 1 < powers.count && p <= frames; p <<= 1)
            ++position;
        return position;
    }
    if (step == 0)
        return 0;
    return clampToInt32((static_cast<int64_t>(frames) - minFrames) / step);
}

int32_t bufferSizeAt(int32_t position, int32_t minFrames, int32_t maxFrames, int32_t step)
{
    const int32_t last = bufferSizeLastPosition(minFrames, maxFrames, step);
    const int32_t p = std::clamp(position, 0, last);
    if (step < 0) {
        const PowerRange powers = powersOfTwo(minFrames, maxFrames);
        return powers.count > 0 ? clampToInt32(powers.first << p) : minFrames;
    }
    return clampToInt32(static_cast<int64_t>(step) * p + minFrames);
}

std::wstring currentDriverText(int32_t driverType, const wchar_t* name)
{
    if (driverType != DriverWasapi && driverType != DriverAsio)
        return L"（なし）";
    std::wstring text = driverTypeName(driverType);
    text += L"：";
    if (name)
        text += name;
    if (text.size() > 255)
        text.resize(255);
    return text;
}

} // namespace Kelvane
