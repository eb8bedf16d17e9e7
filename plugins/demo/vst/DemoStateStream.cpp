#include "plugins/demo/vst/DemoStateStream.h"

namespace PomaroDemo {

using namespace Steinberg;

bool writeStateTo(IBStream* stream, const DemoState& state)
{
    if (!stream)
        return false;
    uint8_t bytes[kStateBytes];
    encodeState(state, bytes);
    int32 done = 0;
    while (done < int32(kStateBytes)) {
        int32 n = 0;
        if (stream->write(bytes + done, int32(kStateBytes) - done, &n) != kResultOk || n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool readStateFrom(IBStream* stream, DemoState& state)
{
    if (!stream)
        return false;
    uint8_t bytes[kStateBytes];
    int32 done = 0;
    while (done < int32(kStateBytes)) {
        int32 n = 0;
        if (stream->read(bytes + done, int32(kStateBytes) - done, &n) != kResultOk || n <= 0)
            return false;
        done += n;
    }
    return decodeState(bytes, sizeof bytes, state);
}

} // namespace PomaroDemo
