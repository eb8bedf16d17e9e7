#pragma once
// The test WASAPI endpoint, configured by the UTF-8 file named by POMARO_TEST_ENDPOINT_CONFIG, else by
// the REG_SZ value Config of HKEY_CURRENT_USER\Software\PomaroTest\Endpoint:
//   wav = C:\out\render.wav      (what clients render; render.wav.stats.txt: each stream's counters)
//   fail = EnumAudioEndpoints:0x80004005
//   [endpoint]                    (one section per endpoint, in collection order)
//   name = Speakers (Test)        (no key: the friendly name reads as VT_EMPTY)
//   state = active | disabled | notpresent | unplugged      flow = render | capture
//   rates = 44100, 48000          (exclusive 16-bit stereo PCM)   period / min_period = 100000 (100 ns)
//   not_aligned = 480:512         (480 frames answer NOT_ALIGNED, aligned 512)   extra_frames = 32
//   fail = Initialize#2:0x88890004, GetBuffer   (#n: only the n-th call; default result E_FAIL)

#include "testdrivers/common/TextParse.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

// The calls a test can make fail; the first only before the first [endpoint], the rest only in one.
inline const char* const kCalls[] = {"EnumAudioEndpoints", "GetDevice", "Activate",     "GetDevicePeriod",
                                     "Initialize",         "GetBuffer", "ReleaseBuffer"};
inline size_t callIndex(const std::string& name)
{
    return size_t(std::find(std::begin(kCalls), std::end(kCalls), name) - kCalls);
}

// Counts calls and answers the injected result (0: proceed), from any thread.
struct FaultPlan
{
    std::vector<PomaroTestDrivers::CallRule> rules; // names checked against kCalls
    std::atomic<uint32_t> counts[std::size(kCalls)] = {};
    HRESULT onCall(const char* call)
    {
        const uint32_t n = counts[callIndex(call)].fetch_add(1, std::memory_order_relaxed) + 1;
        for (const auto& r : rules)
            if (r.name == call && (r.nth == 0 || r.nth == n))
                return HRESULT(r.code ? r.code : 0x80004005u); // E_FAIL unless the test names another
        return S_OK;
    }
};

struct EndpointSetup
{
    std::wstring id, name, wavPath;
    bool hasName = false, render = true;
    uint32_t state = DEVICE_STATE_ACTIVE;
    std::vector<uint32_t> rates{44100, 48000}; // Hz
    uint32_t defaultPeriod = 100000, minPeriod = 30000;
    uint32_t notAlignedRequest = 0, notAlignedAnswer = 0, extraFrames = 0;
    FaultPlan faults;
};

// One enumerator's view of the endpoints; what is made from it holds it through its endpoint.
struct EndpointModel
{
    FaultPlan faults;                    // enumerator level
    std::deque<EndpointSetup> endpoints; // never moved
};
using Endpoint = std::shared_ptr<EndpointSetup>;

IAudioClient* newAudioClient(Endpoint endpoint);

} // namespace PomaroTestEndpoint
