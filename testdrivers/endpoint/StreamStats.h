#pragma once
// The statistics a stream leaves next to its recording. Platform-free.

#include <cstdint>
#include <string>

namespace PomaroTestEndpoint {

struct StreamStats
{
    uint32_t sampleRate = 0;
    uint32_t bufferFrames = 0;
    uint64_t periods = 0;
    uint64_t latePeriods = 0;
    uint64_t endpointLatePeriods = 0;
    uint64_t frames = 0;        // frames released by the client
    uint64_t droppedFrames = 0; // released while the recording ring was full
    uint64_t misuse = 0;        // calls refused because the client broke the protocol
    uint64_t streams = 0;       // streams started in this process
};

// "key=value" lines, one per field, in a fixed order.
std::string formatStats(const StreamStats& s);

} // namespace PomaroTestEndpoint
