#include "audio/AudioTypes.h"

namespace Kelvane {

int32_t sampleRateToHz(int32_t rate)
{
    switch (rate) {
    case Rate22050:
        return 22050;
    case Rate44100:
        return 44100;
    case Rate48000:
        return 48000;
    case Rate96000:
        return 96000;
    default:
        return 0;
    }
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
