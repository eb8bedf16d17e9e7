// IAudioClient of a test endpoint: exclusive, event-driven streams, with a clock thread
// that plays the part of the hardware and records what the client released.
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/WavFile.h"
#include "testdrivers/endpoint/Endpoint.h"
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace PomaroTestEndpoint {

namespace {

constexpr int64_t kHnsPerSecond = 10000000;
constexpr int64_t kMaxBufferDuration = 20000000; // longer exclusive buffers are refused
// KSDATAFORMAT_SUBTYPE_PCM, spelt out so the DLL needs no import library for it.
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The only format recorded: 16-bit stereo PCM at one of the endpoint's rates.
bool accepted(const EndpointSpec& e, const WAVEFORMATEX& w)
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
// successive streams append to, and the statistics file written when a stream stops.
struct Recorder
{
    std::mutex mutex;
    PomaroTestDrivers::WavFile wav;
    std::wstring path;
    std::atomic<uint64_t> streams{0};
    ULONGLONG lastHeaderMs = 0;

    static Recorder& instance()
    {
        static Recorder r;
        return r;
    }
    void begin(const std::wstring& wavPath, uint32_t rate)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++streams;
        // The first stream of this process (or of a new path) starts the file afresh.
        if (wavPath.empty() || wavPath != path || !wav.isOpen()) {
            wav.close();
            path = wavPath;
            if (!wavPath.empty())
                wav.attach(_wfopen(wavPath.c_str(), L"wb"), PomaroTestDrivers::WavSamples::Int16, rate);
        }
        lastHeaderMs = GetTickCount64();
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
    void end(const std::wstring& statsPath, const std::string& stats)
    {
        std::lock_guard<std::mutex> lock(mutex);
        wav.updateHeader();
        if (std::FILE* f = statsPath.empty() ? nullptr : _wfopen(statsPath.c_str(), L"wb")) {
            const std::string text = stats + "streams=" + std::to_string(streams.load()) + "\n";
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
};

// Single-producer single-consumer ring of stereo frames: the client's thread releases
// rendered frames into it, the clock thread drains them to disk. Lock-free, so that
// recording never disturbs the client's timing.
class FrameRing
{
public:
    void reset(uint32_t minCapacity) // not while a producer or consumer is active
    {
        uint32_t cap = 1;
        while (cap < minCapacity)
            cap <<= 1;
        buf_.assign(cap, 0);
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_relaxed);
    }
    // Producer: n frames (null: silence); returns how many fit.
    uint32_t push(const int16_t* frames, uint32_t n)
    {
        const uint64_t h = head_.load(std::memory_order_relaxed);
        const uint32_t k =
            std::min<uint32_t>(n, uint32_t(buf_.size() - (h - tail_.load(std::memory_order_acquire))));
        for (uint32_t i = 0; i < k; ++i) {
            uint32_t v = 0;
            if (frames)
                std::memcpy(&v, frames + 2 * size_t(i), sizeof v);
            buf_[(h + i) & (buf_.size() - 1)] = v;
        }
        head_.store(h + k, std::memory_order_release);
        return k;
    }
    // Consumer: up to max frames into out; returns how many.
    uint32_t pop(int16_t* out, uint32_t max)
    {
        const uint64_t t = tail_.load(std::memory_order_relaxed);
        const uint32_t k = uint32_t(std::min<uint64_t>(head_.load(std::memory_order_acquire) - t, max));
        for (uint32_t i = 0; i < k; ++i)
            std::memcpy(out + 2 * size_t(i), &buf_[(t + i) & (buf_.size() - 1)], sizeof(uint32_t));
        tail_.store(t + k, std::memory_order_release);
        return k;
    }

private:
    std::vector<uint32_t> buf_ = std::vector<uint32_t>(1); // left in the low half, right in the high
    std::atomic<uint64_t> head_{0}, tail_{0};              // frames written, frames read
};

class AudioClient final : public PomaroTestDrivers::ComObject<IAudioClient, IPomaroEndpointStats>
{
public:
    AudioClient(std::shared_ptr<EndpointModel> model, size_t index)
        : model_(std::move(model)), spec_(model_->endpoints[index]), faults_(*spec_.faults),
          stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {}
    ~AudioClient() override
    {
        {
            std::lock_guard<std::mutex> lock(control_);
            // A client released while streaming: the stream ends here, as it would on the system.
            if (running_)
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
        if (!format)
            return E_POINTER;
        if (init_.load(std::memory_order_relaxed) != NotInitialized)
            return misuse(AUDCLNT_E_ALREADY_INITIALIZED);
        if ((mode != AUDCLNT_SHAREMODE_EXCLUSIVE && mode != AUDCLNT_SHAREMODE_SHARED) || duration < 0 ||
            periodicity < 0)
            return E_INVALIDARG;
        // Only what a low-latency client asks for: an exclusive, event-driven stream.
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) ||
            !accepted(spec_, *format))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        if (duration == 0)
            duration = spec_.defaultPeriod;
        if (periodicity != duration)
            return misuse(AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL);
        if (duration > kMaxBufferDuration)
            return AUDCLNT_E_BUFFER_SIZE_ERROR;
        if (periodicity < spec_.minPeriod)
            return AUDCLNT_E_INVALID_DEVICE_PERIOD;
        const uint32_t rate = format->nSamplesPerSec;
        const uint32_t asked = uint32_t((duration * rate + kHnsPerSecond / 2) / kHnsPerSecond);
        if (spec_.notAlignedRequest != 0 && asked == spec_.notAlignedRequest) {
            alignedFrames_ = spec_.notAlignedAnswer;
            init_.store(NotAligned, std::memory_order_release);
            return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        }
        if (spec_.alignFrames > 1 && asked % spec_.alignFrames != 0) {
            // The next larger aligned size, as the system's endpoints answer.
            alignedFrames_ = (asked / spec_.alignFrames + 1) * spec_.alignFrames;
            init_.store(NotAligned, std::memory_order_release);
            return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        }
        if (asked == 0)
            return AUDCLNT_E_BUFFER_SIZE_ERROR;
        rate_ = rate;
        bufferFrames_ = asked + spec_.extraFrames;
        // The whole buffer goes to the hardware every period.
        tickHns_ = (int64_t(bufferFrames_) * kHnsPerSecond + rate / 2) / rate;
        buffer_.assign(size_t(bufferFrames_) * 2, 0);
        scratch_.assign(size_t(std::min<uint32_t>(bufferFrames_, 4096)) * 2, 0);
        // One second or several buffers of recording slack, whichever is more.
        ring_.reset(std::max<uint32_t>(rate, bufferFrames_ * 8));
        init_.store(Ready, std::memory_order_release);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override
    {
        if (!frames)
            return E_POINTER;
        if (HRESULT hr = faults_.onCall(Call::GetBufferSize))
            return hr;
        std::lock_guard<std::mutex> lock(control_);
        const int state = init_.load(std::memory_order_acquire);
        if (state == NotInitialized)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        *frames = state == NotAligned ? alignedFrames_ : bufferFrames_;
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
        if (!format)
            return E_POINTER;
        if (HRESULT hr = faults_.onCall(Call::IsFormatSupported))
            return hr;
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE)
            return E_NOTIMPL;
        return accepted(spec_, *format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }

    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                              REFERENCE_TIME* minimumPeriod) override
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

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = readyFor(Call::SetEventHandle))
            return hr;
        if (!event || event == INVALID_HANDLE_VALUE)
            return E_INVALIDARG;
        if (running_)
            return misuse(AUDCLNT_E_NOT_STOPPED);
        clientEvent_ = event;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE Start() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = readyFor(Call::Start))
            return hr;
        if (running_)
            return misuse(AUDCLNT_E_NOT_STOPPED);
        if (!clientEvent_)
            return misuse(AUDCLNT_E_EVENTHANDLE_NOT_SET);
        if (!stopEvent_)
            return E_OUTOFMEMORY;
        Recorder::instance().begin(model_->wavPath, rate_);
        stopRequested_.store(false, std::memory_order_relaxed);
        ResetEvent(stopEvent_);
        periods_ = late_ = endpointLate_ = 0;
        // The hardware starts now, however long its clock thread takes to get going.
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        clock_ = std::thread([this, start] { clockLoop(start.QuadPart); });
        running_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = readyFor(Call::Stop))
            return hr;
        if (!running_)
            return S_FALSE;
        endStream();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStats(PomaroEndpointStats* s) override
    {
        if (!s)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(control_);
        *s = {periods_.load(),
              late_.load(),
              endpointLate_.load(),
              released_.load(),
              dropped_.load(),
              misuse_.load(),
              Recorder::instance().streams.load(),
              rate_,
              bufferFrames_};
        return S_OK;
    }

    // IAudioRenderClient's two calls, made on the client's render thread: lock-free.
    HRESULT getBuffer(UINT32 frames, BYTE** data)
    {
        if (!data)
            return E_POINTER;
        *data = nullptr;
        if (HRESULT hr = readyFor(Call::GetBuffer))
            return hr;
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

    HRESULT releaseBuffer(UINT32 frames, DWORD flags)
    {
        if (HRESULT hr = faults_.onCall(Call::ReleaseBuffer))
            return hr;
        const uint32_t got = outstanding_.load(std::memory_order_acquire);
        if (got == kNoBuffer)
            return frames == 0 ? S_OK : misuse(AUDCLNT_E_OUT_OF_ORDER);
        if (frames > got) {
            outstanding_.store(kNoBuffer, std::memory_order_release);
            return misuse(AUDCLNT_E_INVALID_SIZE);
        }
        if (flags & ~DWORD(AUDCLNT_BUFFERFLAGS_SILENT))
            return misuse(E_INVALIDARG);
        if (frames > 0) {
            const bool silent = flags & AUDCLNT_BUFFERFLAGS_SILENT;
            dropped_.fetch_add(frames - ring_.push(silent ? nullptr : buffer_.data(), frames),
                               std::memory_order_relaxed);
            released_.fetch_add(frames, std::memory_order_release);
            releases_.fetch_add(1, std::memory_order_release);
        }
        outstanding_.store(kNoBuffer, std::memory_order_release);
        return S_OK;
    }

private:
    enum InitState : int
    {
        NotInitialized,
        NotAligned,
        Ready
    };
    static constexpr uint32_t kNoBuffer = 0xFFFFFFFFu;

    // The injected failure of call, else whether the stream is initialised for it.
    HRESULT readyFor(Call call)
    {
        if (HRESULT hr = faults_.onCall(call))
            return hr;
        return init_.load(std::memory_order_acquire) == Ready ? S_OK : misuse(AUDCLNT_E_NOT_INITIALIZED);
    }
    HRESULT misuse(HRESULT hr)
    {
        misuse_.fetch_add(1, std::memory_order_relaxed);
        return hr;
    }

    void drainToRecorder()
    {
        while (uint32_t n = ring_.pop(scratch_.data(), uint32_t(scratch_.size() / 2)))
            Recorder::instance().append(scratch_.data(), n);
    }

    // Stops the clock; what the client released is on record even if the hardware never reached it.
    void endStream()
    {
        stopRequested_.store(true, std::memory_order_release);
        SetEvent(stopEvent_);
        if (clock_.joinable())
            clock_.join();
        running_ = false;
        drainToRecorder();
        using Line = std::pair<const char*, uint64_t>;
        const Line lines[] = {{"sample_rate", rate_},
                              {"buffer_frames", bufferFrames_},
                              {"periods", periods_.load()},
                              {"late_periods", late_.load()},
                              {"endpoint_late_periods", endpointLate_.load()},
                              {"frames", released_.load()},
                              {"dropped_frames", dropped_.load()},
                              {"misuse", misuse_.load()}};
        std::string t;
        for (const Line& l : lines)
            t += std::string(l.first) + "=" + std::to_string(l.second) + "\n";
        Recorder::instance().end(model_->statsPath, t);
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
            drainToRecorder();
            ++index;
        }
    }

    std::shared_ptr<EndpointModel> model_;
    const EndpointSpec& spec_;
    FaultPlan& faults_;

    std::mutex control_; // serialises the control calls, never the render calls
    std::atomic<int> init_{NotInitialized};
    uint32_t rate_ = 0, bufferFrames_ = 0;
    uint32_t alignedFrames_ = 0; // the answer after AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
    int64_t tickHns_ = 0;
    HANDLE clientEvent_ = nullptr; // not owned
    std::vector<int16_t> buffer_, scratch_;
    FrameRing ring_;

    std::atomic<uint32_t> outstanding_{kNoBuffer};
    std::atomic<uint64_t> released_{0}, releases_{0}; // frames, non-empty ReleaseBuffer calls
    std::atomic<uint64_t> dropped_{0}, misuse_{0};
    std::atomic<uint64_t> periods_{0}, late_{0}, endpointLate_{0};

    bool running_ = false;
    std::atomic<bool> stopRequested_{false};
    HANDLE stopEvent_; // owned; wakes the clock thread
    std::thread clock_;
};

class RenderClient final : public PomaroTestDrivers::ComObject<IAudioRenderClient>
{
public:
    explicit RenderClient(AudioClient* client) : client_(client) { client_->AddRef(); }
    ~RenderClient() override { client_->Release(); }
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override
    {
        return client_->getBuffer(frames, data);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override
    {
        return client_->releaseBuffer(frames, flags);
    }

private:
    AudioClient* client_;
};

HRESULT AudioClient::GetService(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = readyFor(Call::GetService))
        return hr;
    if (riid != __uuidof(IAudioRenderClient))
        return E_NOINTERFACE;
    *ppv = static_cast<IAudioRenderClient*>(new RenderClient(this));
    return S_OK;
}

} // namespace

IAudioClient* newAudioClient(std::shared_ptr<EndpointModel> model, size_t index)
{
    return new AudioClient(std::move(model), index);
}

} // namespace PomaroTestEndpoint
