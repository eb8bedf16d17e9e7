#include "testdrivers/asio/TestAsioDriver.h"

#include "testdrivers/common/ConfigFile.h"

#include "testdrivers/asio/DriverState.h"
#include "testdrivers/asio/TestAsioApi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace PomaroTestAsio {

namespace {

LONGLONG nowMicros()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart / frequency * 1000000 + t.QuadPart % frequency * 1000000 / frequency;
}

} // namespace

TestAsioDriver::TestAsioDriver(AsioTestConfig config) : config_(std::move(config))
{
    counters().instances.fetch_add(1);
    counters().liveInstances.fetch_add(1);
}

TestAsioDriver::~TestAsioDriver()
{
    stopClock();
    counters().liveInstances.fetch_sub(1);
}

HRESULT TestAsioDriver::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == CLSID_PomaroTestAsio) {
        *ppv = static_cast<IAsioDriver*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TestAsioDriver::AddRef() { return addRefImpl(); }

ULONG TestAsioDriver::Release()
{
    if (counters().panelOpen.load())
        counters().callsInPanel.fetch_add(1);
    return releaseImpl();
}

ASIOError TestAsioDriver::called(const char* call) const
{
    return config_.fails(call, logCall(call)) ? ASE_HWMalfunction : ASE_OK;
}

ASIOBool TestAsioDriver::init(void*)
{
    logCall("init");
    initialised_ = !config_.initFails;
    return initialised_ ? 1 : 0;
}

void TestAsioDriver::getDriverName(char* name)
{
    logCall("getDriverName");
    std::strcpy(name, "Pomaro Test ASIO");
}

long TestAsioDriver::getDriverVersion()
{
    logCall("getDriverVersion");
    return 1;
}

void TestAsioDriver::getErrorMessage(char* text)
{
    logCall("getErrorMessage");
    // The documented minimum is 124 bytes; the host offers more.
    std::snprintf(text, 124, "%s", config_.initError.c_str());
}

ASIOError TestAsioDriver::getChannels(long* numInputs, long* numOutputs)
{
    const ASIOError result = called("getChannels");
    if (numInputs)
        *numInputs = config_.inputs;
    if (numOutputs)
        *numOutputs = config_.outputs;
    return result;
}

ASIOError TestAsioDriver::getLatencies(long* inputLatency, long* outputLatency)
{
    logCall("getLatencies");
    if (inputLatency)
        *inputLatency = frames_;
    if (outputLatency)
        *outputLatency = frames_;
    return ASE_OK;
}

ASIOError TestAsioDriver::getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity)
{
    if (ASIOError e = called("getBufferSize"))
        return e;
    *minSize = config_.minFrames;
    *maxSize = config_.maxFrames;
    *preferredSize = config_.preferredFrames;
    *granularity = config_.granularity;
    return ASE_OK;
}

ASIOError TestAsioDriver::canSampleRate(ASIOSampleRate rate)
{
    logCall("canSampleRate");
    return config_.acceptsRate(rate) ? ASE_OK : ASE_NoClock;
}

ASIOError TestAsioDriver::getSampleRate(ASIOSampleRate* rate)
{
    logCall("getSampleRate");
    *rate = rate_;
    return ASE_OK;
}

ASIOError TestAsioDriver::setSampleRate(ASIOSampleRate rate)
{
    if (ASIOError e = called("setSampleRate"))
        return e;
    if (!config_.acceptsRate(rate))
        return ASE_NoClock;
    rate_ = rate;
    return ASE_OK;
}

ASIOError TestAsioDriver::getClockSources(ASIOClockSource* clocks, long* numSources)
{
    logCall("getClockSources");
    if (clocks && numSources && *numSources > 0) {
        std::memset(clocks, 0, sizeof *clocks);
        clocks->isCurrentSource = 1;
        std::strcpy(clocks->name, "Internal");
        *numSources = 1;
    }
    return ASE_OK;
}

ASIOError TestAsioDriver::setClockSource(long)
{
    logCall("setClockSource");
    return ASE_OK;
}

ASIOError TestAsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp)
{
    logCall("getSamplePosition");
    const unsigned long long samples = static_cast<unsigned long long>(counters().callbacks.load()) * frames_;
    const unsigned long long nanos = static_cast<unsigned long long>(nowMicros()) * 1000;
    position->hi = static_cast<unsigned long>(samples >> 32);
    position->lo = static_cast<unsigned long>(samples);
    stamp->hi = static_cast<unsigned long>(nanos >> 32);
    stamp->lo = static_cast<unsigned long>(nanos);
    return ASE_OK;
}

ASIOError TestAsioDriver::getChannelInfo(ASIOChannelInfo* info)
{
    if (ASIOError e = called("getChannelInfo"))
        return e;
    const long count = info->isInput ? config_.inputs : config_.outputs;
    if (info->channel < 0 || info->channel >= count)
        return ASE_InvalidParameter;
    info->isActive = 0;
    info->channelGroup = 0;
    info->type = config_.sampleType;
    std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
    return ASE_OK;
}

uint32_t TestAsioDriver::bytesPerSample() const { return config_.sampleType == ASIOSTInt16LSB ? 2 : 4; }

ASIOError TestAsioDriver::createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                        ASIOCallbacks* callbacks)
{
    if (ASIOError e = called("createBuffers"))
        return e;
    if (!initialised_ || !infos || !callbacks || numChannels < 1 || !halves_.empty())
        return ASE_InvalidMode;
    if (!config_.acceptsFrames(bufferSize))
        return ASE_InvalidMode;
    for (long i = 0; i < numChannels; ++i)
        if (infos[i].isInput || infos[i].channelNum < 0 || infos[i].channelNum >= config_.outputs)
            return ASE_InvalidParameter;
    frames_ = bufferSize;
    callbacks_ = *callbacks;
    const size_t half = size_t(bufferSize) * bytesPerSample();
    memory_.assign(half * 2 * size_t(numChannels), 0);
    halves_.resize(size_t(numChannels) * 2);
    recordLeft_ = recordRight_ = -1;
    for (long i = 0; i < numChannels; ++i) {
        for (int h = 0; h < 2; ++h) {
            halves_[size_t(i) * 2 + h] = memory_.data() + (size_t(i) * 2 + h) * half;
            infos[i].buffers[h] = halves_[size_t(i) * 2 + h];
        }
        if (infos[i].channelNum == 0)
            recordLeft_ = i;
        if (infos[i].channelNum == 1)
            recordRight_ = i;
    }
    outputs_ = numChannels;
    counters().sampleRate.store(static_cast<long>(rate_));
    counters().bufferFrames.store(bufferSize);
    // Drivers that follow the interface ask before they use the time-info callback.
    useTimeInfo_ =
        config_.forceTimeInfo ||
        (callbacks_.asioMessage &&
         callbacks_.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
         callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1);
    return ASE_OK;
}

ASIOError TestAsioDriver::disposeBuffers()
{
    if (ASIOError e = called("disposeBuffers"))
        return e;
    if (halves_.empty())
        return ASE_InvalidMode;
    stopClock();
    halves_.clear();
    memory_.clear();
    callbacks_ = ASIOCallbacks{};
    return ASE_OK;
}

ASIOError TestAsioDriver::start()
{
    if (ASIOError e = called("start"))
        return e;
    if (halves_.empty() || running_.load())
        return ASE_InvalidMode;
    if (clock_.joinable())
        clock_.join(); // a clock that ran on after stop and ended by itself
    if (!config_.wavPath.empty()) {
        using PomaroTestDrivers::WavSamples;
        const WavSamples samples = config_.sampleType == ASIOSTInt16LSB     ? WavSamples::Int16
                                   : config_.sampleType == ASIOSTFloat32LSB ? WavSamples::Float32
                                                                            : WavSamples::Int32;
        wav_ =
            &openRecording(PomaroTestDrivers::widen(config_.wavPath), samples, static_cast<uint32_t>(rate_));
    }
    if (config_.callbackInStart) {
        counters().callbacksInStart.fetch_add(1);
        callbacks_.bufferSwitch(0, 1);
    }
    switchesLeft_.store(-1);
    running_.store(true);
    clock_ = std::thread([this] { clockLoop(); });
    return ASE_OK;
}

ASIOError TestAsioDriver::stop()
{
    if (ASIOError e = called("stop"))
        return e;
    if (config_.afterStop > 0 && running_.load()) {
        // Returns at once; the clock makes its last switches on its own, back to back.
        long none = -1;
        switchesLeft_.compare_exchange_strong(none, config_.afterStop);
        return ASE_OK;
    }
    stopClock();
    return ASE_OK;
}

void TestAsioDriver::stopClock()
{
    // A clock with switches left after stop makes them before it ends.
    if (switchesLeft_.load() < 0)
        running_.store(false);
    if (clock_.joinable())
        clock_.join();
    running_.store(false);
    writeStatsFile(config_.statsPath);
}

ASIOError TestAsioDriver::controlPanel()
{
    logCall("controlPanel");
    if (!config_.hasPanel)
        return ASE_NotPresent;
    if (config_.panelAsksReset) {
        // As when the user changes the buffer size in a panel: the request reaches the
        // host while the panel's own modal loop runs.
        SharedCounters& c = counters();
        c.panelOpen.store(true);
        if (callbacks_.asioMessage) {
            c.messagesSent.fetch_add(1);
            c.resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
        }
        MessageBoxW(nullptr, L"The buffer size was changed.", L"Pomaro Test ASIO", MB_OK);
        c.panelOpen.store(false);
    }
    return ASE_OK;
}

ASIOError TestAsioDriver::future(long, void*)
{
    logCall("future");
    return ASE_InvalidParameter;
}

ASIOError TestAsioDriver::outputReady()
{
    logCall("outputReady");
    return ASE_NotPresent;
}

void TestAsioDriver::sendMessages(long completed)
{
    if (!callbacks_.asioMessage)
        return;
    // Each message goes out once per process (until the hooks reset it), so the host's
    // restart does not bring it back with the next driver object; a reset "after every
    // init" goes out once per driver object instead.
    SharedCounters& c = counters();
    bool due = false;
    if (config_.sizeChangeAfter > 0 && completed >= config_.sizeChangeAfter &&
        c.sizeChangeSent.compare_exchange_strong(due, true)) {
        const long size = config_.sizeChangeTo > 0 ? config_.sizeChangeTo : frames_;
        c.messagesSent.fetch_add(1);
        c.sizeChangeAnswer.store(callbacks_.asioMessage(kAsioBufferSizeChange, size, nullptr, nullptr));
    }
    due = false;
    if (config_.resetAfter > 0 && completed >= config_.resetAfter &&
        (config_.resetEveryInit ? !std::exchange(resetSentHere_, true)
                                : c.resetSent.compare_exchange_strong(due, true))) {
        for (long i = 0; i < config_.resetBurst; ++i) {
            c.messagesSent.fetch_add(1);
            c.resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
        }
    }
}

void TestAsioDriver::switchHalf(long index)
{
    if (useTimeInfo_) {
        ASIOTime time{};
        time.timeInfo.sampleRate = rate_;
        time.timeInfo.speed = 1.0;
        callbacks_.bufferSwitchTimeInfo(&time, index, 1);
        counters().timeInfoCallbacks.fetch_add(1);
    } else {
        callbacks_.bufferSwitch(index, 1);
    }
}

void TestAsioDriver::clockLoop()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const LONGLONG period = static_cast<LONGLONG>(frames_ * 1000000.0 / rate_);
    const LONGLONG begin = nowMicros();
    long index = 0;
    long completed = 0;
    for (LONGLONG k = 1; running_.load(std::memory_order_acquire); ++k) {
        const long left = switchesLeft_.load();
        if (left == 0)
            break;
        if (left > 0) {
            switchesLeft_.store(left - 1);
            counters().callbacksAfterStop.fetch_add(1);
            Sleep(1);
        } else {
            // The first half is handed over one period after start, as hardware would.
            const LONGLONG due = begin + k * period;
            for (LONGLONG now = nowMicros();
                 now < due && running_.load(std::memory_order_acquire) && switchesLeft_.load() < 0;
                 now = nowMicros()) {
                const LONGLONG wait = (due - now) / 1000;
                Sleep(wait > 1 ? DWORD(wait - 1) : 0);
            }
            if (!running_.load(std::memory_order_acquire))
                break;
            if (switchesLeft_.load() >= 0)
                continue;
            const LONGLONG late = nowMicros() - due;
            if (late > period / 2)
                counters().lateCallbacks.fetch_add(1);
            long previous = counters().maxLateMicros.load();
            while (late > previous && !counters().maxLateMicros.compare_exchange_weak(previous, long(late))) {
            }
        }
        if (config_.threadEvery > 0 && k % config_.threadEvery == 0) {
            counters().threadCallbacks.fetch_add(1);
            std::thread([this, index] { switchHalf(index); }).join();
        } else {
            switchHalf(index);
        }
        if (wav_ && wav_->isOpen() && recordLeft_ >= 0 && recordRight_ >= 0)
            wav_->appendChannels(halves_[size_t(recordLeft_) * 2 + size_t(index)],
                                 halves_[size_t(recordRight_) * 2 + size_t(index)],
                                 static_cast<uint32_t>(frames_));
        counters().callbacks.fetch_add(1);
        sendMessages(++completed);
        index ^= 1;
    }
    running_.store(false, std::memory_order_release);
}

} // namespace PomaroTestAsio
