#pragma once
// What one run of a WASAPI device's render thread holds: its own references to the
// audio client, the render client and the period event, the provider, and the state it
// shares with the device. The device and the thread each hold one reference; whichever
// lets go last frees it, so a thread that outlives the device's stop time-out never
// touches a freed device.

#include "audio/AudioDevice.h"
#include "audio/RenderLoop.h"

#include <audioclient.h>
#include <windows.h>
#include <wrl/client.h>

namespace Kelvane {

class WasapiRenderStream
{
public:
    // Null when the event cannot be duplicated.
    static WasapiRenderStream* create(IAudioClient* client, IAudioRenderClient* render, HANDLE event,
                                      UINT32 frames, CAudioDevice::IDataProvider* provider);
    WasapiRenderStream(const WasapiRenderStream&) = delete;
    WasapiRenderStream& operator=(const WasapiRenderStream&) = delete;

    // Gives up one holder's reference; the last one frees the stream.
    void release();
    // The render thread's work between its apartment set-up and its end.
    void render();

    RenderShared shared;

private:
    WasapiRenderStream() = default;
    ~WasapiRenderStream();

    Microsoft::WRL::ComPtr<IAudioClient> client;
    Microsoft::WRL::ComPtr<IAudioRenderClient> renderClient;
    HANDLE event = nullptr;
    UINT32 frames = 0;
    CAudioDevice::IDataProvider* provider = nullptr;
};

} // namespace Kelvane
