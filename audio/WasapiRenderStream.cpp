#include "audio/WasapiRenderStream.h"

#include "diag/DebugLog.h"

#include <avrt.h>

#include <new>

namespace Kelvane {

namespace {

// The endpoint side of the render loop: one endpoint period per buffer.
class EndpointPeriods
{
public:
    EndpointPeriods(IAudioClient* client, IAudioRenderClient* render, HANDLE event, UINT32 frames)
        : client(client), render(render), event(event), frames(frames)
    {}

    uint8_t* getBuffer()
    {
        BYTE* data = nullptr;
        return succeeded(render->GetBuffer(frames, &data), L"IAudioRenderClient::GetBuffer()") ? data
                                                                                               : nullptr;
    }

    bool releaseBuffer(bool silent)
    {
        const HRESULT hr = render->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
        return succeeded(hr, L"IAudioRenderClient::ReleaseBuffer()");
    }

    bool startClient() { return succeeded(client->Start(), L"IAudioClient::Start()"); }
    void stopClient() { client->Stop(); }

    bool waitPeriod() { return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0; }

    size_t bufferBytes() const { return size_t(frames) * 4; } // 16-bit stereo

    // The endpoint call that ended the stream, and its result; null while none failed.
    const wchar_t* failedCall = nullptr;
    HRESULT failure = S_OK;

private:
    bool succeeded(HRESULT hr, const wchar_t* call)
    {
        if (SUCCEEDED(hr))
            return true;
        failedCall = call;
        failure = hr;
        return false;
    }

    IAudioClient* client;
    IAudioRenderClient* render;
    HANDLE event;
    UINT32 frames;
};

struct ProviderCalls
{
    CAudioDevice::IDataProvider* provider;
    RenderGate& gate;
    bool render(void* buffer)
    {
        if (!gate.enter())
            return false; // the device is stopping: the provider may already be gone
        const bool ok = provider->onRender(buffer, nullptr);
        gate.leave();
        return ok;
    }
};

} // namespace

WasapiRenderStream* WasapiRenderStream::create(IAudioClient* client, IAudioRenderClient* render, HANDLE event,
                                               UINT32 frames, CAudioDevice::IDataProvider* provider)
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
    stream->client = client; // references of the stream's own
    stream->renderClient = render;
    stream->event = own;
    stream->frames = frames;
    stream->provider = provider;
    stream->shared.gate.open();
    return stream;
}

WasapiRenderStream::~WasapiRenderStream() { CloseHandle(event); }

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
    EndpointPeriods endpoint(client.Get(), renderClient.Get(), event, frames);
    ProviderCalls calls{provider, shared.gate};
    runRenderLoop(endpoint, calls, shared);
    AvRevertMmThreadCharacteristics(task);
    // An endpoint that fails while nobody stops it is lost (an unplugged interface, for
    // one): say so, and let the host rebuild the stream as after a driver's reset request.
    if (endpoint.failedCall && !shared.stopRequested.load(std::memory_order_acquire)) {
        PomaroApp::DebugLog::WriteError(L"CWasapiAudioDevice::StaticThreadProc()", endpoint.failedCall,
                                        static_cast<uint32_t>(endpoint.failure), false);
        if (shared.gate.enter()) {
            provider->onResetRequest();
            shared.gate.leave();
        }
    }
}

} // namespace Kelvane
