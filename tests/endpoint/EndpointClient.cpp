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
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

int fail(const char* what, HRESULT hr)
{
    std::printf("error=%s 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

// The smallest exclusive, event-driven render loop: pre-roll, Start, then one whole
// buffer of silence per event; a NOT_ALIGNED answer is followed.
int bare(IMMDeviceEnumerator* e, double seconds, uint32_t rate, uint32_t frames)
{
    Microsoft::WRL::ComPtr<IMMDeviceCollection> c;
    Microsoft::WRL::ComPtr<IMMDevice> d;
    Microsoft::WRL::ComPtr<IAudioClient> client;
    HRESULT hr = e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &c);
    if (FAILED(hr) || FAILED(hr = c->Item(0, &d)))
        return fail("no endpoint", hr);
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
    REFERENCE_TIME span = REFERENCE_TIME(10000000.0 / rate * frames + 0.5);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (FAILED(hr = d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client)))
            return fail("Activate", hr);
        hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, span, span,
                                &format, nullptr);
        UINT32 aligned = 0;
        if (hr != AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED || FAILED(client->GetBufferSize(&aligned)))
            break;
        span = REFERENCE_TIME(10000000.0 / rate * aligned + 0.5);
    }
    if (FAILED(hr))
        return fail("Initialize", hr);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Microsoft::WRL::ComPtr<IAudioRenderClient> render;
    UINT32 bufferFrames = 0;
    if (FAILED(hr = client->SetEventHandle(event)) || FAILED(hr = client->GetBufferSize(&bufferFrames)) ||
        FAILED(hr = client->GetService(__uuidof(IAudioRenderClient), &render)))
        return fail("SetEventHandle/GetBufferSize/GetService", hr);
    uint64_t rendered = 0, releases = 0;
    auto renderOne = [&]() -> HRESULT {
        BYTE* data = nullptr;
        HRESULT h = render->GetBuffer(bufferFrames, &data);
        if (FAILED(h))
            return h;
        std::memset(data, 0, bufferFrames * 4);
        if (SUCCEEDED(h = render->ReleaseBuffer(bufferFrames, 0))) {
            rendered += bufferFrames;
            ++releases;
        }
        return h;
    };
    if (FAILED(hr = renderOne()))
        return fail("pre-roll", hr);
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    if (FAILED(hr = client->Start()))
        return fail("Start", hr);
    const char* failed = nullptr;
    while (!failed && rendered < uint64_t(seconds * rate)) {
        if (WaitForSingleObject(event, 2000) != WAIT_OBJECT_0)
            failed = "wait for the period event", hr = HRESULT_FROM_WIN32(WAIT_TIMEOUT);
        else if (FAILED(hr = renderOne()))
            failed = "GetBuffer/ReleaseBuffer";
    }
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    const HRESULT stopped = client->Stop();
    CloseHandle(event);
    if (failed || FAILED(hr = stopped))
        return fail(failed ? failed : "Stop", hr);
    std::printf("buffer_frames=%u\nreleases=%llu\nelapsed_ms=%.0f\n", bufferFrames,
                static_cast<unsigned long long>(releases),
                1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    Microsoft::WRL::ComPtr<IPomaroEndpointStats> stats;
    PomaroEndpointStats s = {};
    if (FAILED(client->QueryInterface(__uuidof(IPomaroEndpointStats), &stats)) || FAILED(stats->GetStats(&s)))
        return fail("not the test endpoint: no statistics", E_NOINTERFACE);
    std::printf("periods=%llu\nlate_periods=%llu\nendpoint_late_periods=%llu\nframes=%llu\n",
                static_cast<unsigned long long>(s.periods), static_cast<unsigned long long>(s.latePeriods),
                static_cast<unsigned long long>(s.endpointLatePeriods),
                static_cast<unsigned long long>(s.frames));
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
        Microsoft::WRL::ComPtr<IMMDeviceEnumerator> e;
        const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                            __uuidof(IMMDeviceEnumerator), &e);
        rc = FAILED(hr) ? fail("CoCreateInstance", hr) : bare(e.Get(), seconds, rate, frames);
    }
    CoUninitialize();
    std::fflush(stdout);
    return rc;
}
