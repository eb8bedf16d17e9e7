#pragma once
// The process's recording of everything its clients rendered: one WAV file that
// successive streams append to, and the statistics file written when a stream stops.
// Streams at another rate than the open file continue in "<name>-2.wav", "-3", ...

#include "testdrivers/endpoint/StreamStats.h"
#include "testdrivers/common/WavFile.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace PomaroTestEndpoint {

class Recorder
{
public:
    static Recorder& instance();

    // A stream starts; an empty path records nothing.
    void beginStream(const std::wstring& wavPath, uint32_t rate);
    // Called by the endpoint's clock thread; brings the header up to date about ten times a second.
    void append(const int16_t* frames, uint32_t n);
    // A stream stopped: finishes the header and writes stats to statsPath (if not empty).
    void endStream(const std::wstring& statsPath, StreamStats stats);
    uint64_t streams();

private:
    bool open(const std::wstring& path, uint32_t rate);
    std::mutex mutex_;
    PomaroTestDrivers::WavFile wav_;
    std::wstring basePath_;
    unsigned fileNumber_ = 0;
    uint64_t streams_ = 0;
    unsigned long long lastHeaderMs_ = 0;
};

} // namespace PomaroTestEndpoint
