#pragma once
// IAudioClient of a test endpoint: exclusive, event-driven streams, with a clock
// thread that plays the part of the hardware.

#include "testdrivers/endpoint/ComSupport.h"
#include "testdrivers/endpoint/EndpointModel.h"
#include "testdrivers/endpoint/FrameRing.h"
#include "testdrivers/endpoint/StreamStats.h"
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <audioclient.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace PomaroTestEndpoint {

class AudioClient final : public IAudioClient, public IPomaroEndpointStats, public RefCounted
{
public:
    AudioClient(std::shared_ptr<EndpointModel> model, size_t index);
    ~AudioClient() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID session) override;
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override;
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override;
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                              REFERENCE_TIME* minimumPeriod) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override;
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE GetStats(PomaroEndpointStats* stats) override;

    // IAudioRenderClient's two calls, made on the client's render thread: lock-free.
    HRESULT getBuffer(UINT32 frames, BYTE** data);
    HRESULT releaseBuffer(UINT32 frames, DWORD flags);

private:
    enum InitState : int
    {
        NotInitialized,
        NotAligned,
        Ready
    };
    static constexpr uint32_t kNoBuffer = 0xFFFFFFFFu;

    HRESULT misuse(HRESULT hr);
    void stopClock();
    void clockLoop(int64_t startTicks);
    void drainToRecorder();
    StreamStats snapshot() const;

    std::shared_ptr<EndpointModel> model_;
    size_t index_;
    const EndpointSpec& spec_;
    FaultPlan& faults_;

    std::mutex control_; // serialises the control calls, never the render calls
    std::atomic<int> init_{NotInitialized};
    uint32_t rate_ = 0;
    uint32_t bufferFrames_ = 0;
    uint32_t alignedFrames_ = 0; // the answer after AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
    int64_t tickHns_ = 0;
    HANDLE clientEvent_ = nullptr; // not owned
    std::vector<int16_t> buffer_;
    std::vector<int16_t> scratch_;
    FrameRing ring_;

    std::atomic<uint32_t> outstanding_{kNoBuffer};
    std::atomic<uint64_t> released_{0}; // frames
    std::atomic<uint64_t> releases_{0}; // non-empty ReleaseBuffer calls
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> misuse_{0};
    std::atomic<uint64_t> periods_{0}, late_{0}, endpointLate_{0};

    bool running_ = false;
    std::atomic<bool> stopRequested_{false};
    HANDLE stopEvent_ = nullptr; // owned; wakes the clock thread
    std::thread clock_;
};

class RenderClient final : public IAudioRenderClient, public RefCounted
{
public:
    explicit RenderClient(AudioClient* client) : client_(client) { client_->AddRef(); }
    ~RenderClient() override { client_->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN
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

} // namespace PomaroTestEndpoint
