// The test ASIO driver: answers the driver interface as its configuration says and,
// while started, calls the host's buffer switch once per period from its own thread in
// real time, recording what the host rendered. Configuration, key = value lines:
//
//   type = 18                 sample type of every channel (16, 18, 19 or any other)
//   rates = 44100, 48000      rates canSampleRate accepts
//   min = 64   max = 4096   preferred = 512   granularity = 1   (-1: powers of two)
//   outputs = 2
//   init_error = Device busy  init fails; getErrorMessage gives the text
//   fail = start, createBuffers#2   these calls (#n: only the process's n-th one)
//                             answer ASE_HWMalfunction
//   panel = no                controlPanel answers ASE_NotPresent
//   panel = reset             controlPanel is a modal box that asks for a reset while open
//   reset_after = 20          kAsioResetRequest after 20 buffer switches, once a process ...
//   reset_burst = 20          ... sent 20 times in a row ...
//   reset_every_init = yes    ... or once for every driver object, as after every init
//   size_change_after = 20    kAsioBufferSizeChange after 20 buffer switches (before a
//   size_change_to = 256      reset due at the same switch), with this size (default: the current one)
//   after_stop = 5            stop returns at once and 5 more buffer switches follow
//   callback_in_start = yes   start calls bufferSwitch itself before it returns
//   thread_every = 50         every 50th buffer switch comes from a new thread
//   callback = timeinfo       bufferSwitchTimeInfo even when the host did not ask
//   wav = C:\out\asio.wav     what the host rendered, channel 0 left, 1 right
//   stats = C:\out\asio.txt   counters, written at stop and release
#include "audio/AsioDriver.h"
#include "testdrivers/asio/TestAsioApi.h"
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"
#include "testdrivers/common/WavFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace Kelvane;
using namespace PomaroTestDrivers;

struct Config
{
    long sampleType = 18, minFrames = 32, maxFrames = 4096, preferredFrames = 480, granularity = 1,
         outputs = 2;
    long resetAfter = 0, resetBurst = 1, sizeChangeAfter = 0, sizeChangeTo = 0; // 0: never, the current size
    long afterStop = 0, threadEvery = 0;
    bool resetEveryInit = false, callbackInStart = false;
    std::string rates = "22050, 44100, 48000, 96000", initError, fail, panel = "yes", callback = "switch";
    std::string wavPath, statsPath; // UTF-8
    std::vector<double> rateList;
    std::vector<CallRule> failingCalls;

    bool acceptsRate(double hz) const
    {
        return std::find(rateList.begin(), rateList.end(), hz) != rateList.end();
    }
    bool acceptsFrames(long frames) const
    {
        if (frames < minFrames || frames > maxFrames)
            return false;
        if (granularity == -1)
            return (frames & (frames - 1)) == 0;
        return granularity > 0 ? (frames - minFrames) % granularity == 0 : frames == preferredFrames;
    }
};

bool parseConfig(const std::string& text, Config& c, std::string& error)
{
    const std::pair<const char*, long*> numbers[] = {{"type", &c.sampleType},
                                                     {"min", &c.minFrames},
                                                     {"max", &c.maxFrames},
                                                     {"preferred", &c.preferredFrames},
                                                     {"granularity", &c.granularity},
                                                     {"outputs", &c.outputs},
                                                     {"reset_after", &c.resetAfter},
                                                     {"reset_burst", &c.resetBurst},
                                                     {"size_change_after", &c.sizeChangeAfter},
                                                     {"size_change_to", &c.sizeChangeTo},
                                                     {"after_stop", &c.afterStop},
                                                     {"thread_every", &c.threadEvery}};
    const std::pair<const char*, bool*> flags[] = {{"reset_every_init", &c.resetEveryInit},
                                                   {"callback_in_start", &c.callbackInStart}};
    const std::pair<const char*, std::string*> texts[] = {
        {"rates", &c.rates},       {"init_error", &c.initError}, {"fail", &c.fail},      {"panel", &c.panel},
        {"callback", &c.callback}, {"wav", &c.wavPath},          {"stats", &c.statsPath}};
    error.clear();
    int lineNumber = 0;
    for (size_t pos = 0, end = 0; pos < text.size(); pos = end + 1) {
        end = std::min(text.find('\n', pos), text.size());
        const std::string line = trim(text.substr(pos, end - pos));
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
        bool known = false, ok = eq != std::string::npos;
        for (const auto& n : numbers)
            if (key == n.first) {
                known = true;
                ok = ok && parseSigned(value, *n.second);
            }
        for (const auto& f : flags)
            if (key == f.first) {
                known = true;
                ok = ok && parseYesNo(value, *f.second);
            }
        for (const auto& t : texts)
            if (key == t.first) {
                known = true;
                *t.second = value;
            }
        if (!known || !ok) {
            error = "line " + std::to_string(lineNumber) + ": " +
                    (known ? "bad value for '" + key + "'" : "unknown key '" + key + "'");
            return false;
        }
    }
    for (const auto& item : splitList(c.rates)) {
        long hz = 0;
        if (!parseSigned(item, hz) || hz <= 0) {
            error = "bad rate '" + item + "'";
            return false;
        }
        c.rateList.push_back(static_cast<double>(hz));
    }
    if (c.panel != "yes" && c.panel != "no" && c.panel != "reset")
        error = "'panel' is yes, no or reset";
    else if (c.callback != "switch" && c.callback != "timeinfo")
        error = "'callback' is switch or timeinfo";
    else if (c.minFrames < 1 || c.maxFrames < c.minFrames)
        error = "the buffer range is empty";
    return error.empty() && parseCallRules(c.fail, c.failingCalls, error);
}

// What every driver object of the DLL shares: the counters, the configuration text and
// the log of calls that the test hooks expose.
struct Shared
{
#define POMARO_TEST_ASIO_ATOMIC(name, key, initial) std::atomic<long> name{initial};
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_ATOMIC)
#undef POMARO_TEST_ASIO_ATOMIC
    std::atomic<bool> panelOpen{false}, resetSent{false}, sizeChangeSent{false};
    std::mutex lock; // configuration text and call log; never taken by the clock thread
    bool hasConfigText = false;
    std::string configText, calls;
    std::map<std::string, uint32_t> callCounts;

    PomaroTestAsioStats stats() const
    {
        PomaroTestAsioStats s{};
#define POMARO_TEST_ASIO_COPY(name, key, initial) s.name = name.load();
        POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_COPY)
#undef POMARO_TEST_ASIO_COPY
        return s;
    }
    // Records one driver call; returns its number among the process's calls of that name.
    uint32_t logCall(const char* name)
    {
        if (panelOpen.load())
            callsInPanel.fetch_add(1);
        std::lock_guard<std::mutex> hold(lock);
        calls += (calls.empty() ? "" : " ") + std::string(name);
        return ++callCounts[name];
    }
};

Shared& shared()
{
    static Shared s;
    return s;
}

void writeStatsFile(const std::string& path)
{
    std::FILE* f = path.empty() ? nullptr : _wfopen(widen(path).c_str(), L"wb");
    if (!f)
        return;
    const PomaroTestAsioStats s = shared().stats();
#define POMARO_TEST_ASIO_LINE(name, key, initial) std::fprintf(f, "%s=%ld\n", key, s.name);
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_LINE)
#undef POMARO_TEST_ASIO_LINE
    std::fclose(f);
}

// The process's one recording: driver objects made one after the other (a host's
// restart) go on appending to it while the path, the rate and the format stay; any
// change starts the file again. Called by start, never while a clock runs.
WavFile& openRecording(const std::wstring& path, WavSamples samples, uint32_t rate)
{
    static WavFile writer;
    static std::wstring openPath;
    if (!writer.isOpen() || path != openPath || samples != writer.samples() || rate != writer.rate()) {
        writer.attach(_wfopen(path.c_str(), L"wb"), samples, rate);
        openPath = path;
    }
    return writer;
}

class TestAsioDriver final : public IAsioDriver, public RefCounted
{
public:
    explicit TestAsioDriver(Config config) : config_(std::move(config))
    {
        shared().instances.fetch_add(1);
        shared().liveInstances.fetch_add(1);
    }
    ~TestAsioDriver() override
    {
        stopClock();
        shared().liveInstances.fetch_sub(1);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv =
            riid == IID_IUnknown || riid == CLSID_PomaroTestAsio ? static_cast<IAsioDriver*>(this) : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (shared().panelOpen.load())
            shared().callsInPanel.fetch_add(1);
        return releaseImpl();
    }

    ASIOBool STDMETHODCALLTYPE init(void*) override
    {
        shared().logCall("init");
        initialised_ = config_.initError.empty();
        return initialised_ ? 1 : 0;
    }
    void STDMETHODCALLTYPE getErrorMessage(char* text) override
    {
        shared().logCall("getErrorMessage");
        // The documented minimum is 124 bytes; the host offers more.
        std::snprintf(text, 124, "%s", config_.initError.c_str());
    }
    ASIOError STDMETHODCALLTYPE getChannels(long* numInputs, long* numOutputs) override
    {
        const ASIOError result = called("getChannels");
        if (numInputs)
            *numInputs = 0;
        if (numOutputs)
            *numOutputs = config_.outputs;
        return result;
    }
    ASIOError STDMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                              long* granularity) override
    {
        if (ASIOError e = called("getBufferSize"))
            return e;
        *minSize = config_.minFrames;
        *maxSize = config_.maxFrames;
        *preferredSize = config_.preferredFrames;
        *granularity = config_.granularity;
        return ASE_OK;
    }
    ASIOError STDMETHODCALLTYPE canSampleRate(ASIOSampleRate rate) override
    {
        shared().logCall("canSampleRate");
        return config_.acceptsRate(rate) ? ASE_OK : ASE_NoClock;
    }
    ASIOError STDMETHODCALLTYPE setSampleRate(ASIOSampleRate rate) override
    {
        if (ASIOError e = called("setSampleRate"))
            return e;
        if (!config_.acceptsRate(rate))
            return ASE_NoClock;
        rate_ = rate;
        return ASE_OK;
    }
    // Calls the host never makes: answered as a driver without them would, the last six logged.
    void STDMETHODCALLTYPE getDriverName(char* name) override { std::strcpy(name, "Pomaro Test ASIO"); }
    long STDMETHODCALLTYPE getDriverVersion() override { return 1; }
    ASIOError STDMETHODCALLTYPE getSampleRate(ASIOSampleRate* rate) override
    {
        *rate = rate_;
        return ASE_OK;
    }
    ASIOError STDMETHODCALLTYPE getLatencies(long*, long*) override { return notPresent("getLatencies"); }
    ASIOError STDMETHODCALLTYPE getClockSources(ASIOClockSource*, long*) override
    {
        return notPresent("getClockSources");
    }
    ASIOError STDMETHODCALLTYPE setClockSource(long) override { return notPresent("setClockSource"); }
    ASIOError STDMETHODCALLTYPE getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override
    {
        return notPresent("getSamplePosition");
    }
    ASIOError STDMETHODCALLTYPE future(long, void*) override { return notPresent("future"); }
    ASIOError STDMETHODCALLTYPE outputReady() override { return notPresent("outputReady"); }

    ASIOError STDMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override
    {
        if (ASIOError e = called("getChannelInfo"))
            return e;
        if (info->isInput || info->channel < 0 || info->channel >= config_.outputs)
            return ASE_InvalidParameter;
        info->isActive = 0;
        info->channelGroup = 0;
        info->type = config_.sampleType;
        std::snprintf(info->name, sizeof info->name, "Out %ld", info->channel + 1);
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                              ASIOCallbacks* callbacks) override
    {
        if (ASIOError e = called("createBuffers"))
            return e;
        if (!initialised_ || !infos || !callbacks || numChannels < 1 || !halves_.empty() ||
            !config_.acceptsFrames(bufferSize))
            return ASE_InvalidMode;
        std::vector<char> asked(size_t(config_.outputs), 0);
        for (long i = 0; i < numChannels; ++i) // each output channel at most once
            if (infos[i].isInput || infos[i].channelNum < 0 || infos[i].channelNum >= config_.outputs ||
                asked[size_t(infos[i].channelNum)]++)
                return ASE_InvalidParameter;
        frames_ = bufferSize;
        callbacks_ = *callbacks;
        const size_t half = size_t(bufferSize) * (config_.sampleType == ASIOSTInt16LSB ? 2 : 4);
        memory_.assign(half * 2 * size_t(numChannels), 0);
        halves_.resize(size_t(numChannels) * 2);
        recordLeft_ = recordRight_ = -1;
        for (long i = 0; i < numChannels; ++i) {
            for (int h = 0; h < 2; ++h)
                infos[i].buffers[h] = halves_[size_t(i) * 2 + h] =
                    memory_.data() + (size_t(i) * 2 + h) * half;
            if (infos[i].channelNum < 2)
                (infos[i].channelNum == 0 ? recordLeft_ : recordRight_) = i;
        }
        shared().sampleRate.store(static_cast<long>(rate_));
        shared().bufferFrames.store(bufferSize);
        // Drivers that follow the interface ask before they use the time-info callback.
        useTimeInfo_ =
            config_.callback == "timeinfo" ||
            (callbacks_.asioMessage &&
             callbacks_.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
             callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1);
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE disposeBuffers() override
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

    ASIOError STDMETHODCALLTYPE start() override
    {
        if (ASIOError e = called("start"))
            return e;
        if (halves_.empty() || running_.load())
            return ASE_InvalidMode;
        if (clock_.joinable())
            clock_.join(); // a clock that ran on after stop and ended by itself
        if (!config_.wavPath.empty())
            wav_ = &openRecording(widen(config_.wavPath),
                                  config_.sampleType == ASIOSTInt16LSB     ? WavSamples::Int16
                                  : config_.sampleType == ASIOSTFloat32LSB ? WavSamples::Float32
                                                                           : WavSamples::Int32,
                                  static_cast<uint32_t>(rate_));
        if (config_.callbackInStart) {
            shared().callbacksInStart.fetch_add(1);
            callbacks_.bufferSwitch(0, 1);
        }
        switchesLeft_.store(-1);
        running_.store(true);
        clock_ = std::thread([this] { clockLoop(); });
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE stop() override
    {
        if (ASIOError e = called("stop"))
            return e;
        // With switches to make after stop: returns at once, the clock makes them back to back.
        long none = -1;
        if (config_.afterStop > 0 && running_.load())
            switchesLeft_.compare_exchange_strong(none, config_.afterStop);
        else
            stopClock();
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE controlPanel() override
    {
        shared().logCall("controlPanel");
        if (config_.panel == "no")
            return ASE_NotPresent;
        if (config_.panel == "reset") {
            // As when the user changes the buffer size in a panel: the request reaches the
            // host while the panel's own modal loop runs.
            shared().panelOpen.store(true);
            if (callbacks_.asioMessage) {
                shared().messagesSent.fetch_add(1);
                shared().resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
            }
            MessageBoxW(nullptr, L"The buffer size was changed.", L"Pomaro Test ASIO", MB_OK);
            shared().panelOpen.store(false);
        }
        return ASE_OK;
    }

private:
    // Logs the call and answers what the configuration says for it.
    ASIOError called(const char* call) const
    {
        const uint32_t nth = shared().logCall(call);
        for (const auto& f : config_.failingCalls)
            if (f.name == call && (f.nth == 0 || f.nth == nth))
                return ASE_HWMalfunction;
        return ASE_OK;
    }
    ASIOError notPresent(const char* call) const
    {
        shared().logCall(call);
        return ASE_NotPresent;
    }

    void stopClock()
    {
        // A clock with switches left after stop makes them before it ends.
        if (switchesLeft_.load() < 0)
            running_.store(false);
        if (clock_.joinable())
            clock_.join();
        running_.store(false);
        writeStatsFile(config_.statsPath);
    }

    // Each message goes out once per process (until the hooks reset it), so the host's
    // restart does not bring it back with the next driver object; a reset "after every
    // init" goes out once per driver object instead.
    void sendMessages(long completed)
    {
        Shared& c = shared();
        bool sent = false;
        if (config_.sizeChangeAfter > 0 && completed >= config_.sizeChangeAfter &&
            c.sizeChangeSent.compare_exchange_strong(sent, true)) {
            c.messagesSent.fetch_add(1);
            c.sizeChangeAnswer.store(callbacks_.asioMessage(
                kAsioBufferSizeChange, config_.sizeChangeTo > 0 ? config_.sizeChangeTo : frames_, nullptr,
                nullptr));
        }
        sent = false;
        if (config_.resetAfter > 0 && completed >= config_.resetAfter &&
            (config_.resetEveryInit ? !std::exchange(resetSentHere_, true)
                                    : c.resetSent.compare_exchange_strong(sent, true)))
            for (long i = 0; i < config_.resetBurst; ++i) {
                c.messagesSent.fetch_add(1);
                c.resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
            }
    }

    void switchHalf(long index)
    {
        if (useTimeInfo_) {
            ASIOTime time{};
            time.timeInfo.sampleRate = rate_;
            time.timeInfo.speed = 1.0;
            callbacks_.bufferSwitchTimeInfo(&time, index, 1);
            shared().timeInfoCallbacks.fetch_add(1);
        } else {
            callbacks_.bufferSwitch(index, 1);
        }
    }

    void clockLoop()
    {
        using Clock = std::chrono::steady_clock;
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        const auto period = std::chrono::microseconds(static_cast<long long>(frames_ * 1000000.0 / rate_));
        const Clock::time_point begin = Clock::now();
        long index = 0, completed = 0;
        for (long k = 1; running_.load(std::memory_order_acquire); ++k) {
            const long left = switchesLeft_.load();
            if (left == 0)
                break;
            if (left > 0) {
                switchesLeft_.store(left - 1);
                shared().callbacksAfterStop.fetch_add(1);
                Sleep(1);
            } else {
                // The first half is handed over one period after start, as hardware would.
                const Clock::time_point due = begin + k * period;
                for (auto now = Clock::now();
                     now < due && running_.load(std::memory_order_acquire) && switchesLeft_.load() < 0;
                     now = Clock::now()) {
                    const long ms =
                        long(std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count());
                    Sleep(ms > 1 ? DWORD(ms - 1) : 0);
                }
                if (!running_.load(std::memory_order_acquire))
                    break;
                if (switchesLeft_.load() >= 0)
                    continue;
            }
            if (config_.threadEvery > 0 && k % config_.threadEvery == 0) {
                shared().threadCallbacks.fetch_add(1);
                std::thread([this, index] { switchHalf(index); }).join();
            } else {
                switchHalf(index);
            }
            if (wav_ && wav_->isOpen() && recordLeft_ >= 0 && recordRight_ >= 0)
                wav_->appendChannels(halves_[size_t(recordLeft_) * 2 + size_t(index)],
                                     halves_[size_t(recordRight_) * 2 + size_t(index)],
                                     static_cast<uint32_t>(frames_));
            sendMessages(++completed);
            index ^= 1;
        }
        running_.store(false, std::memory_order_release);
    }

    Config config_;
    bool initialised_ = false;
    double rate_ = 48000.0;
    long frames_ = 0;
    ASIOCallbacks callbacks_{};
    std::vector<unsigned char> memory_; // every channel's two halves
    std::vector<void*> halves_;         // [channel * 2 + half]
    long recordLeft_ = -1, recordRight_ = -1;
    bool useTimeInfo_ = false;
    std::thread clock_;
    std::atomic<bool> running_{false};
    std::atomic<long> switchesLeft_{-1}; // after stop returned; -1: not stopped
    bool resetSentHere_ = false;
    WavFile* wav_ = nullptr; // the process's recording, shared by restarts
};

HRESULT createDriver(REFIID riid, void** ppv)
{
    // The text a test set, else the file named by the environment, else the file named in
    // the class key, else defaults.
    Config config;
    std::string text, error = "cannot read the configuration file";
    {
        std::lock_guard<std::mutex> hold(shared().lock);
        text = shared().hasConfigText ? shared().configText : "";
    }
    const std::wstring path = text.empty()
                                  ? configPath(POMARO_TEST_ASIO_CONFIG_ENV, HKEY_CLASSES_ROOT,
                                               L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT, L"PomaroConfig")
                                  : L"";
    if ((!path.empty() && !readTextFile(path, text)) || !parseConfig(text, config, error)) {
        std::fprintf(stderr, "PomaroTestAsio: %s\n", error.c_str());
        return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
    }
    return handOver(new TestAsioDriver(std::move(config)), riid, ppv);
}

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return PomaroTestDrivers::getClassObject(clsid, CLSID_PomaroTestAsio, createDriver, riid, ppv);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return PomaroTestDrivers::canUnloadNow();
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioConfigure(const char* text)
{
    std::lock_guard<std::mutex> hold(shared().lock);
    shared().hasConfigText = text != nullptr;
    shared().configText = text ? text : "";
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioStats(PomaroTestAsioStats* stats)
{
    if (stats)
        *stats = shared().stats();
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioReset()
{
    Shared& c = shared();
    const long live = c.liveInstances.load();
#define POMARO_TEST_ASIO_RESET(name, key, initial) c.name = initial;
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_RESET)
#undef POMARO_TEST_ASIO_RESET
    c.liveInstances = live;
    c.resetSent = c.sizeChangeSent = false;
    std::lock_guard<std::mutex> hold(c.lock);
    c.calls.clear();
    c.callCounts.clear();
}

extern "C" __declspec(dllexport) int __stdcall PomaroTestAsioCallLog(char* out, int size)
{
    std::lock_guard<std::mutex> hold(shared().lock);
    const std::string& log = shared().calls;
    if (out && size > 0) {
        const size_t n = std::min(log.size(), size_t(size - 1));
        std::memcpy(out, log.data(), n);
        out[n] = 0;
    }
    return static_cast<int>(log.size());
}
