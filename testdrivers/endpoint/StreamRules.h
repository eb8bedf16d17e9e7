#pragma once
// How the endpoint judges formats and sizes its buffers, as a real exclusive-mode
// endpoint would. Platform-free: the COM layer converts WAVEFORMATEX to FormatDesc.

#include "testdrivers/endpoint/EndpointConfig.h"

#include <cstdint>

namespace PomaroTestEndpoint {

constexpr int64_t kHnsPerSecond = 10000000;
// Exclusive buffers longer than this are refused (AUDCLNT_E_BUFFER_SIZE_ERROR).
constexpr int64_t kMaxBufferDuration = 20000000;

struct FormatDesc
{
    uint16_t tag = 0; // 1 PCM, 3 float, 0xFFFE extensible
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t avgBytes = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    bool extensiblePcm = false; // extensible with the PCM sub-format and 16 valid bits
};

// The only format recorded: 16-bit stereo PCM at one of the endpoint's rates.
bool isExclusiveFormatAccepted(const EndpointSpec& e, const FormatDesc& f);

// Frames a duration holds at rate, rounded to nearest.
uint32_t framesForDuration(int64_t hns, uint32_t rate);
// The duration of frames at rate, rounded to nearest 100 ns.
int64_t durationForFrames(uint32_t frames, uint32_t rate);

// The answer to an exclusive Initialize's buffer size.
struct SizeDecision
{
    bool aligned = true; // false: AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
    uint32_t frames = 0; // aligned: the buffer the endpoint makes; else the aligned size to use
};
SizeDecision decideExclusiveSize(const EndpointSpec& e, uint32_t requestedFrames);

} // namespace PomaroTestEndpoint
