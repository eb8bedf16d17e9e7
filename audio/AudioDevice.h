#pragma once
// The abstract audio device and device list behind which the WASAPI and ASIO
// implementations live.

#include "audio/AudioTypes.h"

#include <windows.h>

namespace Kelvane {

class CAudioDevice
{
public:
    // Implemented by the client; the device calls it once per period from its audio thread.
    class IDataProvider
    {
    public:
        virtual bool onPrepare(SampleFormat format, SampleRate rate, int32_t bufferFrames,
                               bool interleaved) = 0;
        virtual bool onRender(void* buffer0, void* buffer1) = 0;
        virtual void onResetRequest() = 0;

    protected:
        ~IDataProvider() = default; // never deleted through this interface
    };

    CAudioDevice() = default;
    CAudioDevice(const CAudioDevice&) = delete;
    CAudioDevice& operator=(const CAudioDevice&) = delete;

    // A device may be deleted in any state: it stops, unprepares and releases its driver.
    virtual ~CAudioDevice() = default;
    virtual int32_t getIndex() = 0;
    virtual const wchar_t* getName() = 0;
    virtual bool isInterleaved() = 0;
    virtual DriverType getDriverType() = 0;
    virtual SampleFormat getSampleFormat() = 0;
    virtual SampleRate getSampleRate() = 0;
    virtual int32_t getSupportedSampleRates() = 0;
    virtual bool getBufferSizeRange(SampleRate rate, int32_t* minFrames, int32_t* maxFrames,
                                    int32_t* preferredFrames, int32_t* granularity) = 0;
    virtual bool open(HWND window) = 0;
    virtual bool close() = 0;
    virtual bool prepare(SampleRate rate, int32_t bufferFrames, IDataProvider* provider) = 0;
    virtual bool unprepare() = 0;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual bool hasControlPanel() = 0;
    virtual bool showControlPanel() = 0;

protected:
    DeviceState state = DeviceClosed;
};

class CAudioDeviceList
{
public:
    CAudioDeviceList() = default;
    CAudioDeviceList(const CAudioDeviceList&) = delete;
    CAudioDeviceList& operator=(const CAudioDeviceList&) = delete;

    // Every device made from a list must be deleted before the list.
    virtual ~CAudioDeviceList() = default;
    virtual int32_t getCount() = 0;
    virtual const wchar_t* getName(int32_t index) = 0;
    virtual CAudioDevice* createDevice(int32_t index) = 0;
};

} // namespace Kelvane
