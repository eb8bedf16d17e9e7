#include "audio/WasapiRenderStream.h"

#include <avrt.h>

#include <new>

namespace Kelvane {

namespace {

// The endpoint side of the render loop: one endpoint period per buffer.
class EndpointPeriods
{
public:
    EndpointPeriods(IAudioClient* client, IAudioRenderClient* render, HANDLE event, UINT32 frames,
                    RenderTimingLog* timing)
        : client(client), render(render), event(event), frames(frames), timing(timing)
    {
    }

    uint8_t* getBuffer()
    {
        BYTE* data = nullptr;
        return SUCCEEDED(render->GetBuffer(frames, &data)) ? data : nullptr;
    }

    bool releaseBuffer(bool silent)
    {
        const HRESULT hr = render->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
        if (timing && woke) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            timing->record(wake.QuadPart, now.QuadPart);
        }
        return SUCCEEDED(hr);
    }

    bool startClient() { return SUCCEEDED(client->Start()); }
    void stopClient() { client->Stop(); }

    bool waitPeriod()
    {
        const bool signalled = WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
        if (timing) {
            QueryPerformanceCounter(&wake);
            woke = true;
        }
        return signalled;
    }

    size_t bufferBytes() const { return size_t(frames) * 4; } // 16-bit stereo

private:
    IAudioClient* client;
    IAudioRenderClient* render;
    HANDLE event;
    UINT32 frames;
    RenderTimingLog* timing;
    LARGE_INTEGER wake{};
    bool woke = false;
};

struct ProviderCalls {
    CAudioDevice::IDataProvider* provider;
    bool render(void* buffer) { return provider->onRender(buffer, nullptr); }
};

} // namespace

WasapiRenderStream* WasapiRenderStream::create(IAudioClient* client, IAudioRenderClient* render,
                                               HANDLE event, UINT32 frames,
                                               CAudioDevice::IDataProvider* provider,
                                               RenderTimingLog* timing)
{
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    auto* stream = new (std::nothrow) WasapiRenderStream();
    if (!stream) {
        CloseHandle(own);
        return nullptr;
    }
    client->AddRef();
    render->AddRef();
    stream->client = client;
    stream->renderClient = render;
    stream->event = own;
    stream->frames = frames;
    stream->provider = provider;
    stream->timing = timing;
    return stream;
}

WasapiRenderStream::~WasapiRenderStream()
{
    renderClient->Release();
    client->Release();
    CloseHandle(event);
}

void WasapiRenderStream::release()
{
    if (shared.release())
        delete this;
}

void WasapiRenderStream::render()
{
    DWORD taskIndex = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    if (!task)
        return;
    EndpointPeriods endpoint(client, renderClient, event, frames, timing);
    ProviderCalls calls{provider};
    runRenderLoop(endpoint, calls, shared);
    AvRevertMmThreadCharacteristics(task);
}

} // namespace Kelvane
