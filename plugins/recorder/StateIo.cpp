#include "plugins/recorder/StateIo.h"

#include <cstring>

using namespace Steinberg;

namespace Recorder {

bool writeState(IBStream* stream, const double (&values)[kStateParams])
{
    if (!stream)
        return false;
    unsigned char bytes[kStateBytes];
    std::memcpy(bytes, kStateTag, 4);
    for (int i = 0; i < kStateParams; ++i) {
        uint64 bits;
        std::memcpy(&bits, &values[i], 8);
        for (int b = 0; b < 8; ++b)
            bytes[4 + i * 8 + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    int32 written = 0;
    return stream->write(bytes, kStateBytes, &written) == kResultOk && written == kStateBytes;
}

bool readState(IBStream* stream, double (&values)[kStateParams])
{
    if (!stream)
        return false;
    unsigned char bytes[kStateBytes];
    int32 read = 0;
    if (stream->read(bytes, kStateBytes, &read) != kResultOk || read != kStateBytes)
        return false;
    if (std::memcmp(bytes, kStateTag, 4) != 0)
        return false;
    for (int i = 0; i < kStateParams; ++i) {
        uint64 bits = 0;
        for (int b = 0; b < 8; ++b)
            bits |= uint64(bytes[4 + i * 8 + b]) << (8 * b);
        std::memcpy(&values[i], &bits, 8);
    }
    return true;
}

} // namespace Recorder
