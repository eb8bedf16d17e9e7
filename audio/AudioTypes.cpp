#include "audio/AudioTypes.h"

#include <cstddef>

namespace Kelvane {

int32_t sampleRateToHz(int32_t rate)
{
    static constexpr int32_t kHz[] = {22050, 44100, 48000, 96000};
    static_assert(sizeof kHz == sizeof kSampleRates, "one frequency for each rate");
    for (size_t i = 0; i < sizeof kHz / sizeof kHz[0]; ++i)
        if (rate == kSampleRates[i])
            return kHz[i];
    return 0;
}

const wchar_t* sampleFormatName(int32_t format)
{
    switch (format) {
    case SampleFormatInt16:
        return L"Int 16bit";
    case SampleFormatInt32:
        return L"Int 32bit";
    case SampleFormatFloat32:
        return L"Float 32bit";
    default:
        return L"Unknown";
    }
}

const wchar_t* driverTypeName(int32_t type)
{
    switch (type) {
    case DriverWasapi:
        return L"Windowsドライバ";
    case DriverAsio:
        return L"ASIOドライバ";
    default:
        return L"";
    }
}

} // namespace Kelvane
