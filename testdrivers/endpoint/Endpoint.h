#pragma once
// The test WASAPI endpoint: what a test wants its endpoints to be and do, read from a
// small UTF-8 INI-like text, and the failures it injects at chosen calls. The file is named
// by the environment variable POMARO_TEST_ENDPOINT_CONFIG, else by the REG_SZ value Config
// of HKEY_CURRENT_USER\Software\PomaroTest\Endpoint.
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
//   not_aligned = 480:512               (a request of 480 frames answers NOT_ALIGNED, aligned 512)
//   extra_frames = 32                   (the buffer comes out larger than asked)
//   fail = Initialize#2:0x88890004, GetBuffer   (#n: only the n-th call; default result E_FAIL)

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

// The calls a test can make fail; the first only before the first [endpoint], the rest only in one.
enum class Call
{
    EnumAudioEndpoints,
    GetDevice,
    Activate,
    GetDevicePeriod,
    Initialize,
    GetBuffer,
    ReleaseBuffer,
    Count
};

// Counts calls and answers the injected result (0: proceed). Safe to use from any thread.
struct FaultPlan
{
    struct Rule
    {
        Call call;
        uint32_t nth; // 0: every call
        HRESULT hr;
    };
    std::vector<Rule> rules;
    std::atomic<uint32_t> counts[int(Call::Count)] = {};
    HRESULT onCall(Call c);
};

struct EndpointSetup
{
    std::wstring id, name;
    bool hasName = false, render = true;
    uint32_t state = DEVICE_STATE_ACTIVE;
    std::vector<uint32_t> rates{44100, 48000}; // Hz
    uint32_t defaultPeriod = 100000, minPeriod = 30000;
    uint32_t notAlignedRequest = 0, notAlignedAnswer = 0, extraFrames = 0;
    std::shared_ptr<FaultPlan> faults = std::make_shared<FaultPlan>();
};

// One enumerator's view of the endpoints, shared by everything made from it.
struct EndpointModel
{
    std::wstring wavPath;
    FaultPlan faults; // enumerator level
    std::vector<EndpointSetup> endpoints;
};

IAudioClient* newAudioClient(std::shared_ptr<EndpointModel> model, size_t index);

} // namespace PomaroTestEndpoint
