// The six conversion routines against a scalar model of the rules, which is itself
// pinned to known values: random data with the awkward values mixed in, every frame
// count up to 40 (group and tail paths) and a device-sized block, aligned and
// misaligned buffers, guard bytes around every output, every rounding and denormal mode.

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

std::size_t sampleBytes(Format f) { return f == Format::Int16 ? 2 : 4; }

// The rules one sample at a time, independent of the vector code.
// `p > -limit` is false for NaN, which therefore takes the lower limit.
float clampedProduct(float x, float scale, float limit)
{
    const float p = x * scale;
    const float y = p > -limit ? p : -limit;
    return y < limit ? y : limit;
}

void referenceSample(Format f, float x, float gain, unsigned char* out)
{
    if (f == Format::Int16) {
        const auto v = static_cast<std::int16_t>(
            static_cast<std::int32_t>(clampedProduct(x, gain * 32767.0f, 32767.0f)));
        std::memcpy(out, &v, sizeof v);
    } else if (f == Format::Int32) {
        const auto v = static_cast<std::int32_t>(clampedProduct(x, gain * 2147483520.0f, 2147483520.0f));
        std::memcpy(out, &v, sizeof v);
    } else {
        const float v = clampedProduct(x, gain, 1.0f);
        std::memcpy(out, &v, sizeof v);
    }
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// What the rules give for these inputs at unit gain, written out by hand.
struct Known
{
    float in;
    std::int16_t i16;
    std::int32_t i32;
    float f32;
};
const Known kKnown[] = {
    {1.0f, 32767, 2147483520, 1.0f},
    {-1.0f, -32767, -2147483520, -1.0f},
    {1.5f, 32767, 2147483520, 1.0f},
    {-1.5f, -32767, -2147483520, -1.0f},
    {0.99999f, 32766, 2147462016, 0.99999f},
    {-0.5f, -16383, -1073741760, -0.5f},
    {0.25f, 8191, 536870880, 0.25f},
    {kNaN, -32767, -2147483520, -1.0f},
    {-kNaN, -32767, -2147483520, -1.0f},
    {kInf, 32767, 2147483520, 1.0f},
    {-kInf, -32767, -2147483520, -1.0f},
    {0.0f, 0, 0, 0.0f},
    {1e-40f, 0, 0, 1e-40f},
    {FLT_MAX, 32767, 2147483520, 1.0f},
};

TEST(ConversionModel, GivesTheKnownValues)
{
    for (const Known& k : kKnown) {
        std::int16_t i16;
        std::int32_t i32;
        float f32;
        referenceSample(Format::Int16, k.in, 1.0f, reinterpret_cast<unsigned char*>(&i16));
        referenceSample(Format::Int32, k.in, 1.0f, reinterpret_cast<unsigned char*>(&i32));
        referenceSample(Format::Float32, k.in, 1.0f, reinterpret_cast<unsigned char*>(&f32));
        EXPECT_EQ(i16, k.i16) << k.in;
        EXPECT_EQ(i32, k.i32) << k.in;
        EXPECT_EQ(f32, k.f32) << k.in;
    }
}

using InterleavedFn = void (*)(const float*, const float*, void*, std::int32_t, float);
using PerChannelFn = void (*)(const float*, const float*, void*, void*, std::int32_t, float);

struct Routine
{
    const char* name;
    Format format;
    InterleavedFn interleaved; // exactly one of the two is set
    PerChannelFn perChannel;
};

const Routine kRoutines[] = {
    {"Int16Interleaved", Format::Int16, PomaroApp::storeInt16Interleaved, nullptr},
    {"Int32Interleaved", Format::Int32, PomaroApp::storeInt32Interleaved, nullptr},
    {"Float32Interleaved", Format::Float32, PomaroApp::storeFloat32Interleaved, nullptr},
    {"Int16PerChannel", Format::Int16, nullptr, PomaroApp::storeInt16PerChannel},
    {"Int32PerChannel", Format::Int32, nullptr, PomaroApp::storeInt32PerChannel},
    {"Float32PerChannel", Format::Float32, nullptr, PomaroApp::storeFloat32PerChannel},
};

// Input channel allocated to its exact length (an over-read is an ASan error),
// starting `offset` floats past a 16-byte boundary.
class InputChannel
{
public:
    InputChannel(const std::vector<float>& values, std::size_t offset)
        : memory_(static_cast<float*>(::operator new (
              std::max<std::size_t>((values.size() + offset) * sizeof(float), 1), std::align_val_t{16}))),
          data_(memory_ + offset)
    {
        if (!values.empty())
            std::memcpy(data_, values.data(), values.size() * sizeof(float));
    }
    ~InputChannel() { ::operator delete (memory_, std::align_val_t{16}); }
    InputChannel(const InputChannel&) = delete;
    InputChannel& operator=(const InputChannel&) = delete;
    const float* data() const { return data_; }

private:
    float* memory_;
    float* data_;
};

// Output area `offset` bytes past a 16-byte boundary, between guard bytes that must
// come back untouched.
class GuardedOutput
{
public:
    GuardedOutput(std::size_t bytes, std::size_t offset) : bytes_(bytes), region_(bytes + 160, kFill)
    {
        lead_ = (16 - reinterpret_cast<std::uintptr_t>(region_.data()) % 16) % 16 + 64 + offset;
    }
    unsigned char* data() { return region_.data() + lead_; }
    bool guardsIntact() const
    {
        for (std::size_t i = 0; i < region_.size(); ++i)
            if ((i < lead_ || i >= lead_ + bytes_) && region_[i] != kFill)
                return false;
        return true;
    }

private:
    static constexpr unsigned char kFill = 0xA5;
    std::size_t bytes_;
    std::vector<unsigned char> region_;
    std::size_t lead_;
};

// Random levels with the known values and other awkward ones mixed in.
std::vector<float> randomSamples(std::mt19937& rng, std::size_t n)
{
    static std::vector<float> specials = [] {
        std::vector<float> s = {0.99999f,
                                -0.99999f,
                                0.5f,
                                -0.0f,
                                std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::denorm_min(),
                                -3e-39f,
                                -FLT_MAX,
                                std::nextafter(1.0f, 0.0f),
                                std::nextafter(-1.0f, 0.0f),
                                1.0f / 32767.0f};
        for (const Known& k : kKnown)
            s.push_back(k.in);
        return s;
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
    std::size_t outLeft, outRight; // bytes past a 16-byte boundary
    std::size_t inLeft, inRight;   // floats
};

// Compares the output with the model sample by sample; `stride` 2 is interleaved.
::testing::AssertionResult matchesModel(Format f, const unsigned char* out, const std::vector<float>& in,
                                        std::size_t first, std::size_t stride, float gain)
{
    const std::size_t sb = sampleBytes(f);
    for (std::size_t i = 0; i < in.size(); ++i) {
        unsigned char want[4];
        referenceSample(f, in[i], gain, want);
        if (std::memcmp(out + (first + stride * i) * sb, want, sb) != 0)
            return ::testing::AssertionFailure() << "frame " << i << " (input " << in[i] << ")";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult checkCase(const Routine& r, std::mt19937& rng, int frames, float gain,
                                     const Layout& lay)
{
    const std::size_t n = static_cast<std::size_t>(frames), sb = sampleBytes(r.format);
    const std::vector<float> left = randomSamples(rng, n), right = randomSamples(rng, n);
    const InputChannel inL(left, lay.inLeft), inR(right, lay.inRight);
    if (r.interleaved) {
        GuardedOutput out(2 * n * sb, lay.outLeft);
        r.interleaved(inL.data(), inR.data(), out.data(), frames, gain);
        if (!out.guardsIntact())
            return ::testing::AssertionFailure() << "wrote outside its buffer";
        auto ok = matchesModel(r.format, out.data(), left, 0, 2, gain);
        return ok ? matchesModel(r.format, out.data(), right, 1, 2, gain) << " (right)" : ok << " (left)";
    }
    GuardedOutput outL(n * sb, lay.outLeft), outR(n * sb, lay.outRight);
    r.perChannel(inL.data(), inR.data(), outL.data(), outR.data(), frames, gain);
    if (!outL.guardsIntact() || !outR.guardsIntact())
        return ::testing::AssertionFailure() << "wrote outside its buffers";
    auto ok = matchesModel(r.format, outL.data(), left, 0, 1, gain);
    return ok ? matchesModel(r.format, outR.data(), right, 0, 1, gain) << " (right)" : ok << " (left)";
}

std::vector<int> everyCountTo40And480()
{
    std::vector<int> counts;
    for (int n = 0; n <= 40; ++n)
        counts.push_back(n);
    counts.push_back(480);
    return counts;
}

// Every output offset inside a 16-byte line, both channels alike, plus mixed cases
// where only one channel of a per-channel device is aligned.
std::vector<Layout> everyOutputOffset()
{
    std::vector<Layout> layouts;
    for (std::size_t o = 0; o < 16; ++o)
        layouts.push_back({o, o, 0, 0});
    layouts.push_back({0, 6, 0, 0});
    layouts.push_back({4, 0, 0, 0});
    return layouts;
}

void sweep(std::uint32_t seed, const std::vector<float>& gains, const std::vector<Layout>& layouts,
           const std::vector<int>& counts)
{
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
    // Power-of-two and zero gains keep the scale exact (zero turns an infinity into NaN);
    // a gain above one must scale before the clamp.
    sweep(1, {1.0f, 0.5f, 2.0f, 0.0f}, everyOutputOffset(), everyCountTo40And480());
    sweep(2, {0.7071f, -0.3f}, {{0, 0, 0, 0}, {2, 10, 0, 0}}, everyCountTo40And480());
    sweep(3, {1.0f}, {{0, 0, 1, 3}, {0, 0, 2, 0}, {8, 4, 3, 1}}, everyCountTo40And480());
}

// Truncation must not depend on the thread's rounding mode (a converter that rounds
// gives 32767 for 0.99999), nor the tail path on flush-to-zero; the model runs under
// the same control word.
TEST(ConversionMatchesModel, AnyRoundingAndDenormalMode)
{
    const unsigned int rounding[] = {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP, _MM_ROUND_TOWARD_ZERO};
    const unsigned int denormals[] = {0u, _MM_FLUSH_ZERO_ON | 0x0040u /* denormals are zero */};
    const unsigned int saved = _mm_getcsr();
    const unsigned int base = saved & ~(_MM_ROUND_MASK | _MM_FLUSH_ZERO_MASK | 0x0040u);
    for (unsigned int rm : rounding) {
        for (unsigned int dm : denormals) {
            _mm_setcsr(base | rm | dm);
            SCOPED_TRACE(::testing::Message() << "mxcsr=0x" << std::hex << (base | rm | dm));
            sweep(4, {1.0f}, {{0, 0, 0, 0}, {2, 2, 0, 0}}, {1, 7, 8, 15, 16, 37, 480});
            _mm_setcsr(saved);
        }
    }
}

TEST(ConversionMatchesModel, NothingWrittenForEmptyOrNegativeFrameCounts)
{
    const std::vector<float> samples(32, 0.5f);
    const InputChannel inL(samples, 0), inR(samples, 0);
    for (const Routine& r : kRoutines) {
        for (std::int32_t frames : {0, -1, -16, std::numeric_limits<std::int32_t>::min()}) {
            for (std::size_t offset : {0, 2}) {
                GuardedOutput a(0, offset), b(0, offset);
                if (r.interleaved)
                    r.interleaved(inL.data(), inR.data(), a.data(), frames, 1.0f);
                else
                    r.perChannel(inL.data(), inR.data(), a.data(), b.data(), frames, 1.0f);
                EXPECT_TRUE(a.guardsIntact() && b.guardsIntact()) << r.name << " frames=" << frames;
            }
        }
    }
}

} // namespace
