#pragma once
// What a test wants the endpoints to be and do, read from a small INI-like text:
//
//   # global keys, before the first section
//   wav   = C:\out\render.wav          (what clients render; no key: nothing is recorded)
//   stats = C:\out\render.stats.txt    (default: the WAV's path with ".stats.txt" appended)
//   fail  = EnumAudioEndpoints:0x80004005
//   [endpoint]                          (one section per endpoint, in collection order)
//   name = Speakers (Test)              (no key: the friendly name reads as VT_EMPTY)
//   id = {0.0.0.00000000}.{...}         (default: derived from the position)
//   state = active | disabled | notpresent | unplugged
//   flow = render | capture
//   rates = 44100, 48000                (exclusive 16-bit stereo PCM rates accepted)
//   period = 100000   min_period = 30000   (100-ns units)
//   align = 32                          (exclusive buffers must be multiples of 32 frames)
//   not_aligned = 480:512               (a request of 480 frames answers NOT_ALIGNED, aligned 512)
//   extra_frames = 32                   (the buffer comes out larger than asked)
//   fail = Initialize#2:0x88890004, Start
// Platform-free.

#include "testdrivers/endpoint/FaultPlan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

enum EndpointStateBits : uint32_t
{
    StateActive = 1,
    StateDisabled = 2,
    StateNotPresent = 4,
    StateUnplugged = 8,
};

struct EndpointSpec
{
    std::string id;   // UTF-8
    std::string name; // UTF-8
    bool hasName = false;
    uint32_t state = StateActive;
    bool render = true;
    std::vector<uint32_t> rates; // Hz
    int64_t defaultPeriod = 100000;
    int64_t minPeriod = 30000;
    uint32_t alignFrames = 0; // 0: any size
    uint32_t notAlignedRequest = 0, notAlignedAnswer = 0;
    uint32_t extraFrames = 0;
    std::vector<FailRule> failures;
};

struct EndpointConfig
{
    std::string wavPath;            // UTF-8; empty: no recording
    std::string statsPath;          // UTF-8; empty: no statistics file
    std::vector<FailRule> failures; // enumerator level
    std::vector<EndpointSpec> endpoints;
};

// Used when no configuration is given: one active endpoint, all four rates.
EndpointConfig defaultEndpointConfig();

// Parses the text; false with "line N: ..." in error on the first bad line.
bool parseEndpointConfig(const std::string& text, EndpointConfig& out, std::string& error);

} // namespace PomaroTestEndpoint
