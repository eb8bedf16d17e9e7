#pragma once
// Vector kernels behind the conversion routines of SampleConversion.h. The memory
// access (aligned loads with streaming stores, aligned ordinary stores, unaligned
// ordinary stores) is a template parameter so that the routines and the benchmark
// run the very same arithmetic.

#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <xmmintrin.h>

namespace PomaroApp::SampleKernels {

// Aligned loads, non-temporal stores: the device buffer is written to memory
// without first being read into the cache and without evicting the plug-in's data.
struct StreamingAccess
{
    static __m128 load(const float* p) { return _mm_load_ps(p); }
    static void store(unsigned char* p, __m128i v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }
    static void store(unsigned char* p, __m128 v) { _mm_stream_ps(reinterpret_cast<float*>(p), v); }
    // The 32-bit formats stream their tail as well (movnti), so the last partial
    // cache line does not pull the line in either.
    static void storeTail(unsigned char* p, std::int32_t v) { _mm_stream_si32(reinterpret_cast<int*>(p), v); }
};

// Aligned loads, ordinary stores (the comparison case of the benchmark).
struct CachedAccess
{
    static __m128 load(const float* p) { return _mm_load_ps(p); }
    static void store(unsigned char* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
    static void store(unsigned char* p, __m128 v) { _mm_store_ps(reinterpret_cast<float*>(p), v); }
    static void storeTail(unsigned char* p, std::int32_t v) { std::memcpy(p, &v, sizeof v); }
};

// Any alignment: device buffers are not guaranteed to start on a 16-byte boundary.
struct UnalignedAccess
{
    static __m128 load(const float* p) { return _mm_loadu_ps(p); }
    static void store(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static void store(unsigned char* p, __m128 v) { _mm_storeu_ps(reinterpret_cast<float*>(p), v); }
    static void storeTail(unsigned char* p, std::int32_t v) { std::memcpy(p, &v, sizeof v); }
};

struct Limits
{
    __m128 scale, lo, hi;
};

inline bool aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15u) == 0; }

// Non-temporal hint: the plug-in's channels are read once per block.
// The address is formed as an integer; prefetching past the end is harmless.
inline void prefetchAhead(const float* p)
{
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) + 128), _MM_HINT_NTA);
}

// max before min, with the scaled value as the first operand: maxps/maxss return
// the second operand when either is NaN, so a NaN lands on lo.
inline __m128 clamp4(__m128 x, const Limits& k)
{
    return _mm_min_ps(_mm_max_ps(_mm_mul_ps(x, k.scale), k.lo), k.hi);
}
inline __m128 clamp1(float x, const Limits& k)
{
    return _mm_min_ss(_mm_max_ss(_mm_mul_ss(_mm_set_ss(x), k.scale), k.lo), k.hi);
}

inline Limits makeLimits(float scale, float limit)
{
    return {_mm_set1_ps(scale), _mm_set1_ps(-limit), _mm_set1_ps(limit)};
}

template <class T> inline void storeScalar(unsigned char* p, T v) { std::memcpy(p, &v, sizeof v); }

// Each format: one group of 16 frames of one channel (group16), one frame of one
// channel (single), and the interleaved kernel (groups of 8 frames as two runs of
// 4, then single frames, left before right).

struct Int16Format
{
    static Limits limits(float gain) { return makeLimits(gain * 32767.0f, 32767.0f); }
    static std::int16_t one(float x, const Limits& k)
    {
        return static_cast<std::int16_t>(_mm_cvttss_si32(clamp1(x, k)));
    }
    // The clamp leaves every value inside int16, so the saturating pack is exact.
    static constexpr int kBytes = 2;
    template <class A> static void group16(const float* in, unsigned char* out, const Limits& k)
    {
        prefetchAhead(in);
        const __m128i a = _mm_cvttps_epi32(clamp4(A::load(in), k));
        const __m128i b = _mm_cvttps_epi32(clamp4(A::load(in + 4), k));
        const __m128i c = _mm_cvttps_epi32(clamp4(A::load(in + 8), k));
        const __m128i d = _mm_cvttps_epi32(clamp4(A::load(in + 12), k));
        A::store(out, _mm_packs_epi32(a, b));
        A::store(out + 16, _mm_packs_epi32(c, d));
    }
    template <class A> static void single(const float* in, unsigned char* out, const Limits& k)
    {
        storeScalar(out, one(*in, k));
    }
    template <class A>
    static void interleaved(const float* l, const float* r, unsigned char* out, std::int32_t frames,
                            const Limits& k)
    {
        const std::int32_t grouped = frames & ~7;
        for (std::int32_t i = 0; i < grouped; i += 8, out += 32) {
            prefetchAhead(l + i);
            prefetchAhead(r + i);
            // Packing each channel's eight results first leaves one 16-bit interleave per run.
            const __m128i vl = _mm_packs_epi32(_mm_cvttps_epi32(clamp4(A::load(l + i), k)),
                                               _mm_cvttps_epi32(clamp4(A::load(l + i + 4), k)));
            const __m128i vr = _mm_packs_epi32(_mm_cvttps_epi32(clamp4(A::load(r + i), k)),
                                               _mm_cvttps_epi32(clamp4(A::load(r + i + 4), k)));
            A::store(out, _mm_unpacklo_epi16(vl, vr));
            A::store(out + 16, _mm_unpackhi_epi16(vl, vr));
        }
        for (std::int32_t i = grouped; i < frames; ++i, out += 4) {
            storeScalar(out, one(l[i], k));
            storeScalar(out + 2, one(r[i], k));
        }
    }
};

struct Int32Format
{
    // 2147483520 is the largest float below 2^31, so the truncation never overflows.
    static Limits limits(float gain) { return makeLimits(gain * 2147483520.0f, 2147483520.0f); }
    static std::int32_t one(float x, const Limits& k) { return _mm_cvttss_si32(clamp1(x, k)); }
    static constexpr int kBytes = 4;
    template <class A> static void group16(const float* in, unsigned char* out, const Limits& k)
    {
        prefetchAhead(in);
        for (int v = 0; v < 4; ++v)
            A::store(out + 16 * v, _mm_cvttps_epi32(clamp4(A::load(in + 4 * v), k)));
    }
    template <class A> static void single(const float* in, unsigned char* out, const Limits& k)
    {
        A::storeTail(out, one(*in, k));
    }
    template <class A>
    static void interleaved(const float* l, const float* r, unsigned char* out, std::int32_t frames,
                            const Limits& k)
    {
        const std::int32_t grouped = frames & ~7;
        for (std::int32_t i = 0; i < grouped; i += 8, out += 64) {
            prefetchAhead(l + i);
            prefetchAhead(r + i);
            for (int run = 0; run < 2; ++run) {
                const __m128i vl = _mm_cvttps_epi32(clamp4(A::load(l + i + 4 * run), k));
                const __m128i vr = _mm_cvttps_epi32(clamp4(A::load(r + i + 4 * run), k));
                A::store(out + 32 * run, _mm_unpacklo_epi32(vl, vr));
                A::store(out + 32 * run + 16, _mm_unpackhi_epi32(vl, vr));
            }
        }
        for (std::int32_t i = grouped; i < frames; ++i, out += 8) {
            A::storeTail(out, one(l[i], k));
            A::storeTail(out + 4, one(r[i], k));
        }
    }
};

struct Float32Format
{
    static Limits limits(float gain) { return makeLimits(gain, 1.0f); }
    static float one(float x, const Limits& k) { return _mm_cvtss_f32(clamp1(x, k)); }
    static constexpr int kBytes = 4;
    template <class A> static void group16(const float* in, unsigned char* out, const Limits& k)
    {
        prefetchAhead(in);
        for (int v = 0; v < 4; ++v)
            A::store(out + 16 * v, clamp4(A::load(in + 4 * v), k));
    }
    template <class A> static void single(const float* in, unsigned char* out, const Limits& k)
    {
        storeScalar(out, one(*in, k));
    }
    template <class A>
    static void interleaved(const float* l, const float* r, unsigned char* out, std::int32_t frames,
                            const Limits& k)
    {
        const std::int32_t grouped = frames & ~7;
        for (std::int32_t i = 0; i < grouped; i += 8, out += 64) {
            prefetchAhead(l + i);
            prefetchAhead(r + i);
            for (int run = 0; run < 2; ++run) {
                const __m128 vl = clamp4(A::load(l + i + 4 * run), k);
                const __m128 vr = clamp4(A::load(r + i + 4 * run), k);
                A::store(out + 32 * run, _mm_unpacklo_ps(vl, vr));
                A::store(out + 32 * run + 16, _mm_unpackhi_ps(vl, vr));
            }
        }
        for (std::int32_t i = grouped; i < frames; ++i, out += 8) {
            storeScalar(out, one(l[i], k));
            storeScalar(out + 4, one(r[i], k));
        }
    }
};

// Whole routines for one memory access (the fence makes streamed data visible).
template <class F, class A>
void convertInterleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain)
{
    if (frames <= 0)
        return;
    F::template interleaved<A>(l, r, static_cast<unsigned char*>(out), frames, F::limits(gain));
    _mm_sfence();
}

// One channel: groups of 16 frames, then single frames.
template <class F, class A>
void channel(const float* in, unsigned char* out, std::int32_t frames, const Limits& k)
{
    const std::int32_t grouped = frames & ~15;
    for (std::int32_t i = 0; i < grouped; i += 16, out += 16 * F::kBytes)
        F::template group16<A>(in + i, out, k);
    for (std::int32_t i = grouped; i < frames; ++i, out += F::kBytes)
        F::template single<A>(in + i, out, k);
}

// Both channels group by group: twice the independent work in flight per step.
template <class F, class A>
void channelPair(const float* l, const float* r, unsigned char* outL, unsigned char* outR,
                 std::int32_t frames, const Limits& k)
{
    const std::int32_t grouped = frames & ~15;
    for (std::int32_t i = 0; i < grouped; i += 16, outL += 16 * F::kBytes, outR += 16 * F::kBytes) {
        F::template group16<A>(l + i, outL, k);
        F::template group16<A>(r + i, outR, k);
    }
    for (std::int32_t i = grouped; i < frames; ++i, outL += F::kBytes, outR += F::kBytes) {
        F::template single<A>(l + i, outL, k);
        F::template single<A>(r + i, outR, k);
    }
}

template <class F, class A>
void convertPerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                       float gain)
{
    if (frames <= 0)
        return;
    channelPair<F, A>(l, r, static_cast<unsigned char*>(outL), static_cast<unsigned char*>(outR), frames,
                      F::limits(gain));
    _mm_sfence();
}

} // namespace PomaroApp::SampleKernels
