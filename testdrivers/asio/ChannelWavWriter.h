#pragma once
// Appends two channel buffers, as an ASIO host filled them, to a stereo RIFF WAVE
// file in the driver's own sample format (16- or 32-bit integers, 32-bit floats).
// Every append brings the sizes in the header up to date and hands the bytes to the
// system, so the file stays valid when the process is killed. Platform-free.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace PomaroTestAsio {

enum class WavSampleKind
{
    Int16,
    Int32,
    Float32
};

class ChannelWavWriter
{
public:
    ChannelWavWriter() = default;
    ~ChannelWavWriter() { close(); }
    ChannelWavWriter(const ChannelWavWriter&) = delete;
    ChannelWavWriter& operator=(const ChannelWavWriter&) = delete;

    // Takes ownership of a file opened for binary writing. maxFrames bounds append.
    bool attach(std::FILE* file, WavSampleKind kind, uint32_t rate, uint32_t maxFrames);
    bool isOpen() const { return file_ != nullptr; }
    uint64_t frames() const { return dataBytes_ / (2u * bytesPerSample_); }

    // Interleaves frames samples of left and right (each bytesPerSample bytes).
    bool append(const void* left, const void* right, uint32_t frames);
    void close();

private:
    bool writeHeader();
    std::FILE* file_ = nullptr;
    WavSampleKind kind_ = WavSampleKind::Int16;
    uint32_t rate_ = 0;
    uint32_t bytesPerSample_ = 2;
    uint64_t dataBytes_ = 0;
    std::vector<unsigned char> scratch_;
};

} // namespace PomaroTestAsio
