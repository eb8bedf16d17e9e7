// A small WASAPI client for end-to-end tests, using the system's device enumerator
// through CoCreateInstance like any program:
//   endpoint_client bare SECONDS [RATE [FRAMES]]   renders silence with the bare event loop
// Output is UTF-8 "key=value" lines; the exit code is 0 on success.
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace {

int fail(const char* what, HRESULT hr)
{
    std::printf("error=%s 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

// The smallest exclusive, event-driven render loop: pre-roll, Start, then one whole
// buffer of silence per event.
int bare(IMMDeviceEnumerator* e, double seconds, uint32_t rate, uint32_t frames)
{
    ComPtr<IMMDeviceCollection> c;
    ComPtr<IMMDevice> d;
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> render;
    ComPtr<IPomaroEndpointStats> stats;
    const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
    const REFERENCE_TIME span = REFERENCE_TIME(10000000.0 / rate * frames + 0.5);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT32 bufferFrames = 0;
    HRESULT hr;
    if (FAILED(hr = e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &c)) || FAILED(hr = c->Item(0, &d)) ||
        FAILED(hr = d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client)))
        return fail("no endpoint", hr);
    if (FAILED(hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, span,
                                       span, &format, nullptr)) ||
        FAILED(hr = client->SetEventHandle(event)) || FAILED(hr = client->GetBufferSize(&bufferFrames)) ||
        FAILED(hr = client->GetService(__uuidof(IAudioRenderClient), &render)))
        return fail("Initialize/SetEventHandle/GetBufferSize/GetService", hr);
    uint64_t rendered = 0;
    auto renderOne = [&]() -> HRESULT {
        BYTE* data = nullptr;
        HRESULT h = render->GetBuffer(bufferFrames, &data);
        if (SUCCEEDED(h)) {
            std::memset(data, 0, bufferFrames * 4);
            h = render->ReleaseBuffer(bufferFrames, 0);
            rendered += bufferFrames;
        }
        return h;
    };
    if (FAILED(hr = renderOne()) || FAILED(hr = client->Start()))
        return fail("pre-roll/Start", hr);
    const char* failed = nullptr;
    while (!failed && rendered < uint64_t(seconds * rate)) {
        if (WaitForSingleObject(event, 2000) != WAIT_OBJECT_0)
            failed = "wait for the period event", hr = HRESULT_FROM_WIN32(WAIT_TIMEOUT);
        else if (FAILED(hr = renderOne()))
            failed = "GetBuffer/ReleaseBuffer";
    }
    const HRESULT stopped = client->Stop();
    CloseHandle(event);
    if (failed || FAILED(hr = stopped))
        return fail(failed ? failed : "Stop", hr);
    PomaroEndpointStats s = {};
    if (FAILED(client.As(&stats)) || FAILED(stats->GetStats(&s)))
        return fail("not the test endpoint: no statistics", E_NOINTERFACE);
    std::printf("periods=%llu\nlate_periods=%llu\n", static_cast<unsigned long long>(s.periods),
                static_cast<unsigned long long>(s.latePeriods));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const double seconds = argc > 2 ? std::wcstod(argv[2], nullptr) : 1.0;
    const uint32_t rate = argc > 3 ? uint32_t(std::wcstoul(argv[3], nullptr, 10)) : 48000;
    const uint32_t frames = argc > 4 ? uint32_t(std::wcstoul(argv[4], nullptr, 10)) : rate / 100;
    if (argc < 2 || std::wcscmp(argv[1], L"bare") != 0 || !(seconds > 0 && rate > 0 && frames > 0)) {
        std::fputs("usage: endpoint_client bare SECONDS [RATE [FRAMES]]\n", stderr);
        return 2;
    }
    // The render loop runs on this thread, so it is a multithreaded apartment like an audio thread.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int rc;
    {
        ComPtr<IMMDeviceEnumerator> e;
        const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                            __uuidof(IMMDeviceEnumerator), &e);
        rc = FAILED(hr) ? fail("CoCreateInstance", hr) : bare(e.Get(), seconds, rate, frames);
    }
    CoUninitialize();
    std::fflush(stdout);
    return rc;
}
