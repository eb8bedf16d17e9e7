#pragma once
// The test ASIO driver object: answers the driver interface as its configuration
// says and, while started, calls the host's buffer switch once per period from its
// own thread in real time, recording what the host rendered.

#include "audio/AsioDriver.h"
#include "testdrivers/asio/AsioTestConfig.h"
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/WavFile.h"

#include <atomic>
#include <thread>
#include <vector>

namespace PomaroTestAsio {

using namespace Kelvane;

class TestAsioDriver final : public IAsioDriver, public PomaroTestDrivers::RefCounted
{
public:
    explicit TestAsioDriver(AsioTestConfig config);
    ~TestAsioDriver();
    TestAsioDriver(const TestAsioDriver&) = delete;
    TestAsioDriver& operator=(const TestAsioDriver&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    ASIOBool STDMETHODCALLTYPE init(void* sysHandle) override;
    void STDMETHODCALLTYPE getDriverName(char* name) override;
    long STDMETHODCALLTYPE getDriverVersion() override;
    void STDMETHODCALLTYPE getErrorMessage(char* text) override;
    ASIOError STDMETHODCALLTYPE start() override;
    ASIOError STDMETHODCALLTYPE stop() override;
    ASIOError STDMETHODCALLTYPE getChannels(long* numInputs, long* numOutputs) override;
    ASIOError STDMETHODCALLTYPE getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError STDMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                              long* granularity) override;
    ASIOError STDMETHODCALLTYPE canSampleRate(ASIOSampleRate rate) override;
    ASIOError STDMETHODCALLTYPE getSampleRate(ASIOSampleRate* rate) override;
    ASIOError STDMETHODCALLTYPE setSampleRate(ASIOSampleRate rate) override;
    ASIOError STDMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, long* numSources) override;
    ASIOError STDMETHODCALLTYPE setClockSource(long reference) override;
    ASIOError STDMETHODCALLTYPE getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override;
    ASIOError STDMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError STDMETHODCALLTYPE createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                              ASIOCallbacks* callbacks) override;
    ASIOError STDMETHODCALLTYPE disposeBuffers() override;
    ASIOError STDMETHODCALLTYPE controlPanel() override;
    ASIOError STDMETHODCALLTYPE future(long selector, void* opt) override;
    ASIOError STDMETHODCALLTYPE outputReady() override;

private:
    // Logs the call and answers what the configuration says for it.
    ASIOError called(const char* call) const;
    void clockLoop();
    void switchHalf(long index);
    void stopClock();
    void sendMessages(long completed);
    uint32_t bytesPerSample() const;

    AsioTestConfig config_;
    bool initialised_ = false;
    double rate_ = 48000.0;
    long frames_ = 0;
    long outputs_ = 0;
    ASIOCallbacks callbacks_{};
    std::vector<unsigned char> memory_; // every channel's two halves
    std::vector<void*> halves_;         // [channel * 2 + half]
    long recordLeft_ = -1, recordRight_ = -1;
    bool useTimeInfo_ = false;
    std::thread clock_;
    std::atomic<bool> running_{false};
    std::atomic<long> switchesLeft_{-1}; // after stop returned; -1: not stopped
    bool resetSentHere_ = false;
    PomaroTestDrivers::WavFile* wav_ = nullptr; // the process's recording, shared by restarts
};

} // namespace PomaroTestAsio
