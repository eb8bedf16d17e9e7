#pragma once
// Shared pieces of the conversion tests: a scalar model of the conversion rules,
// a table of the six routines, and buffers that detect stray writes and reads.

#include "host/SampleConversion.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>
#include <xmmintrin.h>

namespace ConversionTest {

enum class Format { Int16, Int32, Float32 };

inline std::size_t sampleBytes(Format f) { return f == Format::Int16 ? 2 : 4; }

// The rules written out one sample at a time, independent of the vector code.
// `p > -limit` is false for NaN, which therefore takes the lower limit.
inline float clampedProduct(float x, float scale, float limit) {
  const float p = x * scale;
  const float y = p > -limit ? p : -limit;
  return y < limit ? y : limit;
}

inline void referenceSample(Format f, float x, float gain, unsigned char* out) {
  switch (f) {
  case Format::Int16: {
    const auto v = static_cast<std::int16_t>(static_cast<std::int32_t>(clampedProduct(x, gain * 32767.0f, 32767.0f)));
    std::memcpy(out, &v, sizeof v);
    break;
  }
  case Format::Int32: {
    const auto v = static_cast<std::int32_t>(clampedProduct(x, gain * 2147483520.0f, 2147483520.0f));
    std::memcpy(out, &v, sizeof v);
    break;
  }
  case Format::Float32: {
    const float v = clampedProduct(x, gain, 1.0f);
    std::memcpy(out, &v, sizeof v);
    break;
  }
  }
}

using InterleavedFn = void (*)(const float*, const float*, void*, std::int32_t, float);
using PerChannelFn = void (*)(const float*, const float*, void*, void*, std::int32_t, float);

struct Routine {
  const char* name;
  Format format;
  InterleavedFn interleaved; // exactly one of the two is set
  PerChannelFn perChannel;
};

inline const std::vector<Routine>& allRoutines() {
  static const std::vector<Routine> routines = {
      {"Int16Interleaved", Format::Int16, PomaroApp::storeInt16Interleaved, nullptr},
      {"Int32Interleaved", Format::Int32, PomaroApp::storeInt32Interleaved, nullptr},
      {"Float32Interleaved", Format::Float32, PomaroApp::storeFloat32Interleaved, nullptr},
      {"Int16PerChannel", Format::Int16, nullptr, PomaroApp::storeInt16PerChannel},
      {"Int32PerChannel", Format::Int32, nullptr, PomaroApp::storeInt32PerChannel},
      {"Float32PerChannel", Format::Float32, nullptr, PomaroApp::storeFloat32PerChannel},
  };
  return routines;
}

// Input channel allocated to its exact length (so an over-read is an ASan error),
// starting `offsetFloats` past a 16-byte boundary.
class InputChannel {
public:
  InputChannel(const std::vector<float>& values, std::size_t offsetFloats)
      : bytes_((values.size() + offsetFloats) * sizeof(float)),
        memory_(static_cast<float*>(::operator new(bytes_ ? bytes_ : 1, std::align_val_t{16}))),
        data_(memory_ + offsetFloats) {
    if (!values.empty())
      std::memcpy(data_, values.data(), values.size() * sizeof(float));
  }
  ~InputChannel() { ::operator delete(memory_, std::align_val_t{16}); }
  InputChannel(const InputChannel&) = delete;
  InputChannel& operator=(const InputChannel&) = delete;
  const float* data() const { return data_; }

private:
  std::size_t bytes_;
  float* memory_;
  float* data_;
};

// Output area `offsetBytes` past a 16-byte boundary, surrounded by guard bytes
// that must come back untouched.
class GuardedOutput {
public:
  static constexpr std::size_t kGuard = 64;
  static constexpr unsigned char kFill = 0xA5;

  GuardedOutput(std::size_t bytes, std::size_t offsetBytes)
      : bytes_(bytes), region_(kGuard + offsetBytes + bytes + kGuard + 16, kFill) {
    const auto start = reinterpret_cast<std::uintptr_t>(region_.data());
    lead_ = (16 - start % 16) % 16 + kGuard + offsetBytes;
  }
  unsigned char* data() { return region_.data() + lead_; }
  std::vector<unsigned char> contents() const {
    return {region_.begin() + static_cast<std::ptrdiff_t>(lead_),
            region_.begin() + static_cast<std::ptrdiff_t>(lead_ + bytes_)};
  }
  bool guardsIntact() const {
    for (std::size_t i = 0; i < region_.size(); ++i)
      if ((i < lead_ || i >= lead_ + bytes_) && region_[i] != kFill)
        return false;
    return true;
  }

private:
  std::size_t bytes_;
  std::vector<unsigned char> region_;
  std::size_t lead_ = 0;
};

// Sets the thread's SSE control word for one scope.
class ScopedMxcsr {
public:
  explicit ScopedMxcsr(unsigned int csr) : saved_(_mm_getcsr()) { _mm_setcsr(csr); }
  ~ScopedMxcsr() { _mm_setcsr(saved_); }
  ScopedMxcsr(const ScopedMxcsr&) = delete;
  ScopedMxcsr& operator=(const ScopedMxcsr&) = delete;

private:
  unsigned int saved_;
};

} // namespace ConversionTest
