#include "tests/endpoint/WasapiTestClient.h"

#include "tests/endpoint/ComRef.h"

#include <audioclient.h>

namespace {

WAVEFORMATEX pcm16Stereo(uint32_t rate)
{
    WAVEFORMATEX w = {};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = 2;
    w.nSamplesPerSec = rate;
    w.nAvgBytesPerSec = rate * 4;
    w.nBlockAlign = 4;
    w.wBitsPerSample = 16;
    return w;
}

REFERENCE_TIME durationOf(uint32_t frames, uint32_t rate)
{
    return REFERENCE_TIME(10000000.0 / rate * frames + 0.5);
}

struct EventHandle
{
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~EventHandle()
    {
        if (h)
            CloseHandle(h);
    }
};

double secondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, f;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&f);
    return double(now.QuadPart - start.QuadPart) / double(f.QuadPart);
}

} // namespace

RenderResult renderExclusive(IMMDevice* device, const RenderRequest& rq)
{
    RenderResult r;
    auto fail = [&r](HRESULT hr, const char* step) {
        r.hr = hr;
        r.step = step;
        return r;
    };
    ComRef<IAudioClient> client;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
    if (FAILED(hr))
        return fail(hr, "Activate");
    WAVEFORMATEX format = pcm16Stereo(rq.rate);
    REFERENCE_TIME d = durationOf(rq.frames, rq.rate);
    hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &format,
                            nullptr);
    if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        UINT32 aligned = 0;
        hr = client->GetBufferSize(&aligned);
        if (FAILED(hr))
            return fail(hr, "GetBufferSize (aligned)");
        d = durationOf(aligned, rq.rate);
        hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
        if (FAILED(hr))
            return fail(hr, "Activate (aligned)");
        hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &format,
                                nullptr);
    }
    if (FAILED(hr))
        return fail(hr, "Initialize");
    EventHandle event;
    if (FAILED(hr = client->SetEventHandle(event.h)))
        return fail(hr, "SetEventHandle");
    UINT32 frames = 0;
    if (FAILED(hr = client->GetBufferSize(&frames)))
        return fail(hr, "GetBufferSize");
    r.bufferFrames = frames;
    ComRef<IAudioRenderClient> render;
    if (FAILED(hr = client->GetService(__uuidof(IAudioRenderClient), render.putVoid())))
        return fail(hr, "GetService");

    uint64_t next = 0;
    auto renderOne = [&]() -> HRESULT {
        BYTE* data = nullptr;
        HRESULT h = render->GetBuffer(frames, &data);
        if (FAILED(h))
            return h;
        auto* samples = reinterpret_cast<int16_t*>(data);
        if (rq.fill) {
            rq.fill(samples, frames, next, rq.context);
        } else {
            for (UINT32 i = 0; i < frames * 2; ++i)
                samples[i] = 0;
        }
        h = render->ReleaseBuffer(frames, 0);
        if (SUCCEEDED(h)) {
            next += frames;
            ++r.releases;
        }
        return h;
    };
    if (FAILED(hr = renderOne()))
        return fail(hr, "pre-roll");
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (FAILED(hr = client->Start()))
        return fail(hr, "Start");
    const uint64_t total = uint64_t(rq.seconds * rq.rate);
    bool midpointDone = rq.midpoint == nullptr;
    r.hr = S_OK;
    while (next < total) {
        if (WaitForSingleObject(event.h, 2000) != WAIT_OBJECT_0) {
            fail(HRESULT_FROM_WIN32(WAIT_TIMEOUT), "wait for the period event");
            break;
        }
        if (FAILED(hr = renderOne())) {
            fail(hr, "GetBuffer/ReleaseBuffer");
            break;
        }
        if (!midpointDone && secondsSince(start) >= rq.midpointSeconds) {
            rq.midpoint(rq.context);
            midpointDone = true;
        }
    }
    r.elapsedSeconds = secondsSince(start);
    HRESULT stopHr = client->Stop();
    if (SUCCEEDED(r.hr) && FAILED(stopHr))
        fail(stopHr, "Stop");
    ComRef<IPomaroEndpointStats> stats;
    if (SUCCEEDED(client->QueryInterface(__uuidof(IPomaroEndpointStats), stats.putVoid())))
        r.haveStats = SUCCEEDED(stats->GetStats(&r.stats));
    return r;
}
