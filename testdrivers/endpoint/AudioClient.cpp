// IAudioClient of a test endpoint: exclusive, event-driven streams, with a clock thread
// that plays the part of the hardware, and a recording of what the client released.
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/WavFile.h"
#include "testdrivers/endpoint/Endpoint.h"
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace PomaroTestEndpoint {

namespace {

constexpr int64_t kHnsPerSecond = 10000000;
constexpr int64_t kMaxBufferDuration = 20000000; // longer exclusive buffers are refused
// KSDATAFORMAT_SUBTYPE_PCM, spelt out so the DLL needs no import library for it.
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The only format recorded: 16-bit stereo PCM at one of the endpoint's rates.
bool accepted(const EndpointSetup& e, const WAVEFORMATEX& w)
{
    const bool pcm = w.wFormatTag == WAVE_FORMAT_PCM ||
                     (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE && w.cbSize >= 22 &&
                      reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w).SubFormat == kSubtypePcm &&
                      reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w).Samples.wValidBitsPerSample == 16);
    return pcm && w.nChannels == 2 && w.wBitsPerSample == 16 && w.nBlockAlign == 4 &&
           w.nAvgBytesPerSec == w.nSamplesPerSec * 4u &&
           std::find(e.rates.begin(), e.rates.end(), w.nSamplesPerSec) != e.rates.end();
}

// The process's recording of everything its clients rendered: one WAV file that
// successive streams append to, and the counters file written when a stream stops.
struct Recorder
{
    std::mutex mutex;
    PomaroTestDrivers::WavFile wav;
    std::wstring path;
    ULONGLONG lastHeaderMs = 0;

    static Recorder& instance()
    {
        static Recorder r;
        return r;
    }
    void begin(const std::wstring& wavPath, uint32_t rate)
    {
        std::lock_guard<std::mutex> lock(mutex);
        // The first stream of this process (or of a new path) starts the file afresh.
        if (wavPath != path || !wav.isOpen()) {
            wav.close();
            path = wavPath;
            std::FILE* f = wavPath.empty() ? nullptr : _wfopen(wavPath.c_str(), L"wb");
            if (f)
                std::setvbuf(f, nullptr, _IOFBF, 1 << 16); // few writes on the client's render thread
            wav.attach(f, PomaroTestDrivers::WavSamples::Int16, rate);
        }
    }
    void append(const int16_t* frames, uint32_t n)
    {
        std::lock_guard<std::mutex> lock(mutex);
        // The header follows about ten times a second, so a reader never waits for the end.
        if (wav.append(frames, n) && GetTickCount64() - lastHeaderMs >= 100) {
            wav.updateHeader();
            lastHeaderMs = GetTickCount64();
        }
    }
    void end(const std::string& counters)
    {
        std::lock_guard<std::mutex> lock(mutex);
        wav.updateHeader();
        if (std::FILE* f = path.empty() ? nullptr : _wfopen((path + L".stats.txt").c_str(), L"wb")) {
            std::fwrite(counters.data(), 1, counters.size(), f);
            std::fclose(f);
        }
    }
};

class AudioClient final
    : public PomaroTestDrivers::ComObject<IAudioClient, IAudioRenderClient, IPomaroEndpointStats>
{
public:
    AudioClient(std::shared_ptr<EndpointModel> model, size_t index)
        : model_(std::move(model)), setup_(model_->endpoints[index]), faults_(*setup_.faults),
          stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {}
    ~AudioClient() override
    {
        {
            std::lock_guard<std::mutex> lock(control_);
            // A client released while streaming: the stream ends here, as it would on the system.
            if (clock_.joinable())
                endStream();
        }
        if (stopEvent_)
            CloseHandle(stopEvent_);
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = faults_.onCall(Call::Initialize))
            return hr;
        if (init_ != NotInitialized)
            return misuse(AUDCLNT_E_ALREADY_INITIALIZED);
        // Only what a low-latency client asks for: an exclusive, event-driven stream.
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) ||
            !accepted(setup_, *format))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        if (duration == 0)
            duration = setup_.defaultPeriod;
        if (periodicity != duration)
            return misuse(AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL);
        if (duration < 0 || duration > kMaxBufferDuration)
            return AUDCLNT_E_BUFFER_SIZE_ERROR;
        if (periodicity < setup_.minPeriod)
            return AUDCLNT_E_INVALID_DEVICE_PERIOD;
        const uint32_t rate = format->nSamplesPerSec;
        const uint32_t asked = uint32_t((duration * rate + kHnsPerSecond / 2) / kHnsPerSecond);
        // Refused sizes answer with the next larger aligned size, as the system's endpoints do.
        const uint32_t align = std::max<uint32_t>(setup_.alignFrames, 1);
        alignedFrames_ =
            asked == setup_.notAlignedRequest ? setup_.notAlignedAnswer : (asked + align - 1) / align * align;
        if (alignedFrames_ != asked) {
            init_ = NotAligned;
            return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        }
        if (asked == 0)
            return AUDCLNT_E_BUFFER_SIZE_ERROR;
        rate_ = rate;
        bufferFrames_ = asked + setup_.extraFrames;
        // The whole buffer goes to the hardware every period.
        tickHns_ = (int64_t(bufferFrames_) * kHnsPerSecond + rate / 2) / rate;
        buffer_.assign(size_t(bufferFrames_) * 2, 0);
        Recorder::instance().begin(model_->wavPath, rate); // before the pre-roll
        init_ = Ready;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (init_ == NotInitialized)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        *frames = init_ == NotAligned ? alignedFrames_ : bufferFrames_;
        return S_OK;
    }

    // Calls no client of this endpoint makes.
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override
    {
        if (format)
            *format = nullptr;
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override
    {
        if (closest)
            *closest = nullptr;
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE)
            return E_NOTIMPL;
        return accepted(setup_, *format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }

    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                              REFERENCE_TIME* minimumPeriod) override
    {
        if (HRESULT hr = faults_.onCall(Call::GetDevicePeriod))
            return hr;
        if (defaultPeriod)
            *defaultPeriod = setup_.defaultPeriod;
        if (minimumPeriod)
            *minimumPeriod = setup_.minPeriod;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (!event || event == INVALID_HANDLE_VALUE)
            return E_INVALIDARG;
        if (HRESULT hr = ready(!clock_.joinable()))
            return hr;
        clientEvent_ = event;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE Start() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = ready(!clock_.joinable()))
            return hr;
        if (!clientEvent_)
            return misuse(AUDCLNT_E_EVENTHANDLE_NOT_SET);
        if (!stopEvent_)
            return E_OUTOFMEMORY;
        stopRequested_.store(false, std::memory_order_relaxed);
        ResetEvent(stopEvent_);
        periods_ = late_ = endpointLate_ = 0;
        // The hardware starts now, however long its clock thread takes to get going.
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        clock_ = std::thread([this, start] { clockLoop(start.QuadPart); });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = ready(true))
            return hr;
        if (!clock_.joinable())
            return S_FALSE;
        endStream();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStats(PomaroEndpointStats* s) override
    {
        *s = {periods_.load(), late_.load(), endpointLate_.load(), released_.load()};
        return S_OK;
    }

    // IAudioRenderClient's two calls, made on the client's render thread.
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override
    {
        *data = nullptr;
        if (HRESULT hr = faults_.onCall(Call::GetBuffer))
            return hr;
        if (init_ != Ready)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        if (outstanding_.load(std::memory_order_acquire) != kNoBuffer)
            return misuse(AUDCLNT_E_OUT_OF_ORDER);
        if (frames > bufferFrames_)
            return misuse(AUDCLNT_E_BUFFER_TOO_LARGE);
        if (frames == 0)
            return S_OK;
        outstanding_.store(frames, std::memory_order_release);
        *data = reinterpret_cast<BYTE*>(buffer_.data());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override
    {
        if (HRESULT hr = faults_.onCall(Call::ReleaseBuffer))
            return hr;
        const uint32_t got = outstanding_.exchange(kNoBuffer, std::memory_order_acq_rel);
        if (got == kNoBuffer)
            return frames == 0 ? S_OK : misuse(AUDCLNT_E_OUT_OF_ORDER);
        if (frames > got)
            return misuse(AUDCLNT_E_INVALID_SIZE);
        if (flags & ~DWORD(AUDCLNT_BUFFERFLAGS_SILENT))
            return misuse(E_INVALIDARG);
        if (frames > 0) {
            if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
                std::fill_n(buffer_.begin(), size_t(frames) * 2, int16_t(0));
            Recorder::instance().append(buffer_.data(), frames);
            released_.fetch_add(frames, std::memory_order_relaxed);
            releases_.fetch_add(1, std::memory_order_release);
        }
        return S_OK;
    }

private:
    enum InitState
    {
        NotInitialized,
        NotAligned,
        Ready
    };
    static constexpr uint32_t kNoBuffer = 0xFFFFFFFFu;

    // Whether the stream is initialised, and stopped where the call needs it.
    HRESULT ready(bool inOrder)
    {
        if (init_ != Ready)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        return inOrder ? S_OK : misuse(AUDCLNT_E_NOT_STOPPED);
    }
    HRESULT misuse(HRESULT hr)
    {
        misuse_.fetch_add(1, std::memory_order_relaxed);
        return hr;
    }

    // Stops the clock; everything the client released is on record.
    void endStream()
    {
        stopRequested_.store(true, std::memory_order_release);
        SetEvent(stopEvent_);
        clock_.join();
        const std::pair<const char*, uint64_t> counters[] = {{"sample_rate", rate_},
                                                             {"buffer_frames", bufferFrames_},
                                                             {"periods", periods_.load()},
                                                             {"late_periods", late_.load()},
                                                             {"endpoint_late_periods", endpointLate_.load()},
                                                             {"frames", released_.load()},
                                                             {"misuse", misuse_.load()}};
        std::string text;
        for (const auto& [name, value] : counters)
            text += std::string(name) + "=" + std::to_string(value) + "\n";
        Recorder::instance().end(text);
    }

    // Due times come from the start and the period index, so rounding never accumulates.
    // A period is late when its event falls due again before the client released a
    // buffer for the previous one; handled more than half a period after it fell due,
    // it is the endpoint's own lateness, not the client's.
    void clockLoop(int64_t startTicks)
    {
        // The hardware's clock must not wait behind the threads it paces.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        LARGE_INTEGER freq, now;
        QueryPerformanceFrequency(&freq);
        const double periodTicks = double(tickHns_) * double(freq.QuadPart) / 1e7;
        const int64_t ticksPerMs = std::max<int64_t>(freq.QuadPart / 1000, 1);
        uint64_t releasesAtLastTick = 0;
        for (uint64_t index = 1; !stopRequested_.load(std::memory_order_acquire);) {
            QueryPerformanceCounter(&now);
            const int64_t due = startTicks + int64_t(std::llround(double(index) * periodTicks));
            if (due > now.QuadPart) {
                // Wake on time or at once when the stream stops.
                WaitForSingleObject(stopEvent_, DWORD((due - now.QuadPart + ticksPerMs - 1) / ticksPerMs));
                continue;
            }
            const uint64_t releases = releases_.load(std::memory_order_acquire);
            if (periods_.load(std::memory_order_relaxed) > 0 && releases == releasesAtLastTick)
                (now.QuadPart - due > int64_t(periodTicks / 2) ? endpointLate_ : late_)++;
            releasesAtLastTick = releases;
            periods_++;
            SetEvent(clientEvent_);
            ++index;
        }
    }

    std::shared_ptr<EndpointModel> model_;
    const EndpointSetup& setup_;
    FaultPlan& faults_;

    std::mutex control_; // serialises the control calls, never the render calls
    std::atomic<InitState> init_{NotInitialized};
    uint32_t rate_ = 0, bufferFrames_ = 0;
    uint32_t alignedFrames_ = 0; // the answer after AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
    int64_t tickHns_ = 0;
    HANDLE clientEvent_ = nullptr; // not owned
    std::vector<int16_t> buffer_;

    std::atomic<uint32_t> outstanding_{kNoBuffer};
    std::atomic<uint64_t> released_{0}, releases_{0}; // frames, non-empty ReleaseBuffer calls
    std::atomic<uint64_t> misuse_{0}, periods_{0}, late_{0}, endpointLate_{0};

    std::atomic<bool> stopRequested_{false};
    HANDLE stopEvent_; // owned; wakes the clock thread
    std::thread clock_;
};

HRESULT AudioClient::GetService(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (HRESULT hr = ready(true))
        return hr;
    // The render client is this object's second face: it lives as long as either is held.
    return riid == __uuidof(IAudioRenderClient) ? QueryInterface(riid, ppv) : E_NOINTERFACE;
}

} // namespace

IAudioClient* newAudioClient(std::shared_ptr<EndpointModel> model, size_t index)
{
    return new AudioClient(std::move(model), index);
}

} // namespace PomaroTestEndpoint
