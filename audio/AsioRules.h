#pragma once
// Decisions of the ASIO layer that need no driver: reading registry text into a fixed
// field, the power-of-two buffer sizes of a granularity -1 driver, and the answers to
// the driver's asioMessage. Platform-free.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Kelvane {

// The registry's value type of a NUL-terminated UTF-16 text.
constexpr uint32_t kRegistryTextType = 1;

// Copies registry text (UTF-16 code units as the registry returned them, byteCount
// bytes) into out, which holds outChars characters. The copy ends at the first NUL,
// at the end of the data (a value stored without terminator) or at outChars - 1
// characters, and is always terminated. An odd trailing byte is ignored. False, with
// out empty, for another value type, a null buffer or an empty result.
template <typename CharT>
bool copyRegistryText(const void* data, size_t byteCount, uint32_t type, CharT* out, size_t outChars)
{
    if (!out || outChars == 0)
        return false;
    out[0] = 0;
    if (type != kRegistryTextType || !data)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const size_t units = byteCount / 2;
    size_t n = 0;
    for (; n < units && n + 1 < outChars; ++n) {
        uint16_t unit;
        std::memcpy(&unit, bytes + 2 * n, 2);
        if (unit == 0)
            break;
        out[n] = static_cast<CharT>(unit);
    }
    out[n] = 0;
    return n > 0;
}

// A driver of granularity -1 takes only powers of two between its minimum and
// maximum: the smallest such power at or above requested, or the largest one in the
// range when requested lies above all of them. A range holding no power of two gives
// the minimum (the driver's own limit, which is all that is left to try).
int32_t asioPowerOfTwoFrames(int32_t requested, int32_t minFrames, int32_t maxFrames);

struct AsioMessageAnswer
{
    long answer;
    bool requestReset; // the provider's onResetRequest is to be called
};

// The host's answer to asioMessage (selector, value). hasCurrent: a device is
// prepared; currentFrames: its buffer size.
AsioMessageAnswer asioMessageAnswer(long selector, long value, bool hasCurrent, int32_t currentFrames);

} // namespace Kelvane
