#include "plugins/demo/dsp/StateCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plugins/demo/dsp/DemoParams.h"

namespace PomaroDemo {
namespace {

constexpr uint8_t kTag[4] = {'P', 'D', 'E', 'P'};
constexpr uint32_t kVersion = 1;

void putU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getU32(const uint8_t* p)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}
void putF64(uint8_t* p, double d)
{
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
double getF64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(p[i]) << (8 * i);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

} // namespace

DemoState defaultState()
{
    return {paramDesc(kParamVolume).defaultValue, paramDesc(kParamTone).defaultValue,
            paramDesc(kParamRelease).defaultValue, paramDesc(kParamVibrato).defaultValue};
}

void encodeState(const DemoState& state, uint8_t (&out)[kStateBytes])
{
    std::memcpy(out, kTag, 4);
    putU32(out + 4, kVersion);
    putF64(out + 8, state.volume);
    putF64(out + 16, state.tone);
    putF64(out + 24, state.release);
    putF64(out + 32, state.vibrato);
}

bool decodeState(const uint8_t* data, size_t size, DemoState& out)
{
    if (!data || size < kStateBytes)
        return false;
    if (std::memcmp(data, kTag, 4) != 0 || getU32(data + 4) != kVersion)
        return false;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        v[i] = getF64(data + 8 + 8 * i);
        if (std::isnan(v[i]))
            return false;
        v[i] = std::min(1.0, std::max(0.0, v[i]));
    }
    out = {v[0], v[1], v[2], v[3]};
    return true;
}

} // namespace PomaroDemo
