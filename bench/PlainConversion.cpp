#include "bench/PlainConversion.h"

#include <cstddef>
#include <emmintrin.h>
#include <initializer_list>

namespace PomaroBench {
namespace {

// Comparison written so that NaN fails it and takes the lower limit.
inline float clampScaled(float x, float s, float limit)
{
    const float p = x * s;
    const float y = p > -limit ? p : -limit;
    return y < limit ? y : limit;
}

inline std::int16_t toInt16(float x, float s)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(clampScaled(x, s, 32767.0f)));
}
inline std::int32_t toInt32(float x, float s)
{
    return static_cast<std::int32_t>(clampScaled(x, s, 2147483520.0f));
}
inline float toFloat32(float x, float s) { return clampScaled(x, s, 1.0f); }

} // namespace

void plainInt16Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain)
{
    auto* o = static_cast<std::int16_t*>(out);
    const float s = gain * 32767.0f;
    for (std::int32_t i = 0; i < frames; ++i) {
        o[2 * i] = toInt16(l[i], s);
        o[2 * i + 1] = toInt16(r[i], s);
    }
}

void plainInt32Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain)
{
    auto* o = static_cast<std::int32_t*>(out);
    const float s = gain * 2147483520.0f;
    for (std::int32_t i = 0; i < frames; ++i) {
        o[2 * i] = toInt32(l[i], s);
        o[2 * i + 1] = toInt32(r[i], s);
    }
}

void plainFloat32Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain)
{
    auto* o = static_cast<float*>(out);
    for (std::int32_t i = 0; i < frames; ++i) {
        o[2 * i] = toFloat32(l[i], gain);
        o[2 * i + 1] = toFloat32(r[i], gain);
    }
}

void plainInt16PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                          float gain)
{
    auto* ol = static_cast<std::int16_t*>(outL);
    auto* orr = static_cast<std::int16_t*>(outR);
    const float s = gain * 32767.0f;
    for (std::int32_t i = 0; i < frames; ++i) {
        ol[i] = toInt16(l[i], s);
        orr[i] = toInt16(r[i], s);
    }
}

void plainInt32PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                          float gain)
{
    auto* ol = static_cast<std::int32_t*>(outL);
    auto* orr = static_cast<std::int32_t*>(outR);
    const float s = gain * 2147483520.0f;
    for (std::int32_t i = 0; i < frames; ++i) {
        ol[i] = toInt32(l[i], s);
        orr[i] = toInt32(r[i], s);
    }
}

void plainFloat32PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                            float gain)
{
    auto* ol = static_cast<float*>(outL);
    auto* orr = static_cast<float*>(outR);
    for (std::int32_t i = 0; i < frames; ++i) {
        ol[i] = toFloat32(l[i], gain);
        orr[i] = toFloat32(r[i], gain);
    }
}

void streamOnly(void* out0, void* out1, std::size_t bytes)
{
    const __m128i zero = _mm_setzero_si128();
    for (void* out : {out0, out1}) {
        if (!out)
            continue;
        auto* o = static_cast<__m128i*>(out);
        for (std::size_t i = 0; i < bytes / 16; ++i)
            _mm_stream_si128(o + i, zero);
    }
    _mm_sfence();
}

} // namespace PomaroBench
