// Every routine against the scalar model: random data with the awkward values
// mixed in, every frame count up to 40 (group and tail paths) and a device-sized
// block, aligned and misaligned buffers, guard bytes around every output.

#include "tests/conversion/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <utility>

namespace ConversionTest {
namespace {

std::vector<float> randomSamples(std::mt19937& rng, std::size_t n) {
  const float inf = std::numeric_limits<float>::infinity();
  const float specials[] = {1.5f, -1.5f, 1.0f, -1.0f, 0.99999f, -0.99999f, -0.5f, 0.5f, 0.0f, -0.0f,
                            std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                            inf, -inf, std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::denorm_min(), 1e-40f, -3e-39f, FLT_MAX, -FLT_MAX,
                            std::nextafter(1.0f, 0.0f), std::nextafter(-1.0f, 0.0f), 1.0f / 32767.0f};
  std::uniform_real_distribution<float> level(-1.6f, 1.6f);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(specials) * 3 - 1);
  std::vector<float> v(n);
  for (float& x : v) {
    const std::size_t k = pick(rng);
    x = k < std::size(specials) ? specials[k] : level(rng);
  }
  return v;
}

struct Layout {
  std::size_t outLeft = 0, outRight = 0; // byte offsets past a 16-byte boundary
  std::size_t inLeft = 0, inRight = 0;   // float offsets
};

std::string describe(const Routine& r, int frames, float gain, const Layout& lay) {
  std::ostringstream s;
  s << r.name << " frames=" << frames << " gain=" << gain << " out+" << lay.outLeft << "/+" << lay.outRight
    << " in+" << lay.inLeft << "/+" << lay.inRight;
  return s.str();
}

::testing::AssertionResult sameBytes(const std::vector<unsigned char>& actual,
                                     const std::vector<unsigned char>& expected, std::size_t sample,
                                     const std::vector<float>& samples, std::size_t stride) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (actual[i] != expected[i]) {
      const std::size_t index = i / sample;
      return ::testing::AssertionFailure() << "first difference in output sample " << index << " (input "
                                           << samples[index / stride] << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult checkCase(const Routine& r, std::mt19937& rng, int frames, float gain,
                                     const Layout& lay) {
  const std::size_t n = static_cast<std::size_t>(frames);
  const std::size_t sb = sampleBytes(r.format);
  const std::vector<float> left = randomSamples(rng, n), right = randomSamples(rng, n);
  const InputChannel inL(left, lay.inLeft), inR(right, lay.inRight);

  if (r.interleaved) {
    std::vector<unsigned char> expected(n * 2 * sb);
    std::vector<float> inputs(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
      referenceSample(r.format, left[i], gain, &expected[2 * i * sb]);
      referenceSample(r.format, right[i], gain, &expected[(2 * i + 1) * sb]);
      inputs[2 * i] = left[i];
      inputs[2 * i + 1] = right[i];
    }
    GuardedOutput out(expected.size(), lay.outLeft);
    r.interleaved(inL.data(), inR.data(), out.data(), frames, gain);
    if (!out.guardsIntact())
      return ::testing::AssertionFailure() << "wrote outside its buffer";
    return sameBytes(out.contents(), expected, sb, inputs, 1);
  }

  std::vector<unsigned char> expectedL(n * sb), expectedR(n * sb);
  for (std::size_t i = 0; i < n; ++i) {
    referenceSample(r.format, left[i], gain, &expectedL[i * sb]);
    referenceSample(r.format, right[i], gain, &expectedR[i * sb]);
  }
  GuardedOutput outL(n * sb, lay.outLeft), outR(n * sb, lay.outRight);
  r.perChannel(inL.data(), inR.data(), outL.data(), outR.data(), frames, gain);
  if (!outL.guardsIntact() || !outR.guardsIntact())
    return ::testing::AssertionFailure() << "wrote outside its buffers";
  auto leftOk = sameBytes(outL.contents(), expectedL, sb, left, 1);
  if (!leftOk)
    return leftOk << " (left)";
  auto rightOk = sameBytes(outR.contents(), expectedR, sb, right, 1);
  if (!rightOk)
    return rightOk << " (right)";
  return ::testing::AssertionSuccess();
}

std::vector<int> frameCounts() {
  std::vector<int> counts;
  for (int n = 0; n <= 40; ++n)
    counts.push_back(n);
  counts.push_back(480);
  return counts;
}

// Every output offset inside a 16-byte line, both channels alike, plus the two
// mixed cases where only one channel of a per-channel device is aligned.
std::vector<Layout> outputLayouts() {
  std::vector<Layout> layouts;
  for (std::size_t o = 0; o < 16; ++o)
    layouts.push_back({o, o, 0, 0});
  layouts.push_back({0, 6, 0, 0});
  layouts.push_back({4, 0, 0, 0});
  return layouts;
}

void sweep(std::uint32_t seed, const std::vector<float>& gains, const std::vector<Layout>& layouts,
           const std::vector<int>& counts) {
  std::mt19937 rng(seed);
  for (const Routine& r : allRoutines())
    for (float gain : gains)
      for (int frames : counts)
        for (const Layout& lay : layouts)
          ASSERT_TRUE(checkCase(r, rng, frames, gain, lay)) << describe(r, frames, gain, lay);
}

TEST(ConversionMatchesReference, AlignedAndMisalignedOutputs) {
  // Power-of-two and zero gains keep the scale exact; zero turns an infinity into NaN.
  sweep(1, {1.0f, 0.5f, 2.0f, 0.0f}, outputLayouts(), frameCounts());
}

TEST(ConversionMatchesReference, ArbitraryGain) {
  sweep(2, {0.7071f, -0.3f}, {{0, 0, 0, 0}, {2, 10, 0, 0}}, frameCounts());
}

TEST(ConversionMatchesReference, MisalignedInputs) {
  sweep(3, {1.0f}, {{0, 0, 1, 3}, {0, 0, 2, 0}, {8, 4, 3, 1}}, frameCounts());
}

// Truncation must not depend on the thread's rounding mode, nor the tail path on
// flush-to-zero; the scalar model runs under the same control word.
TEST(ConversionMatchesReference, AnyRoundingAndDenormalMode) {
  const unsigned int rounding[] = {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP, _MM_ROUND_TOWARD_ZERO};
  const unsigned int denormals[] = {0u, _MM_FLUSH_ZERO_ON | 0x0040u /* denormals are zero */};
  const unsigned int base = _mm_getcsr() & ~(_MM_ROUND_MASK | _MM_FLUSH_ZERO_MASK | 0x0040u);
  for (unsigned int rm : rounding) {
    for (unsigned int dm : denormals) {
      const ScopedMxcsr mode(base | rm | dm);
      SCOPED_TRACE(::testing::Message() << "mxcsr=0x" << std::hex << (base | rm | dm));
      sweep(4, {1.0f}, {{0, 0, 0, 0}, {2, 2, 0, 0}}, {1, 7, 8, 15, 16, 37, 480});
    }
  }
}

} // namespace
} // namespace ConversionTest
