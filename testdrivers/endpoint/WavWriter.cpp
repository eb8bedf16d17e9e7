#include "testdrivers/endpoint/WavWriter.h"

#include <cstring>

namespace PomaroTestEndpoint {

namespace {
// A RIFF size field is 32 bits; stop growing the file well before it overflows.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 64;

void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
} // namespace

bool WavWriter::attach(std::FILE* file, uint32_t rate)
{
    close();
    if (!file)
        return false;
    file_ = file;
    rate_ = rate;
    dataBytes_ = 0;
    failed_ = false;
    return writeHeader() && std::fflush(file_) == 0;
}

bool WavWriter::writeHeader()
{
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, uint32_t(36 + dataBytes_));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, 2); // stereo
    put32(h + 24, rate_);
    put32(h + 28, rate_ * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, uint32_t(dataBytes_));
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
        failed_ = true;
        return false;
    }
    return std::fseek(file_, 0, SEEK_END) == 0;
}

bool WavWriter::append(const int16_t* frames, uint32_t n)
{
    if (!file_ || failed_)
        return false;
    uint64_t bytes = uint64_t(n) * 4;
    if (dataBytes_ + bytes > kMaxDataBytes)
        return false;
    // Samples are stored little-endian, as the host's memory already has them.
    if (std::fwrite(frames, 1, size_t(bytes), file_) != bytes) {
        failed_ = true;
        return false;
    }
    dataBytes_ += bytes;
    return true;
}

bool WavWriter::updateHeader()
{
    if (!file_ || failed_)
        return false;
    // Flush the samples before the sizes that announce them.
    if (std::fflush(file_) != 0 || !writeHeader())
        return false;
    return std::fflush(file_) == 0;
}

void WavWriter::close()
{
    if (!file_)
        return;
    updateHeader();
    std::fclose(file_);
    file_ = nullptr;
}

} // namespace PomaroTestEndpoint
