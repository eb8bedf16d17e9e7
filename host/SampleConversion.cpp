#include "host/SampleConversion.h"

#include "host/SampleConversionKernels.h"

namespace PomaroApp {
namespace {

using namespace SampleKernels;

// Streaming stores need 16-byte aligned targets; a device buffer that is not
// aligned gets ordinary unaligned stores with identical values.
template <class F>
void interleaved(const float* l, const float* r, void* out, std::int32_t frames, float gain)
{
    if (aligned16(l) && aligned16(r) && aligned16(out))
        convertInterleaved<F, StreamingAccess>(l, r, out, frames, gain);
    else
        convertInterleaved<F, UnalignedAccess>(l, r, out, frames, gain);
}

template <class F> void oneChannel(const float* in, void* out, std::int32_t frames, const Limits& k)
{
    auto* o = static_cast<unsigned char*>(out);
    if (aligned16(in) && aligned16(out))
        channel<F, StreamingAccess>(in, o, frames, k);
    else
        channel<F, UnalignedAccess>(in, o, frames, k);
}

// Both channels go group by group on the fast path; otherwise each channel picks its
// own, since the two buffers of a device need not share alignment.
template <class F>
void perChannel(const float* l, const float* r, void* outL, void* outR, std::int32_t frames, float gain)
{
    if (aligned16(l) && aligned16(r) && aligned16(outL) && aligned16(outR))
        return convertPerChannel<F, StreamingAccess>(l, r, outL, outR, frames, gain);
    if (frames <= 0)
        return;
    const Limits k = F::limits(gain);
    oneChannel<F>(l, outL, frames, k);
    oneChannel<F>(r, outR, frames, k);
    _mm_sfence();
}

} // namespace

void storeInt16Interleaved(const float* left, const float* right, void* out, std::int32_t frames, float gain)
{
    interleaved<Int16Format>(left, right, out, frames, gain);
}

void storeInt32Interleaved(const float* left, const float* right, void* out, std::int32_t frames, float gain)
{
    interleaved<Int32Format>(left, right, out, frames, gain);
}

void storeFloat32Interleaved(const float* left, const float* right, void* out, std::int32_t frames,
                             float gain)
{
    interleaved<Float32Format>(left, right, out, frames, gain);
}

void storeInt16PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                          std::int32_t frames, float gain)
{
    perChannel<Int16Format>(left, right, outLeft, outRight, frames, gain);
}

void storeInt32PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                          std::int32_t frames, float gain)
{
    perChannel<Int32Format>(left, right, outLeft, outRight, frames, gain);
}

void storeFloat32PerChannel(const float* left, const float* right, void* outLeft, void* outRight,
                            std::int32_t frames, float gain)
{
    perChannel<Float32Format>(left, right, outLeft, outRight, frames, gain);
}

} // namespace PomaroApp
