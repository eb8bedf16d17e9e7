#pragma once
// One WASAPI render endpoint in exclusive mode, event-driven, as 16-bit stereo PCM,
// with its own render thread that asks the provider for one endpoint period at a time.

#include "audio/AudioDevice.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

namespace Kelvane {

class WasapiRenderStream;

class CWasapiAudioDevice : public CAudioDevice
{
public:
    // Takes over one reference to endpoint; name belongs to the list.
    CWasapiAudioDevice(int32_t index, const wchar_t* name, IMMDevice* endpoint);
    ~CWasapiAudioDevice() override;

    int32_t getIndex() override { return index; }
    const wchar_t* getName() override { return pName; }
    bool isInterleaved() override { return true; }
    DriverType getDriverType() override { return DriverWasapi; }
    SampleFormat getSampleFormat() override { return sampleFormat; }
    SampleRate getSampleRate() override { return sampleRate; }
    int32_t getSupportedSampleRates() override { return supportedRates; }
    bool getBufferSizeRange(SampleRate rate, int32_t* minFrames, int32_t* maxFrames, int32_t* preferredFrames,
                            int32_t* granularity) override;
    bool open(HWND window) override;
    bool close() override;
    bool prepare(SampleRate rate, int32_t bufferFrames, IDataProvider* provider) override;
    bool unprepare() override;
    bool start() override;
    bool stop() override;
    bool hasControlPanel() override { return false; }
    bool showControlPanel() override { return false; }

    // The state as the render thread left it: RenderRefused once the provider refused.
    DeviceState currentState() const;
    // Frames per period the provider was told (the endpoint's own buffer length).
    int32_t getBufferFrames() const { return bufferFrames; }
    // How long stop waits for the render thread before it lets the thread finish alone.
    static constexpr DWORD kStopTimeoutMs = 3000;

    static DWORD WINAPI StaticThreadProc(LPVOID param);

private:
    bool activateClient();

    int32_t index;
    const wchar_t* pName;
    IMMDevice* pEndpoint;
    IAudioClient* pAudioClient = nullptr;
    IAudioRenderClient* pRenderClient = nullptr;
    SampleFormat sampleFormat = SampleFormatUnknown;
    SampleRate sampleRate = RateNone;
    int32_t supportedRates = 0;
    int32_t bufferFrames = 0;
    IDataProvider* pProvider = nullptr;
    HANDLE hEvent = nullptr;
    HANDLE hThread = nullptr;
    UINT32 endpointFrames = 0;
    WasapiRenderStream* pStream = nullptr; // shared with the render thread while it runs
};

} // namespace Kelvane
