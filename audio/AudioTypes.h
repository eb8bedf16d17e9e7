#pragma once
// Vocabulary shared by every audio device and its clients. Platform-free.

#include <cstdint>

namespace Kelvane {

enum SampleFormat : int32_t
{
    SampleFormatUnknown = 0,
    SampleFormatInt16 = 1,
    SampleFormatInt32 = 2,
    SampleFormatFloat32 = 4,
};

// One flag names one rate; a set of supported rates is the OR of flags.
enum SampleRate : int32_t
{
    RateNone = 0,
    Rate22050 = 1,
    Rate44100 = 2,
    Rate48000 = 4,
    Rate96000 = 8,
};

// Every rate a device is asked about, lowest first.
constexpr SampleRate kSampleRates[] = {Rate22050, Rate44100, Rate48000, Rate96000};

enum DriverType : int32_t
{
    DriverAuto = 0, // a request meaning "no preference", never the type of a device
    DriverWasapi = 1,
    DriverAsio = 2,
};

enum DeviceState : int32_t
{
    DeviceClosed = 0,
    DeviceOpen = 1,
    DevicePrepared = 2,
    DeviceRunning = 3,
    DeviceRenderRefused = 4,
};

// Hz of exactly one rate flag; 0 for no flag, combined flags or unknown bits.
int32_t sampleRateToHz(int32_t rate);

// "Int 16bit", "Int 32bit", "Float 32bit", or "Unknown" for any other value.
const wchar_t* sampleFormatName(int32_t format);

// "Windowsドライバ", "ASIOドライバ", or an empty text for any other value.
const wchar_t* driverTypeName(int32_t type);

} // namespace Kelvane
