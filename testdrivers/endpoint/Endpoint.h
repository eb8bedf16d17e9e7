#pragma once
// The test WASAPI endpoint: what a test wants its endpoints to be and do, read from a
// small INI-like text, and the failures it injects at chosen calls.
//
//   wav   = C:\out\render.wav          (what clients render, and beside it render.wav.stats.txt,
//                                       the stream's counters when it stops; no key: neither)
//   fail  = EnumAudioEndpoints:0x80004005
//   [endpoint]                          (one section per endpoint, in collection order)
//   name = Speakers (Test)              (no key: the friendly name reads as VT_EMPTY)
//   state = active | disabled | notpresent | unplugged
//   flow = render | capture
//   rates = 44100, 48000                (exclusive 16-bit stereo PCM rates accepted)
//   period = 100000   min_period = 30000   (100-ns units)
//   align = 32                          (exclusive buffers must be multiples of 32 frames)
//   not_aligned = 480:512               (a request of 480 frames answers NOT_ALIGNED, aligned 512)
//   extra_frames = 32                   (the buffer comes out larger than asked)
//   fail = Initialize#2:0x88890004, Start   (#n: only the n-th call; default result E_FAIL)

#include <windows.h>
#include <audioclient.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

// The calls a test can make fail; the first is configured globally, the rest per endpoint.
// clang-format off
#define POMARO_ENDPOINT_CALLS(X) \
    X(EnumAudioEndpoints) X(GetDevice) X(Activate) X(GetDevicePeriod) X(Initialize) X(GetBuffer) X(ReleaseBuffer)
// clang-format on
enum class Call : int
{
#define POMARO_CALL_ENUM(name) name,
    POMARO_ENDPOINT_CALLS(POMARO_CALL_ENUM)
#undef POMARO_CALL_ENUM
        Count
};

// Counts calls and answers the injected result. Safe to use from any thread.
class FaultPlan
{
public:
    struct Rule
    {
        Call call;
        uint32_t nth;
        int32_t hr;
    };
    std::vector<Rule> rules;
    // Counts one call; the result to inject, or 0 to proceed normally.
    int32_t onCall(Call c);

private:
    std::atomic<uint32_t> counts_[int(Call::Count)] = {};
};

struct EndpointSetup
{
    std::wstring id, name;
    bool hasName = false;
    uint32_t state = 1; // DEVICE_STATE_ACTIVE, or another of those bits
    bool render = true;
    std::vector<uint32_t> rates{44100, 48000}; // Hz
    int64_t defaultPeriod = 100000, minPeriod = 30000;
    uint32_t alignFrames = 0; // 0: any size
    uint32_t notAlignedRequest = 0, notAlignedAnswer = 0;
    uint32_t extraFrames = 0;
    std::shared_ptr<FaultPlan> faults = std::make_shared<FaultPlan>();
};

// One enumerator's view of the endpoints, shared by everything made from it.
struct EndpointModel
{
    std::wstring wavPath;
    FaultPlan faults; // enumerator level
    std::vector<EndpointSetup> endpoints;
};

// Parses the text; false with "line N: ..." in error on the first bad line.
bool parseEndpointConfig(const std::string& text, EndpointModel& out, std::string& error);

IAudioClient* newAudioClient(std::shared_ptr<EndpointModel> model, size_t index);

} // namespace PomaroTestEndpoint
