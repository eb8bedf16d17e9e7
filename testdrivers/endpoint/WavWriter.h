#pragma once
// Writes 16-bit stereo PCM to a RIFF WAVE file that stays readable at every moment:
// data goes out first, the RIFF and data sizes follow, so the header never claims
// bytes the file does not hold, even when the process is killed. Platform-free.

#include <cstdint>
#include <cstdio>

namespace PomaroTestEndpoint {

class WavWriter
{
public:
    WavWriter() = default;
    ~WavWriter() { close(); }
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Takes ownership of a file opened for binary writing and writes an empty file's header.
    bool attach(std::FILE* file, uint32_t rate);
    bool isOpen() const { return file_ != nullptr; }
    uint32_t rate() const { return rate_; }
    uint64_t frames() const { return dataBytes_ / 4; }

    // Appends interleaved frames; sizes are brought up to date by updateHeader.
    bool append(const int16_t* frames, uint32_t n);
    // Rewrites the sizes and hands everything to the system.
    bool updateHeader();
    void close();

private:
    bool writeHeader();
    std::FILE* file_ = nullptr;
    uint32_t rate_ = 0;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

} // namespace PomaroTestEndpoint
