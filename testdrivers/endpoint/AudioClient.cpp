#include "testdrivers/endpoint/AudioClient.h"

#include "testdrivers/endpoint/PeriodClock.h"
#include "testdrivers/endpoint/Recorder.h"
#include "testdrivers/endpoint/StreamRules.h"

#include <mmreg.h>

#include <algorithm>
#include <cstring>

namespace PomaroTestEndpoint {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM, spelt out so the DLL needs no import library for it.
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

FormatDesc describe(const WAVEFORMATEX& w)
{
    FormatDesc d;
    d.tag = w.wFormatTag;
    d.channels = w.nChannels;
    d.rate = w.nSamplesPerSec;
    d.avgBytes = w.nAvgBytesPerSec;
    d.blockAlign = w.nBlockAlign;
    d.bits = w.wBitsPerSample;
    if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE && w.cbSize >= 22) {
        const auto& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w);
        d.extensiblePcm = x.SubFormat == kSubtypePcm && x.Samples.wValidBitsPerSample == 16;
    }
    return d;
}

} // namespace

AudioClient::AudioClient(std::shared_ptr<EndpointModel> model, size_t index)
    : model_(std::move(model)), index_(index), spec_(model_->spec(index)), faults_(*model_->faults[index])
{
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

AudioClient::~AudioClient()
{
    {
        std::lock_guard<std::mutex> lock(control_);
        if (running_) {
            // A client released while streaming: the stream ends here, as it would on the system.
            stopClock();
            drainToRecorder();
            Recorder::instance().endStream(model_->statsPath, snapshot());
        }
    }
    if (stopEvent_)
        CloseHandle(stopEvent_);
}

HRESULT AudioClient::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IAudioClient)) {
        *ppv = static_cast<IAudioClient*>(this);
    } else if (riid == __uuidof(IPomaroEndpointStats)) {
        *ppv = static_cast<IPomaroEndpointStats*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT AudioClient::misuse(HRESULT hr)
{
    misuse_.fetch_add(1, std::memory_order_relaxed);
    return hr;
}

HRESULT AudioClient::Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID)
{
    std::lock_guard<std::mutex> lock(control_);
    if (HRESULT hr = faults_.onCall(Call::Initialize))
        return hr;
    if (!format)
        return E_POINTER;
    if (init_.load(std::memory_order_relaxed) != NotInitialized)
        return misuse(AUDCLNT_E_ALREADY_INITIALIZED);
    if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE && mode != AUDCLNT_SHAREMODE_SHARED)
        return E_INVALIDARG;
    if (duration < 0 || periodicity < 0)
        return E_INVALIDARG;
    const FormatDesc f = describe(*format);
    // Only what a low-latency client asks for: an exclusive, event-driven stream.
    if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK))
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (!isExclusiveFormatAccepted(spec_, f))
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (duration == 0)
        duration = spec_.defaultPeriod;
    if (periodicity != duration)
        return misuse(AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL);
    if (duration > kMaxBufferDuration)
        return AUDCLNT_E_BUFFER_SIZE_ERROR;
    if (periodicity < spec_.minPeriod)
        return AUDCLNT_E_INVALID_DEVICE_PERIOD;
    SizeDecision d = decideExclusiveSize(spec_, framesForDuration(duration, f.rate));
    if (!d.aligned) {
        alignedFrames_ = d.frames;
        init_.store(NotAligned, std::memory_order_release);
        return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
    }
    const uint32_t bufferFrames = d.frames;
    if (bufferFrames == 0)
        return AUDCLNT_E_BUFFER_SIZE_ERROR;
    rate_ = f.rate;
    bufferFrames_ = bufferFrames;
    // The whole buffer goes to the hardware every period.
    tickHns_ = durationForFrames(bufferFrames, f.rate);
    buffer_.assign(size_t(bufferFrames) * 2, 0);
    scratch_.assign(size_t(std::min<uint32_t>(bufferFrames, 4096)) * 2, 0);
    // One second or several buffers of recording slack, whichever is more.
    ring_.reset(std::max<uint32_t>(f.rate, bufferFrames * 8));
    init_.store(Ready, std::memory_order_release);
    return S_OK;
}

HRESULT AudioClient::GetBufferSize(UINT32* frames)
{
    if (!frames)
        return E_POINTER;
    if (HRESULT hr = faults_.onCall(Call::GetBufferSize))
        return hr;
    std::lock_guard<std::mutex> lock(control_);
    switch (init_.load(std::memory_order_acquire)) {
    case NotAligned:
        *frames = alignedFrames_;
        return S_OK;
    case Ready:
        *frames = bufferFrames_;
        return S_OK;
    default:
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    }
}

// Calls no client of this endpoint makes.
HRESULT AudioClient::GetStreamLatency(REFERENCE_TIME*) { return E_NOTIMPL; }
HRESULT AudioClient::GetCurrentPadding(UINT32*) { return E_NOTIMPL; }
HRESULT AudioClient::GetMixFormat(WAVEFORMATEX** format)
{
    if (format)
        *format = nullptr;
    return E_NOTIMPL;
}
HRESULT AudioClient::Reset() { return E_NOTIMPL; }

HRESULT AudioClient::IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                       WAVEFORMATEX** closest)
{
    if (closest)
        *closest = nullptr;
    if (!format)
        return E_POINTER;
    if (HRESULT hr = faults_.onCall(Call::IsFormatSupported))
        return hr;
    if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE)
        return E_NOTIMPL;
    return isExclusiveFormatAccepted(spec_, describe(*format)) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
}

HRESULT AudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod)
{
    if (!defaultPeriod && !minimumPeriod)
        return E_POINTER;
    if (HRESULT hr = faults_.onCall(Call::GetDevicePeriod))
        return hr;
    if (defaultPeriod)
        *defaultPeriod = spec_.defaultPeriod;
    if (minimumPeriod)
        *minimumPeriod = spec_.minPeriod;
    return S_OK;
}

HRESULT AudioClient::SetEventHandle(HANDLE event)
{
    if (HRESULT hr = faults_.onCall(Call::SetEventHandle))
        return hr;
    std::lock_guard<std::mutex> lock(control_);
    if (init_.load(std::memory_order_acquire) != Ready)
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    if (!event || event == INVALID_HANDLE_VALUE)
        return E_INVALIDARG;
    if (running_)
        return misuse(AUDCLNT_E_NOT_STOPPED);
    clientEvent_ = event;
    return S_OK;
}

HRESULT AudioClient::GetService(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = faults_.onCall(Call::GetService))
        return hr;
    if (init_.load(std::memory_order_acquire) != Ready)
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    if (riid != __uuidof(IAudioRenderClient))
        return E_NOINTERFACE;
    *ppv = static_cast<IAudioRenderClient*>(new RenderClient(this));
    return S_OK;
}

HRESULT AudioClient::Start()
{
    std::lock_guard<std::mutex> lock(control_);
    if (HRESULT hr = faults_.onCall(Call::Start))
        return hr;
    if (init_.load(std::memory_order_acquire) != Ready)
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    if (running_)
        return misuse(AUDCLNT_E_NOT_STOPPED);
    if (!clientEvent_)
        return misuse(AUDCLNT_E_EVENTHANDLE_NOT_SET);
    if (!stopEvent_)
        return E_OUTOFMEMORY;
    Recorder::instance().beginStream(model_->wavPath, rate_);
    stopRequested_.store(false, std::memory_order_relaxed);
    ResetEvent(stopEvent_);
    periods_.store(0, std::memory_order_relaxed);
    late_.store(0, std::memory_order_relaxed);
    endpointLate_.store(0, std::memory_order_relaxed);
    // The hardware starts now, however long its clock thread takes to get going.
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    clock_ = std::thread([this, start] { clockLoop(start.QuadPart); });
    running_ = true;
    return S_OK;
}

void AudioClient::stopClock()
{
    stopRequested_.store(true, std::memory_order_release);
    SetEvent(stopEvent_);
    if (clock_.joinable())
        clock_.join();
    running_ = false;
}

HRESULT AudioClient::Stop()
{
    std::lock_guard<std::mutex> lock(control_);
    if (HRESULT hr = faults_.onCall(Call::Stop))
        return hr;
    if (init_.load(std::memory_order_acquire) != Ready)
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    if (!running_)
        return S_FALSE;
    stopClock();
    // What the client released is on record even if the hardware never reached it.
    drainToRecorder();
    Recorder::instance().endStream(model_->statsPath, snapshot());
    return S_OK;
}

HRESULT AudioClient::getBuffer(UINT32 frames, BYTE** data)
{
    if (!data)
        return E_POINTER;
    *data = nullptr;
    if (HRESULT hr = faults_.onCall(Call::GetBuffer))
        return hr;
    if (init_.load(std::memory_order_acquire) != Ready)
        return misuse(AUDCLNT_E_NOT_INITIALIZED);
    if (outstanding_.load(std::memory_order_acquire) != kNoBuffer)
        return misuse(AUDCLNT_E_OUT_OF_ORDER);
    if (frames == 0)
        return S_OK;
    if (frames > bufferFrames_)
        return misuse(AUDCLNT_E_BUFFER_TOO_LARGE);
    outstanding_.store(frames, std::memory_order_release);
    *data = reinterpret_cast<BYTE*>(buffer_.data());
    return S_OK;
}

HRESULT AudioClient::releaseBuffer(UINT32 frames, DWORD flags)
{
    if (HRESULT hr = faults_.onCall(Call::ReleaseBuffer))
        return hr;
    uint32_t got = outstanding_.load(std::memory_order_acquire);
    if (got == kNoBuffer)
        return frames == 0 ? S_OK : misuse(AUDCLNT_E_OUT_OF_ORDER);
    if (frames > got) {
        outstanding_.store(kNoBuffer, std::memory_order_release);
        return misuse(AUDCLNT_E_INVALID_SIZE);
    }
    if (flags & ~DWORD(AUDCLNT_BUFFERFLAGS_SILENT))
        return misuse(E_INVALIDARG);
    if (frames > 0) {
        uint32_t kept = (flags & AUDCLNT_BUFFERFLAGS_SILENT) ? ring_.pushSilence(frames)
                                                             : ring_.push(buffer_.data(), frames);
        if (kept < frames)
            dropped_.fetch_add(frames - kept, std::memory_order_relaxed);
        released_.fetch_add(frames, std::memory_order_release);
        releases_.fetch_add(1, std::memory_order_release);
    }
    outstanding_.store(kNoBuffer, std::memory_order_release);
    return S_OK;
}

void AudioClient::drainToRecorder()
{
    Recorder& rec = Recorder::instance();
    while (uint32_t n = ring_.pop(scratch_.data(), uint32_t(scratch_.size() / 2)))
        rec.append(scratch_.data(), n);
}

void AudioClient::clockLoop(int64_t startTicks)
{
    // The hardware's clock must not wait behind the threads it paces.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    PeriodSchedule schedule(startTicks, tickHns_, freq.QuadPart);
    const int64_t halfPeriod = int64_t(schedule.periodTicks() / 2);
    LateTracker tracker;
    uint64_t index = 1;
    while (!stopRequested_.load(std::memory_order_acquire)) {
        QueryPerformanceCounter(&now);
        if (uint32_t ms = schedule.waitMs(now.QuadPart, index)) {
            // Wake on time or at once when the stream stops; due times never drift.
            WaitForSingleObject(stopEvent_, ms);
            continue;
        }
        bool tickLate = now.QuadPart - schedule.due(index) > halfPeriod;
        tracker.onTick(releases_.load(std::memory_order_acquire), tickLate);
        const PeriodCounts& c = tracker.counts();
        periods_.store(c.periods, std::memory_order_relaxed);
        late_.store(c.late, std::memory_order_relaxed);
        endpointLate_.store(c.endpointLate, std::memory_order_relaxed);
        SetEvent(clientEvent_);
        drainToRecorder();
        ++index;
    }
}

StreamStats AudioClient::snapshot() const
{
    StreamStats s;
    s.sampleRate = rate_;
    s.bufferFrames = bufferFrames_;
    s.periods = periods_.load(std::memory_order_relaxed);
    s.latePeriods = late_.load(std::memory_order_relaxed);
    s.endpointLatePeriods = endpointLate_.load(std::memory_order_relaxed);
    s.frames = released_.load(std::memory_order_acquire);
    s.droppedFrames = dropped_.load(std::memory_order_relaxed);
    s.misuse = misuse_.load(std::memory_order_relaxed);
    return s;
}

HRESULT AudioClient::GetStats(PomaroEndpointStats* stats)
{
    if (!stats)
        return E_POINTER;
    StreamStats s;
    {
        std::lock_guard<std::mutex> lock(control_);
        s = snapshot();
    }
    stats->periods = s.periods;
    stats->latePeriods = s.latePeriods;
    stats->endpointLatePeriods = s.endpointLatePeriods;
    stats->frames = s.frames;
    stats->droppedFrames = s.droppedFrames;
    stats->misuse = s.misuse;
    stats->streams = Recorder::instance().streams();
    stats->sampleRate = s.sampleRate;
    stats->bufferFrames = s.bufferFrames;
    return S_OK;
}

HRESULT RenderClient::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IAudioRenderClient)) {
        *ppv = static_cast<IAudioRenderClient*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

} // namespace PomaroTestEndpoint
