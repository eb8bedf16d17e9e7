#pragma once
// The conversions as a developer would first write them: one sample at a time,
// plain C++, no intrinsics. The benchmark's baseline.
#include <cstddef>
#include <cstdint>

namespace PomaroBench {

void plainInt16Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain);
void plainInt32Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain);
void plainFloat32Interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain);
void plainInt16PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                          float gain);
void plainInt32PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                          float gain);
void plainFloat32PerChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames,
                            float gain);

// Streams `bytes` into each of the (one or two) 16-byte aligned targets with
// non-temporal stores and nothing else, then fences once: the memory-bandwidth
// floor for the same output. `bytes` is a multiple of 16.
void streamOnly(void* out0, void* out1, std::size_t bytes);

} // namespace PomaroBench
