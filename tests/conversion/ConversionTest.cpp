// The six conversion routines against a scalar model of the rules: random data with awkward
// values mixed in, every frame count up to 40 (group and tail paths), a device-sized block and
// counts that write nothing, aligned and misaligned buffers, other rounding and denormal modes.

#include "host/SampleConversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <vector>
#include <xmmintrin.h>

namespace {

enum class Format
{
    Int16,
    Int32,
    Float32
};

// The rules one sample at a time, independent of the vector code.
// `p > -limit` is false for NaN, which therefore takes the lower limit.
void referenceSample(Format f, float x, float gain, unsigned char* out)
{
    const float limit = f == Format::Int16 ? 32767.0f : f == Format::Int32 ? 2147483520.0f : 1.0f;
    const float p = x * (gain * limit);
    const float y = std::min(p > -limit ? p : -limit, limit);
    const std::int32_t i32 = static_cast<std::int32_t>(y);
    const std::int16_t i16 = static_cast<std::int16_t>(i32);
    if (f == Format::Float32)
        std::memcpy(out, &y, sizeof y);
    else if (f == Format::Int32)
        std::memcpy(out, &i32, sizeof i32);
    else
        std::memcpy(out, &i16, sizeof i16);
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

const struct Routine
{
    const char* name;
    Format format;
    void (*interleaved)(const float*, const float*, void*, std::int32_t, float); // exactly one is set
    void (*perChannel)(const float*, const float*, void*, void*, std::int32_t, float);
} kRoutines[] = {
    {"Int16Interleaved", Format::Int16, PomaroApp::storeInt16Interleaved, nullptr},
    {"Int32Interleaved", Format::Int32, PomaroApp::storeInt32Interleaved, nullptr},
    {"Float32Interleaved", Format::Float32, PomaroApp::storeFloat32Interleaved, nullptr},
    {"Int16PerChannel", Format::Int16, nullptr, PomaroApp::storeInt16PerChannel},
    {"Int32PerChannel", Format::Int32, nullptr, PomaroApp::storeInt32PerChannel},
    {"Float32PerChannel", Format::Float32, nullptr, PomaroApp::storeFloat32PerChannel},
};

// `size` bytes starting `offset` bytes past a 16-byte boundary and allocated to their exact end
// (an access beyond it is an ASan error); the bytes before them must come back untouched.
struct Buffer
{
    Buffer(std::size_t size, std::size_t offset)
        : memory(static_cast<unsigned char*>(
              ::operator new (std::max<std::size_t>(offset + size, 1), std::align_val_t{16}))),
          data(std::fill_n(memory, offset, 0xA5))
    {}
    ~Buffer() { ::operator delete (memory, std::align_val_t{16}); }
    bool leadIntact() const
    {
        return std::all_of(memory, data, [](unsigned char b) { return b == 0xA5; });
    }
    unsigned char* const memory;
    unsigned char* const data;
};

// Random levels with awkward values mixed in: limits, beyond them, NaN, infinities, denormals.
std::vector<float> randomSamples(std::mt19937& rng, std::size_t n)
{
    static std::vector<float> specials = [] {
        const float dmin = std::numeric_limits<float>::denorm_min();
        const float below = std::nextafter(1.0f, 0.0f);
        return std::vector<float>{0.99999f, -0.99999f, 0.5f,     -0.5f,  0.25f,   -0.0f,
                                  0.0f,     dmin,      -dmin,    1e-40f, -3e-39f, 1.0f,
                                  -1.0f,    1.5f,      -1.5f,    kInf,   -kInf,   kNaN,
                                  -kNaN,    FLT_MAX,   -FLT_MAX, below,  -below,  1.0f / 32767.0f};
    }();
    std::uniform_real_distribution<float> level(-1.6f, 1.6f);
    std::uniform_int_distribution<std::size_t> pick(0, specials.size() * 3 - 1);
    std::vector<float> v(n);
    for (float& x : v) {
        const std::size_t k = pick(rng);
        x = k < specials.size() ? specials[k] : level(rng);
    }
    return v;
}

struct Layout
{
    std::size_t outLeft, outRight, inLeft, inRight; // past a 16-byte boundary: bytes out, floats in
};

// One call on random input, every sample compared with the model.
::testing::AssertionResult checkCase(const Routine& r, std::mt19937& rng, int frames, float gain,
                                     const Layout& lay)
{
    const std::size_t n = std::size_t(std::max(frames, 0)), sb = r.format == Format::Int16 ? 2 : 4;
    const std::vector<float> in[2] = {randomSamples(rng, n), randomSamples(rng, n)};
    Buffer inL(n * 4, lay.inLeft * 4), inR(n * 4, lay.inRight * 4);
    const float* left = std::copy(in[0].begin(), in[0].end(), reinterpret_cast<float*>(inL.data)) - n;
    const float* right = std::copy(in[1].begin(), in[1].end(), reinterpret_cast<float*>(inR.data)) - n;
    Buffer out[2] = {{(r.interleaved ? 2 : 1) * n * sb, lay.outLeft},
                     {r.interleaved ? 0 : n * sb, lay.outRight}};
    if (r.interleaved)
        r.interleaved(left, right, out[0].data, frames, gain);
    else
        r.perChannel(left, right, out[0].data, out[1].data, frames, gain);
    for (std::size_t c = 0; c < 2; ++c) {
        if (!out[c].leadIntact())
            return ::testing::AssertionFailure() << "wrote before its buffer";
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char want[4];
            referenceSample(r.format, in[c][i], gain, want);
            if (std::memcmp(r.interleaved ? out[0].data + (2 * i + c) * sb : out[c].data + i * sb, want, sb))
                return ::testing::AssertionFailure()
                       << (c ? "right" : "left") << " frame " << i << " (input " << in[c][i] << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

void sweep(std::uint32_t seed, const std::vector<float>& gains, const std::vector<Layout>& layouts,
           std::vector<int> counts = {})
{
    if (counts.empty()) { // every count to 40, a device-sized block, and counts that must write nothing
        counts = {480, -1, -16, std::numeric_limits<std::int32_t>::min()};
        for (int n = 0; n <= 40; ++n)
            counts.push_back(n);
    }
    std::mt19937 rng(seed);
    for (const Routine& r : kRoutines)
        for (float gain : gains)
            for (int frames : counts)
                for (const Layout& lay : layouts)
                    ASSERT_TRUE(checkCase(r, rng, frames, gain, lay))
                        << r.name << " frames=" << frames << " gain=" << gain << " out+" << lay.outLeft
                        << "/+" << lay.outRight << " in+" << lay.inLeft << "/+" << lay.inRight;
}

TEST(ConversionMatchesModel, AlignedAndMisalignedBuffersAndGains)
{
    // Every output offset inside a 16-byte line, both channels alike, and mixed cases where
    // only one channel of a per-channel device is aligned.
    std::vector<Layout> offsets{{0, 6, 0, 0}, {4, 0, 0, 0}};
    for (std::size_t o = 0; o < 16; ++o)
        offsets.push_back({o, o, 0, 0});
    // Power-of-two and zero gains keep the scale exact (zero turns an infinity into NaN);
    // a gain above one must scale before the clamp.
    sweep(1, {1.0f, 0.5f, 2.0f, 0.0f}, offsets);
    sweep(2, {0.7071f, -0.3f}, {{0, 0, 0, 0}, {2, 10, 0, 0}});
    sweep(3, {1.0f}, {{0, 0, 1, 3}, {0, 0, 2, 0}, {8, 4, 3, 1}});
    // Truncation must not depend on the thread's rounding mode (a converter that rounds
    // gives 32767 for 0.99999), nor the tail path on flush-to-zero and denormals-are-zero;
    // the model runs under the same control word.
    const unsigned int saved = _mm_getcsr();
    for (unsigned int mode : {0u | _MM_ROUND_DOWN, _MM_ROUND_UP | _MM_FLUSH_ZERO_ON | 0x0040u}) {
        _mm_setcsr((saved & ~(_MM_ROUND_MASK | _MM_FLUSH_ZERO_MASK | 0x0040u)) | mode);
        sweep(4, {1.0f}, {{0, 0, 0, 0}, {2, 2, 0, 0}}, {1, 7, 8, 15, 16, 37, 480});
        _mm_setcsr(saved);
    }
}

} // namespace
