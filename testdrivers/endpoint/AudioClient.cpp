// IAudioClient of a test endpoint: exclusive, event-driven streams, with a clock thread
// that plays the part of the hardware, and a recording of what the client released.
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/WavFile.h"
#include "testdrivers/endpoint/Endpoint.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

namespace PomaroTestEndpoint {

namespace {

constexpr int64_t kHnsPerSecond = 10000000;

// The only format recorded: 16-bit stereo PCM at one of the endpoint's rates.
bool accepted(const EndpointSetup& e, const WAVEFORMATEX& w)
{
    return w.wFormatTag == WAVE_FORMAT_PCM && w.nChannels == 2 && w.wBitsPerSample == 16 &&
           w.nBlockAlign == 4 && w.nAvgBytesPerSec == w.nSamplesPerSec * 4u &&
           std::find(e.rates.begin(), e.rates.end(), w.nSamplesPerSec) != e.rates.end();
}

// Everything the process's clients rendered: one WAV file that successive streams append
// to (the first stream, or one of a new path, starts it afresh), and each stream's counters.
struct Recorder
{
    std::mutex mutex;
    PomaroTestDrivers::WavFile wav;
    std::wstring path;
    ULONGLONG lastHeaderMs = 0;

    void begin(const std::wstring& wavPath, uint32_t rate)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (wavPath != path || !wav.isOpen()) {
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
            std::fputs(counters.c_str(), f);
            std::fclose(f);
        }
    }
} g_recorder;

class AudioClient final : public PomaroTestDrivers::ComObject<IAudioClient, IAudioRenderClient>
{
public:
    explicit AudioClient(Endpoint e) : e_(std::move(e)) {}
    ~AudioClient() override
    {
        // A client released while streaming: the stream ends here, as it would on the system.
        std::lock_guard<std::mutex> lock(control_);
        if (clock_.joinable())
            endStream();
        CloseHandle(stopEvent_);
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = e_->faults.onCall("Initialize"))
            return hr;
        if (init_ != NotInitialized)
            return misuse(AUDCLNT_E_ALREADY_INITIALIZED);
        // Only what a low-latency client asks for: an exclusive, event-driven stream.
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) ||
            !accepted(*e_, *format))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        duration = duration ? duration : e_->defaultPeriod;
        if (periodicity != duration)
            return misuse(AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL);
        if (periodicity < e_->minPeriod)
            return AUDCLNT_E_INVALID_DEVICE_PERIOD;
        const uint32_t rate = format->nSamplesPerSec;
        const uint32_t asked = uint32_t((duration * rate + kHnsPerSecond / 2) / kHnsPerSecond);
        if (asked == e_->notAlignedRequest)
            return init_ = NotAligned, AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        bufferFrames_ = asked + e_->extraFrames;
        // The whole buffer goes to the hardware every period.
        tickHns_ = (int64_t(bufferFrames_) * kHnsPerSecond + rate / 2) / rate;
        buffer_.assign(size_t(bufferFrames_) * 2, 0);
        g_recorder.begin(e_->wavPath, rate); // before the pre-roll
        init_ = Ready;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override
    {
        if (init_ == NotInitialized)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        *frames = init_ == NotAligned ? e_->notAlignedAnswer : bufferFrames_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override
    {
        if (closest)
            *closest = nullptr;
        return mode != AUDCLNT_SHAREMODE_EXCLUSIVE ? E_NOTIMPL
               : accepted(*e_, *format)            ? S_OK
                                                   : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimum) override
    {
        const HRESULT hr = e_->faults.onCall("GetDevicePeriod");
        *defaultPeriod = e_->defaultPeriod;
        *minimum = e_->minPeriod;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = stopped())
            return hr;
        clientEvent_ = event;
        return event && event != INVALID_HANDLE_VALUE ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        // The render client is this object's second face: it lives as long as either is held.
        return init_ != Ready                         ? misuse(AUDCLNT_E_NOT_INITIALIZED)
               : riid == __uuidof(IAudioRenderClient) ? QueryInterface(riid, ppv)
                                                      : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE Start() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (HRESULT hr = stopped())
            return hr;
        if (!clientEvent_)
            return misuse(AUDCLNT_E_EVENTHANDLE_NOT_SET);
        stopRequested_.store(false, std::memory_order_relaxed);
        ResetEvent(stopEvent_);
        periods_ = 0;
        // The hardware starts now, however long its clock thread takes to get going.
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        clock_ = std::thread([this, start] { clockLoop(start.QuadPart); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        std::lock_guard<std::mutex> lock(control_);
        if (init_ != Ready)
            return misuse(AUDCLNT_E_NOT_INITIALIZED);
        return clock_.joinable() ? (endStream(), S_OK) : S_FALSE;
    }
    // Calls the program never makes.
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }

    // IAudioRenderClient's two calls, made on the client's render thread.
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override
    {
        *data = nullptr;
        if (HRESULT hr = e_->faults.onCall("GetBuffer"))
            return hr;
        if (init_ != Ready || outstanding_.load(std::memory_order_acquire) != kNoBuffer ||
            frames > bufferFrames_)
            return misuse(AUDCLNT_E_OUT_OF_ORDER);
        if (frames > 0) {
            outstanding_.store(frames, std::memory_order_release);
            *data = reinterpret_cast<BYTE*>(buffer_.data());
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override
    {
        if (HRESULT hr = e_->faults.onCall("ReleaseBuffer"))
            return hr;
        const uint32_t got = outstanding_.exchange(kNoBuffer, std::memory_order_acq_rel);
        if (got == kNoBuffer && frames == 0)
            return S_OK;
        if (got == kNoBuffer || frames > got || (flags & ~DWORD(AUDCLNT_BUFFERFLAGS_SILENT)))
            return misuse(AUDCLNT_E_INVALID_SIZE);
        if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
            std::fill_n(buffer_.begin(), size_t(frames) * 2, int16_t(0));
        g_recorder.append(buffer_.data(), frames);
        return S_OK;
    }

private:
    // NotAligned answers the aligned size, and nothing else.
    static constexpr int NotInitialized = 0, NotAligned = 1, Ready = 2;
    static constexpr uint32_t kNoBuffer = 0xFFFFFFFFu;

    HRESULT stopped()
    {
        return init_ != Ready      ? misuse(AUDCLNT_E_NOT_INITIALIZED)
               : clock_.joinable() ? misuse(AUDCLNT_E_NOT_STOPPED)
                                   : S_OK;
    }
    HRESULT misuse(HRESULT hr) { return misuse_.fetch_add(1, std::memory_order_relaxed), hr; }

    // Stops the clock; everything the client released is on record.
    void endStream()
    {
        stopRequested_.store(true, std::memory_order_release);
        SetEvent(stopEvent_);
        clock_.join();
        g_recorder.end("periods=" + std::to_string(periods_) + "\nmisuse=" + std::to_string(misuse_) + "\n");
    }

    // Due times come from the start and the period index, so rounding never accumulates.
    void clockLoop(int64_t startTicks)
    {
        // The hardware's clock must not wait behind the threads it paces.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        LARGE_INTEGER freq, now;
        QueryPerformanceFrequency(&freq);
        const double periodTicks = double(tickHns_) * double(freq.QuadPart) / 1e7;
        const int64_t ticksPerMs = std::max<int64_t>(freq.QuadPart / 1000, 1);
        for (uint64_t index = 1; !stopRequested_.load(std::memory_order_acquire);) {
            QueryPerformanceCounter(&now);
            const int64_t due = startTicks + int64_t(std::llround(double(index) * periodTicks));
            if (due > now.QuadPart) {
                // Wake on time or at once when the stream stops.
                WaitForSingleObject(stopEvent_, DWORD((due - now.QuadPart + ticksPerMs - 1) / ticksPerMs));
                continue;
            }
            periods_++;
            SetEvent(clientEvent_);
            ++index;
        }
    }

    const Endpoint e_;
    std::mutex control_; // serialises the control calls, never the render calls
    std::atomic<int> init_{NotInitialized};
    uint32_t bufferFrames_ = 0;
    int64_t tickHns_ = 0;
    HANDLE clientEvent_ = nullptr; // not owned
    std::vector<int16_t> buffer_;
    std::atomic<uint32_t> outstanding_{kNoBuffer};
    std::atomic<uint64_t> misuse_{0}, periods_{0};
    std::atomic<bool> stopRequested_{false};
    HANDLE stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); // owned; wakes the clock thread
    std::thread clock_;
};

} // namespace

IAudioClient* newAudioClient(Endpoint endpoint) { return new AudioClient(std::move(endpoint)); }

} // namespace PomaroTestEndpoint
