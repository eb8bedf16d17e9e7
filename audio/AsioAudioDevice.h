#pragma once
// One ASIO driver as an audio device: two output channels, driver double-buffering,
// the provider called from the driver's own thread.

#include "audio/AsioDriver.h"
#include "audio/AudioDevice.h"
#include "audio/RenderGate.h"

#include <atomic>

namespace Kelvane {

struct AsioDriverRegistry;

class CAsioAudioDevice : public CAudioDevice
{
public:
    CAsioAudioDevice(AsioDriverRegistry* registry, int32_t number);
    ~CAsioAudioDevice() override;

    int32_t getIndex() override { return number; }
    const wchar_t* getName() override { return pName; }
    bool isInterleaved() override { return false; }
    DriverType getDriverType() override { return DriverAsio; }
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
    // Returns only when no render call is running or can begin, whatever the driver's
    // own stop does: the driver's thread may go on calling, and gets silence.
    bool stop() override;
    bool hasControlPanel() override { return true; }
    bool showControlPanel() override;

    // The state as the main thread sees it, a refusal by the provider included.
    DeviceState deviceState() const;

    // The device the driver callbacks reach; null while none is prepared.
    static CAsioAudioDevice* current();

    // The four driver callbacks (the driver's threads).
    static void bufferSwitch(long doubleBufferIndex, ASIOBool directProcess);
    static ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
    static void sampleRateDidChange(ASIOSampleRate rate);
    static long asioMessage(long selector, long value, void* message, double* opt);

    // How long stop waits for a render call before it says so in the log (and waits on).
    static constexpr unsigned kRenderWaitReportMs = 3000;

private:
    void render(long doubleBufferIndex);
    void writeSilence(int half);
    void closeGate();
    void releaseCurrent();

    AsioDriverRegistry* pRegistry = nullptr;
    int32_t number = 0;
    wchar_t* pName = nullptr;
    HWND hWindow = nullptr;
    IAsioDriver* pDriver = nullptr;
    SampleFormat sampleFormat = SampleFormatUnknown;
    SampleRate sampleRate = RateNone;
    int32_t supportedRates = 0;
    int32_t bufferFrames = 0;
    void* buffers[2][2] = {};
    ASIOCallbacks callbacks{};
    IDataProvider* pProvider = nullptr;
    // Set by the driver's thread when the provider refuses a period; folded into the
    // state by the main thread.
    std::atomic<bool> renderRefused{false};
    // Open from start to stop: only then does a buffer switch reach the provider.
    RenderGate gate;
    // The thread inside the driver's start(): a buffer switch it makes gets silence, so
    // the plug-in is never run on the user-interface thread.
    std::atomic<DWORD> startingThread{0};
};

} // namespace Kelvane
