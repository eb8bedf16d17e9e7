#include "testdrivers/common/WavFile.h"

#include <cstring>

namespace PomaroTestDrivers {

bool WavFile::attach(std::FILE* file, WavSamples samples, uint32_t rate)
{
    close();
    if (!file)
        return false;
    file_ = file;
    samples_ = samples;
    rate_ = rate;
    sampleBytes_ = samples == WavSamples::Int16 ? 2 : 4;
    dataBytes_ = 0;
    failed_ = false;
    return writeHeader() && std::fflush(file_) == 0;
}

bool WavFile::writeHeader()
{
    // Little-endian, as the host's memory has it: the RIFF size, "WAVE", a 16-byte "fmt " chunk
    // (format, two channels, the rate, bytes a second, bytes a frame, bits a sample), the data's size.
    const uint32_t frameBytes = 2 * sampleBytes_, bits = 8 * sampleBytes_;
    const uint32_t format = samples_ == WavSamples::Float32 ? 3 : 1; // IEEE float or PCM
    const uint32_t formatAndChannels = format | 2u << 16, frameAndBits = frameBytes | bits << 16;
    uint32_t h[11] = {
        0, uint32_t(36 + dataBytes_), 0, 0, 16, formatAndChannels, rate_, rate_ * frameBytes, frameAndBits,
        0, uint32_t(dataBytes_)};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 2, "WAVEfmt ", 8);
    std::memcpy(h + 9, "data", 4);
    failed_ = std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, file_) != sizeof h;
    return !failed_ && std::fseek(file_, 0, SEEK_END) == 0;
}

bool WavFile::append(const void* frames, uint32_t n)
{
    const uint64_t bytes = uint64_t(n) * 2 * sampleBytes_;
    // Samples are stored as the host's memory has them. A RIFF size field is 32 bits: the
    // file stops growing well before it overflows.
    if (!file_ || failed_ || dataBytes_ + bytes > 0xFFFFFF00u)
        return false;
    failed_ = std::fwrite(frames, 1, size_t(bytes), file_) != bytes;
    dataBytes_ += failed_ ? 0 : bytes;
    return !failed_;
}

bool WavFile::appendChannels(const void* left, const void* right, uint32_t n)
{
    if (!left || !right)
        return false;
    scratch_.resize(size_t(n) * 2 * sampleBytes_);
    const auto* l = static_cast<const unsigned char*>(left);
    const auto* r = static_cast<const unsigned char*>(right);
    unsigned char* out = scratch_.data();
    for (uint32_t i = 0; i < n; ++i, out += 2 * sampleBytes_) {
        std::memcpy(out, l + size_t(i) * sampleBytes_, sampleBytes_);
        std::memcpy(out + sampleBytes_, r + size_t(i) * sampleBytes_, sampleBytes_);
    }
    return append(scratch_.data(), n) && updateHeader();
}

bool WavFile::updateHeader()
{
    if (!file_ || failed_)
        return false;
    // Flush the samples before the sizes that announce them.
    return std::fflush(file_) == 0 && writeHeader() && std::fflush(file_) == 0;
}

void WavFile::close()
{
    if (!file_)
        return;
    updateHeader();
    std::fclose(file_);
    file_ = nullptr;
}

} // namespace PomaroTestDrivers
