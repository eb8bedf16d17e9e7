#include "testdrivers/asio/ChannelWavWriter.h"

#include <cstring>

namespace PomaroTestAsio {

namespace {
// A RIFF size is 32 bits: the file stops growing before it would overflow.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 64;

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
} // namespace

bool ChannelWavWriter::attach(std::FILE* file, WavSampleKind kind, uint32_t rate, uint32_t maxFrames)
{
    close();
    if (!file)
        return false;
    file_ = file;
    kind_ = kind;
    rate_ = rate;
    bytesPerSample_ = kind == WavSampleKind::Int16 ? 2 : 4;
    dataBytes_ = 0;
    scratch_.assign(size_t(maxFrames) * 2 * bytesPerSample_, 0);
    if (!writeHeader() || std::fflush(file_) != 0) {
        close();
        return false;
    }
    return true;
}

bool ChannelWavWriter::writeHeader()
{
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, uint32_t(36 + dataBytes_));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, kind_ == WavSampleKind::Float32 ? 3 : 1); // IEEE float or PCM
    put16(h + 22, 2);
    put32(h + 24, rate_);
    put32(h + 28, rate_ * 2 * bytesPerSample_);
    put16(h + 32, uint16_t(2 * bytesPerSample_));
    put16(h + 34, uint16_t(8 * bytesPerSample_));
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, uint32_t(dataBytes_));
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, file_) != sizeof h)
        return false;
    return std::fseek(file_, 0, SEEK_END) == 0;
}

bool ChannelWavWriter::append(const void* left, const void* right, uint32_t frames)
{
    if (!file_ || !left || !right)
        return false;
    const size_t bytes = size_t(frames) * 2 * bytesPerSample_;
    if (bytes > scratch_.size() || dataBytes_ + bytes > kMaxDataBytes)
        return false;
    const auto* l = static_cast<const unsigned char*>(left);
    const auto* r = static_cast<const unsigned char*>(right);
    unsigned char* out = scratch_.data();
    for (uint32_t i = 0; i < frames; ++i) {
        std::memcpy(out, l + size_t(i) * bytesPerSample_, bytesPerSample_);
        out += bytesPerSample_;
        std::memcpy(out, r + size_t(i) * bytesPerSample_, bytesPerSample_);
        out += bytesPerSample_;
    }
    // Samples first, then the sizes that cover them.
    if (std::fwrite(scratch_.data(), 1, bytes, file_) != bytes)
        return false;
    dataBytes_ += bytes;
    return writeHeader() && std::fflush(file_) == 0;
}

void ChannelWavWriter::close()
{
    if (file_) {
        writeHeader();
        std::fclose(file_);
        file_ = nullptr;
    }
}

} // namespace PomaroTestAsio
