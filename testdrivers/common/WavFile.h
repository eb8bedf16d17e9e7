#pragma once
// A stereo RIFF WAVE file that stays readable at every moment: samples go out first,
// the RIFF and data sizes that announce them follow, so the header never claims bytes
// the file does not hold, even when the process is killed. 16- or 32-bit integers or
// 32-bit floats. Platform-free.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace PomaroTestDrivers {

enum class WavSamples
{
    Int16,
    Int32,
    Float32
};

class WavFile
{
public:
    WavFile() = default;
    ~WavFile() { close(); }
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    // Takes ownership of a file opened for binary writing and writes an empty file's header.
    bool attach(std::FILE* file, WavSamples samples, uint32_t rate);
    bool isOpen() const { return file_ != nullptr; }
    uint32_t rate() const { return rate_; }
    WavSamples samples() const { return samples_; }

    // Appends interleaved frames; the sizes follow at updateHeader.
    bool append(const void* frames, uint32_t n);
    // Interleaves n samples of each channel buffer, then brings the sizes up to date.
    bool appendChannels(const void* left, const void* right, uint32_t n);
    // Rewrites the sizes and hands everything to the system.
    bool updateHeader();
    void close();

private:
    bool writeHeader();
    std::FILE* file_ = nullptr;
    WavSamples samples_ = WavSamples::Int16;
    uint32_t rate_ = 0;
    uint32_t sampleBytes_ = 2;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
    std::vector<unsigned char> scratch_;
};

} // namespace PomaroTestDrivers
