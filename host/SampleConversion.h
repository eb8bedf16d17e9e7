#pragma once
// Conversion of the plug-in's two float output channels into a device buffer.
//
// Each sample becomes y = min(max(x * s, lo), hi) in single precision, the maximum
// first so that a NaN yields lo, then truncated toward zero for the integer formats:
//   Float32  s = gain            lo/hi = -1.0 / 1.0
//   Int32    s = gain * 2147483520.0f (largest float below 2^31)  lo/hi = -s1 / s1
//   Int16    s = gain * 32767.0f  lo/hi = -32767 / 32767 (symmetric, never -32768)
// Results do not depend on the thread's rounding or flush-to-zero mode beyond the
// single multiply (which the scalar and vector paths perform identically).
//
// Buffers whose addresses are all 16-byte aligned take the fast path: aligned loads,
// non-temporal stores that keep the device buffer out of the cache. Any other
// buffer is written with ordinary unaligned stores and receives the same bytes.
// Inputs and outputs must not overlap. A frame count of 0 or less writes nothing.
// All six routines end with a store fence, so streamed data is globally visible on
// return. They take no lock, allocate nothing and make no system call.

#include <cstdint>

namespace PomaroApp {

// Interleaved: out receives frames * 2 samples, L0 R0 L1 R1 ...
void storeInt16Interleaved(const float* left, const float* right, void* out, std::int32_t frames, float gain);
void storeInt32Interleaved(const float* left, const float* right, void* out, std::int32_t frames, float gain);
void storeFloat32Interleaved(const float* left, const float* right, void* out, std::int32_t frames,
                             float gain);

// Per channel: each output receives frames samples.
void storeInt16PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                          std::int32_t frames, float gain);
void storeInt32PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                          std::int32_t frames, float gain);
void storeFloat32PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                            std::int32_t frames, float gain);

} // namespace PomaroApp
