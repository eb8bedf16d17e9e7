// The conversion rules on known values, through the grouped and the single-frame
// paths of all six routines.

#include "tests/conversion/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ConversionTest {
namespace {

struct Known {
  float in;
  std::int16_t i16;
  std::int32_t i32;
  float f32;
};

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

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
    {std::numeric_limits<float>::max(), 32767, 2147483520, 1.0f},
};
constexpr int kCount = static_cast<int>(std::size(kKnown));

// 37 frames: known values cycle through the group part and the 5 (or 13) single
// frames; the right channel runs a different phase so a swapped pair shows.
constexpr int kFrames = 37;
int leftIndex(int i) { return i % kCount; }
int rightIndex(int i) { return (i + 5) % kCount; }

template <class T>
T sampleAt(const unsigned char* base, int index) {
  T v;
  std::memcpy(&v, base + static_cast<std::size_t>(index) * sizeof(T), sizeof(T));
  return v;
}

void expectKnown(Format f, const unsigned char* out, int index, const Known& k) {
  switch (f) {
  case Format::Int16:
    EXPECT_EQ(sampleAt<std::int16_t>(out, index), k.i16) << "input " << k.in;
    break;
  case Format::Int32:
    EXPECT_EQ(sampleAt<std::int32_t>(out, index), k.i32) << "input " << k.in;
    break;
  case Format::Float32:
    EXPECT_EQ(sampleAt<float>(out, index), k.f32) << "input " << k.in;
    break;
  }
}

void checkKnownValues(std::size_t outOffset) {
  std::vector<float> left(kFrames), right(kFrames);
  for (int i = 0; i < kFrames; ++i) {
    left[static_cast<std::size_t>(i)] = kKnown[leftIndex(i)].in;
    right[static_cast<std::size_t>(i)] = kKnown[rightIndex(i)].in;
  }
  const InputChannel inL(left, 0), inR(right, 0);
  for (const Routine& r : allRoutines()) {
    SCOPED_TRACE(::testing::Message() << r.name << " out+" << outOffset);
    const std::size_t sb = sampleBytes(r.format);
    if (r.interleaved) {
      GuardedOutput out(kFrames * 2 * sb, outOffset);
      r.interleaved(inL.data(), inR.data(), out.data(), kFrames, 1.0f);
      for (int i = 0; i < kFrames; ++i) {
        expectKnown(r.format, out.data(), 2 * i, kKnown[leftIndex(i)]);
        expectKnown(r.format, out.data(), 2 * i + 1, kKnown[rightIndex(i)]);
      }
    } else {
      GuardedOutput outL(kFrames * sb, outOffset), outR(kFrames * sb, outOffset);
      r.perChannel(inL.data(), inR.data(), outL.data(), outR.data(), kFrames, 1.0f);
      for (int i = 0; i < kFrames; ++i) {
        expectKnown(r.format, outL.data(), i, kKnown[leftIndex(i)]);
        expectKnown(r.format, outR.data(), i, kKnown[rightIndex(i)]);
      }
    }
  }
}

TEST(ConversionRules, KnownValuesAlignedOutput) { checkKnownValues(0); }

TEST(ConversionRules, KnownValuesMisalignedOutput) {
  checkKnownValues(2);
  checkKnownValues(7);
}

// Truncation, not the rounding mode: a converter that rounds gives 32767 for 0.99999.
TEST(ConversionRules, TruncatesUnderEveryRoundingMode) {
  const float left[4] = {0.99999f, -0.99999f, -0.5f, 0.5f};
  for (unsigned int rm : {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP, _MM_ROUND_TOWARD_ZERO}) {
    const ScopedMxcsr mode((_mm_getcsr() & ~_MM_ROUND_MASK) | rm);
    alignas(16) float l[16] = {}, r[16] = {};
    for (int i = 0; i < 16; ++i)
      l[i] = r[i] = left[i % 4];
    alignas(16) std::int16_t interleaved[32] = {}, perChannel[32] = {};
    PomaroApp::storeInt16Interleaved(l, r, interleaved, 16, 1.0f);
    PomaroApp::storeInt16PerChannel(l, r, perChannel, perChannel + 16, 16, 1.0f);
    const std::int16_t want[4] = {32766, -32766, -16383, 16383};
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(interleaved[2 * i], want[i % 4]) << "rounding mode " << rm;
      EXPECT_EQ(interleaved[2 * i + 1], want[i % 4]) << "rounding mode " << rm;
      EXPECT_EQ(perChannel[i], want[i % 4]) << "rounding mode " << rm;
      EXPECT_EQ(perChannel[16 + i], want[i % 4]) << "rounding mode " << rm;
    }
  }
}

TEST(ConversionRules, GainScalesBeforeTheClamp) {
  alignas(16) float l[16], r[16];
  for (int i = 0; i < 16; ++i) {
    l[i] = 0.5f;
    r[i] = -0.75f;
  }
  alignas(16) std::int16_t i16[32];
  PomaroApp::storeInt16Interleaved(l, r, i16, 16, 2.0f);
  EXPECT_EQ(i16[0], 32767);
  EXPECT_EQ(i16[1], -32767);
  alignas(16) float f32[16], f32r[16];
  PomaroApp::storeFloat32PerChannel(l, r, f32, f32r, 16, 0.5f);
  EXPECT_EQ(f32[15], 0.25f);
  EXPECT_EQ(f32r[15], -0.375f);
}

TEST(ConversionRules, NothingWrittenForEmptyOrNegativeFrameCounts) {
  const std::vector<float> samples(32, 0.5f);
  const InputChannel inL(samples, 0), inR(samples, 0);
  for (const Routine& r : allRoutines()) {
    for (std::int32_t frames : {0, -1, -16, std::numeric_limits<std::int32_t>::min()}) {
      GuardedOutput a(0, 0), b(0, 0);
      if (r.interleaved)
        r.interleaved(inL.data(), inR.data(), a.data(), frames, 1.0f);
      else
        r.perChannel(inL.data(), inR.data(), a.data(), b.data(), frames, 1.0f);
      EXPECT_TRUE(a.guardsIntact() && b.guardsIntact()) << r.name << " frames=" << frames;
    }
  }
}

} // namespace
} // namespace ConversionTest
