#include "testdrivers/common/WavFile.h"

#include <cstring>

namespace PomaroTestDrivers {

namespace {
void put(unsigned char* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
} // namespace

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
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4);
    put(h + 4, uint32_t(36 + dataBytes_), 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put(h + 16, 16, 4);
    put(h + 20, samples_ == WavSamples::Float32 ? 3 : 1, 2); // IEEE float or PCM
    put(h + 22, 2, 2);
    put(h + 24, rate_, 4);
    put(h + 28, rate_ * 2 * sampleBytes_, 4);
    put(h + 32, 2 * sampleBytes_, 2);
    put(h + 34, 8 * sampleBytes_, 2);
    std::memcpy(h + 36, "data", 4);
    put(h + 40, uint32_t(dataBytes_), 4);
    failed_ = std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, file_) != sizeof h;
    return !failed_ && std::fseek(file_, 0, SEEK_END) == 0;
}

bool WavFile::append(const void* frames, uint32_t n)
{
    const uint64_t bytes = uint64_t(n) * 2 * sampleBytes_;
    // Samples are stored little-endian, as the host's memory already has them. A RIFF size
    // field is 32 bits: the file stops growing well before it overflows.
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
