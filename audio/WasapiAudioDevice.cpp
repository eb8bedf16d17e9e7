#include "audio/WasapiAudioDevice.h"

#include "audio/DeviceChoice.h"
#include "audio/WasapiRenderStream.h"
#include "diag/DebugLog.h"

#include <wrl/client.h>

#include <exception>
#include <string>

namespace Kelvane {

namespace {

WAVEFORMATEX pcm16Stereo(int32_t hz)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(hz);
    format.nAvgBytesPerSec = static_cast<DWORD>(hz) * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

void logThreadException(const wchar_t* message)
{
    PomaroApp::DebugLog::Write(L"CWasapiAudioDevice::StaticThreadProc()", message, true);
}

} // namespace

CWasapiAudioDevice::CWasapiAudioDevice(int32_t index, const wchar_t* name, IMMDevice* endpoint)
    : index(index), pName(name), pEndpoint(endpoint)
{}

CWasapiAudioDevice::~CWasapiAudioDevice()
{
    close();
    if (pEndpoint)
        pEndpoint->Release();
}

bool CWasapiAudioDevice::activateClient()
{
    IAudioClient* client = nullptr;
    if (FAILED(pEndpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                   reinterpret_cast<void**>(&client))) ||
        !client)
        return false;
    pAudioClient = client;
    return true;
}

bool CWasapiAudioDevice::open(HWND)
{
    if (!pEndpoint)
        return false;
    if (pAudioClient)
        return true;
    sampleFormat = SampleFormatUnknown;
    supportedRates = 0;
    if (!activateClient())
        return false;
    for (SampleRate rate : kSampleRates) {
        WAVEFORMATEX format = pcm16Stereo(sampleRateToHz(rate));
        if (pAudioClient->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format, nullptr) >= 0) {
            supportedRates |= rate;
            sampleFormat = SampleFormatInt16;
        }
    }
    state = DeviceOpen;
    return true;
}

bool CWasapiAudioDevice::getBufferSizeRange(SampleRate rate, int32_t* minFrames, int32_t* maxFrames,
                                            int32_t* preferredFrames, int32_t* granularity)
{
    if (!pAudioClient || (!minFrames && !maxFrames && !preferredFrames && !granularity))
        return false;
    const int32_t hz = sampleRateToHz(rate);
    if (hz == 0)
        return false;
    REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
    if (FAILED(pAudioClient->GetDevicePeriod(&defaultPeriod, &minimumPeriod)))
        return false;
    wasapiBufferSizeRange(defaultPeriod, minimumPeriod, hz)
        .copyTo(minFrames, maxFrames, preferredFrames, granularity);
    return true;
}

bool CWasapiAudioDevice::prepare(SampleRate rate, int32_t frames, IDataProvider* provider)
{
    const int32_t hz = sampleRateToHz(rate);
    if (!pAudioClient || hz == 0 || frames < 1 || !provider || state != DeviceOpen ||
        sampleFormat != SampleFormatInt16)
        return false;

    const WAVEFORMATEX format = pcm16Stereo(hz);
    REFERENCE_TIME duration = bufferDuration(hz, frames);
    HRESULT hr = pAudioClient->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                          duration, duration, &format, nullptr);
    if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        UINT32 aligned = 0;
        if (FAILED(pAudioClient->GetBufferSize(&aligned)) || aligned == 0) {
            unprepare();
            return false;
        }
        duration = bufferDuration(hz, static_cast<int32_t>(aligned));
        pAudioClient->Release();
        pAudioClient = nullptr;
        if (!activateClient()) {
            unprepare();
            return false;
        }
        hr = pAudioClient->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                      duration, duration, &format, nullptr);
    }
    if (FAILED(hr)) {
        unprepare();
        return false;
    }
    if (!hEvent)
        hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT32 endpointSize = 0;
    Microsoft::WRL::ComPtr<IAudioRenderClient> render;
    if (!hEvent || FAILED(pAudioClient->SetEventHandle(hEvent)) ||
        FAILED(pAudioClient->GetBufferSize(&endpointSize)) || endpointSize == 0 ||
        endpointSize > 0x7FFFFFFF || FAILED(pAudioClient->GetService(IID_PPV_ARGS(&render))) || !render) {
        unprepare();
        return false;
    }
    endpointFrames = endpointSize;
    if (pRenderClient)
        pRenderClient->Release();
    pRenderClient = render.Detach();
    // Every period moves the endpoint's whole buffer, so that is the count the provider
    // is told, whatever was asked for: it is never asked for more than it was told.
    const int32_t announced = static_cast<int32_t>(endpointFrames);
    if (!provider->onPrepare(sampleFormat, rate, announced, true)) {
        unprepare();
        return false;
    }
    sampleRate = rate;
    bufferFrames = announced;
    pProvider = provider;
    state = DevicePrepared;
    return true;
}

bool CWasapiAudioDevice::start()
{
    if (!pRenderClient || !pProvider || hThread || state != DevicePrepared)
        return false;
    WasapiRenderStream* stream =
        WasapiRenderStream::create(pAudioClient, pRenderClient, hEvent, endpointFrames, pProvider);
    if (!stream)
        return false;
    HANDLE thread = CreateThread(nullptr, 0, StaticThreadProc, stream, 0, nullptr);
    if (!thread) {
        stream->release(); // the thread's reference
        stream->release(); // ours
        return false;
    }
    pStream = stream;
    hThread = thread;
    state = DeviceRunning;
    return true;
}

bool CWasapiAudioDevice::stop()
{
    if (!hThread) {
        if (state == DeviceRunning || state == DeviceRenderRefused)
            state = DevicePrepared;
        return true;
    }
    // No call into the provider begins from now on; the one in progress may finish.
    pStream->shared.gate.close();
    pStream->shared.stopRequested.store(true, std::memory_order_release);
    SetEvent(hEvent); // wakes a loop that waits for the next period
    // A thread still running after the time-out finishes on its own: it holds its own
    // references and calls the provider no more. The provider learns for itself whether
    // its call is still running (the host keeps the plug-in for it).
    if (WaitForSingleObject(hThread, kStopTimeoutMs) != WAIT_OBJECT_0)
        PomaroApp::DebugLog::Write(L"CWasapiAudioDevice::stop()",
                                   L"the render thread has not ended after 3000 ms", false);
    CloseHandle(hThread);
    hThread = nullptr;
    pStream->release();
    pStream = nullptr;
    state = DevicePrepared;
    return true;
}

DeviceState CWasapiAudioDevice::currentState() const
{
    if (state == DeviceRunning && pStream && pStream->shared.refused.load(std::memory_order_acquire))
        return DeviceRenderRefused;
    return state;
}

bool CWasapiAudioDevice::unprepare()
{
    stop();
    if (pRenderClient) {
        pRenderClient->Release();
        pRenderClient = nullptr;
    }
    if (hEvent) {
        CloseHandle(hEvent);
        hEvent = nullptr;
    }
    sampleRate = RateNone;
    bufferFrames = 0;
    endpointFrames = 0;
    pProvider = nullptr;
    if (state != DeviceClosed)
        state = DeviceOpen;
    return true;
}

bool CWasapiAudioDevice::close()
{
    unprepare();
    sampleFormat = SampleFormatUnknown;
    supportedRates = 0;
    if (pAudioClient) {
        pAudioClient->Release();
        pAudioClient = nullptr;
    }
    state = DeviceClosed;
    return true;
}

DWORD WINAPI CWasapiAudioDevice::StaticThreadProc(LPVOID param)
{
    auto* stream = static_cast<WasapiRenderStream*>(param);
    if (!stream)
        return 0;
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE))) {
        try {
            stream->render();
        } catch (const std::exception& e) {
            std::wstring message;
            for (const char* c = e.what(); *c; ++c)
                message.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
            logThreadException(message.c_str());
        } catch (...) {
            logThreadException(L"Unknown exception");
        }
        CoUninitialize();
    }
    stream->release();
    return 0;
}

} // namespace Kelvane
