// The test ASIO driver: answers the driver interface as its configuration (key = value
// lines, the keys below) says and, while started, calls the host's buffer switch once per
// period from its own thread in real time, recording what the host rendered.
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
#include <cstdlib>
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
using Clock = std::chrono::steady_clock;

// Every key with its default; a value must parse as its default does (a number, or yes
// or no where the default is no).
struct Config
{
    std::map<std::string, std::string> values{
        {"type", "18"},                          // of every channel: 16, 18, 19 or any other
        {"rates", "22050, 44100, 48000, 96000"}, // what canSampleRate accepts
        {"outputs", "2"},
        {"min", "32"},
        {"max", "4096"},
        {"preferred", "480"},
        {"granularity", "1"}, // -1: powers of two
        {"init_error", ""},   // init fails; getErrorMessage gives the text
        {"fail", ""},         // "start, createBuffers#2": these calls (#n: the process's n-th only) fail
        {"panel", "present"}, // reset: a modal box that asks for a reset while open
        {"reset_after", "0"}, // kAsioResetRequest after this many switches,
        {"reset_burst", "1"}, // this many times in a row, once a process
        {"reset_every_init", "no"},  // or once every driver object, as after every init
        {"size_change_after", "0"},  // kAsioBufferSizeChange after this many switches,
        {"size_change_to", "0"},     // before a reset due then; 0: the current size
        {"after_stop", "0"},         // stop returns at once and this many switches follow
        {"callback_in_start", "no"}, // start calls bufferSwitch itself before it returns
        {"thread_every", "0"},       // every n-th switch comes from a new thread
        {"wav", ""},                 // what the host rendered, channel 0 left, 1 right
        {"stats", ""}};              // the counters, written at stop and release
    std::vector<CallRule> failingCalls;

    const std::string& text(const char* key) const { return values.at(key); }
    long number(const char* key) const { return std::atol(text(key).c_str()); } // checked by parseConfig
    bool flag(const char* key) const { return text(key) == "yes"; }
    bool acceptsRate(double hz) const
    {
        long listed = 0;
        for (const auto& item : splitList(text("rates")))
            if (parseSigned(item, listed) && listed == hz)
                return true;
        return false;
    }
    bool acceptsFrames(long frames) const
    {
        const long minimum = number("min"), step = number("granularity");
        if (frames < minimum || frames > number("max"))
            return false;
        if (step == -1)
            return (frames & (frames - 1)) == 0;
        return step > 0 ? (frames - minimum) % step == 0 : frames == number("preferred");
    }
};

bool parseConfig(const std::string& text, Config& c, std::string& error)
{
    for (size_t pos = 0, end = 0; pos < text.size(); pos = end + 1) {
        end = std::min(text.find('\n', pos), text.size());
        const std::string line = trim(text.substr(pos, end - pos));
        if (line.empty())
            continue;
        const size_t eq = line.find('=');
        const auto known = c.values.find(trim(line.substr(0, eq)));
        const std::string value = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
        long n = 0;
        if (eq == std::string::npos || known == c.values.end() ||
            (parseSigned(known->second, n) && !parseSigned(value, n)) ||
            (known->second == "no" && value != "yes" && value != "no")) {
            error = "bad line '" + line + "'";
            return false;
        }
        known->second = value;
    }
    return parseCallRules(c.text("fail"), c.failingCalls, error);
}

// What every driver object of the DLL shares: the counters, the configuration text and
// how often each call was made.
struct Shared
{
#define POMARO_TEST_ASIO_ATOMIC(name, key, initial) std::atomic<long> name{initial};
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_ATOMIC)
#undef POMARO_TEST_ASIO_ATOMIC
    std::atomic<bool> panelOpen{false}, resetSent{false}, sizeChangeSent{false};
    std::mutex lock; // configuration text and call counts; never taken by the clock thread
    std::string configText;
    std::map<std::string, uint32_t> callCounts;
    void noteCall() { callsInPanel.fetch_add(panelOpen.load() ? 1 : 0); }
} shared;

void writeStatsFile(const std::string& path)
{
    std::FILE* f = path.empty() ? nullptr : _wfopen(widen(path).c_str(), L"wb");
    if (!f)
        return;
#define POMARO_TEST_ASIO_LINE(name, key, initial) std::fprintf(f, "%s=%ld\n", key, shared.name.load());
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
    explicit TestAsioDriver(Config config) : config_(std::move(config)) { shared.instances.fetch_add(1); }
    ~TestAsioDriver() override { stopClock(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv =
            riid == IID_IUnknown || riid == CLSID_PomaroTestAsio ? static_cast<IAsioDriver*>(this) : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return shared.noteCall(), releaseImpl(); }

    ASIOBool STDMETHODCALLTYPE init(void*) override
    {
        called("init");
        return config_.text("init_error").empty();
    }
    void STDMETHODCALLTYPE getErrorMessage(char* text) override
    {
        std::snprintf(text, 124, "%s", config_.text("init_error").c_str());
    }
    ASIOError STDMETHODCALLTYPE getChannels(long* numInputs, long* numOutputs) override
    {
        *numInputs = 0;
        *numOutputs = config_.number("outputs");
        return called("getChannels");
    }
    ASIOError STDMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferred,
                                              long* step) override
    {
        *minSize = config_.number("min");
        *maxSize = config_.number("max");
        *preferred = config_.number("preferred");
        *step = config_.number("granularity");
        return called("getBufferSize");
    }
    ASIOError STDMETHODCALLTYPE canSampleRate(ASIOSampleRate hz) override
    {
        called("canSampleRate");
        return config_.acceptsRate(hz) ? ASE_OK : ASE_NoClock;
    }
    ASIOError STDMETHODCALLTYPE setSampleRate(ASIOSampleRate hz) override
    {
        if (ASIOError e = called("setSampleRate"))
            return e;
        rate_ = config_.acceptsRate(hz) ? hz : rate_;
        return config_.acceptsRate(hz) ? ASE_OK : ASE_NoClock;
    }
    // Calls the host never makes: answered as a driver without them would.
    void STDMETHODCALLTYPE getDriverName(char* name) override { std::strcpy(name, "Pomaro Test ASIO"); }
    long STDMETHODCALLTYPE getDriverVersion() override { return 1; }
    ASIOError STDMETHODCALLTYPE getSampleRate(ASIOSampleRate* hz) override { return *hz = rate_, ASE_OK; }
    ASIOError STDMETHODCALLTYPE getLatencies(long*, long*) override { return ASE_NotPresent; }
    ASIOError STDMETHODCALLTYPE getClockSources(ASIOClockSource*, long*) override { return ASE_NotPresent; }
    ASIOError STDMETHODCALLTYPE setClockSource(long) override { return ASE_NotPresent; }
    ASIOError STDMETHODCALLTYPE getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override
    {
        return ASE_NotPresent;
    }
    ASIOError STDMETHODCALLTYPE future(long, void*) override { return ASE_NotPresent; }
    ASIOError STDMETHODCALLTYPE outputReady() override { return ASE_NotPresent; }

    ASIOError STDMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override
    {
        info->type = config_.number("type");
        return called("getChannelInfo");
    }

    ASIOError STDMETHODCALLTYPE createBuffers(ASIOBufferInfo* infos, long channels, long frames,
                                              ASIOCallbacks* callbacks) override
    {
        if (ASIOError e = called("createBuffers"))
            return e;
        if (channels < 1 || !memory_.empty() || !config_.acceptsFrames(frames))
            return ASE_InvalidMode;
        const long outputs = config_.number("outputs");
        std::vector<char> asked(size_t(outputs), 0);
        for (long i = 0; i < channels; ++i) // each output channel at most once
            if (infos[i].isInput || infos[i].channelNum < 0 || infos[i].channelNum >= outputs ||
                asked[size_t(infos[i].channelNum)]++)
                return ASE_InvalidParameter;
        frames_ = frames;
        callbacks_ = *callbacks;
        const size_t half = size_t(frames) * (config_.number("type") == ASIOSTInt16LSB ? 2 : 4);
        memory_.assign(half * 2 * size_t(channels), 0);
        recorded_[0][0] = recorded_[1][0] = nullptr;
        for (long i = 0; i < channels; ++i)
            for (int h = 0; h < 2; ++h) {
                infos[i].buffers[h] = memory_.data() + (size_t(i) * 2 + h) * half;
                if (infos[i].channelNum < 2)
                    recorded_[infos[i].channelNum][h] = infos[i].buffers[h];
            }
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE disposeBuffers() override
    {
        if (ASIOError e = called("disposeBuffers"))
            return e;
        stopClock();
        memory_.clear();
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE start() override
    {
        if (ASIOError e = called("start"))
            return e;
        if (clock_.joinable())
            clock_.join(); // a clock that ran on after stop and ended by itself
        const long type = config_.number("type");
        const WavSamples samples = type == ASIOSTInt16LSB     ? WavSamples::Int16
                                   : type == ASIOSTFloat32LSB ? WavSamples::Float32
                                                              : WavSamples::Int32;
        const std::string& wav = config_.text("wav");
        wav_ = wav.empty() ? nullptr : &openRecording(widen(wav), samples, uint32_t(rate_));
        if (config_.flag("callback_in_start")) {
            shared.callbacksInStart.fetch_add(1);
            callbacks_.bufferSwitch(0, 1);
        }
        stopping_.store(false);
        running_.store(true);
        clock_ = std::thread([this] { clockLoop(); });
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE stop() override
    {
        if (ASIOError e = called("stop"))
            return e;
        // With switches to make after stop: returns at once, the clock makes them back to back.
        if (config_.number("after_stop") > 0 && running_.load())
            stopping_.store(true);
        else
            stopClock();
        return ASE_OK;
    }

    ASIOError STDMETHODCALLTYPE controlPanel() override
    {
        called("controlPanel");
        if (config_.text("panel") == "reset" && callbacks_.asioMessage) {
            // As when the user changes the buffer size in a panel: the request reaches the
            // host while the panel's own modal loop runs.
            shared.panelOpen.store(true);
            shared.messagesSent.fetch_add(1);
            shared.resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
            MessageBoxW(nullptr, L"The buffer size was changed.", L"Pomaro Test ASIO", MB_OK);
            shared.panelOpen.store(false);
        }
        return ASE_OK;
    }

private:
    // Counts the call and answers what the configuration says for it.
    ASIOError called(const char* call) const
    {
        shared.noteCall();
        std::lock_guard<std::mutex> hold(shared.lock);
        const uint32_t nth = ++shared.callCounts[call];
        for (const auto& f : config_.failingCalls)
            if (f.name == call && (f.nth == 0 || f.nth == nth))
                return ASE_HWMalfunction;
        return ASE_OK;
    }

    void stopClock()
    {
        // A clock with switches left after stop makes them before it ends.
        if (!stopping_.load())
            running_.store(false);
        if (clock_.joinable())
            clock_.join();
        running_.store(false);
        writeStatsFile(config_.text("stats"));
    }

    // Each message goes out once per process (until a test configures the driver again),
    // so the host's restart does not bring it back with the next driver object; a reset
    // "after every init" goes out once per driver object instead.
    void sendMessages(long completed)
    {
        const long sizeAt = config_.number("size_change_after"), to = config_.number("size_change_to");
        const long resetAt = config_.number("reset_after");
        bool sent = false;
        if (sizeAt > 0 && completed >= sizeAt && shared.sizeChangeSent.compare_exchange_strong(sent, true)) {
            shared.messagesSent.fetch_add(1);
            shared.sizeChangeAnswer.store(
                callbacks_.asioMessage(kAsioBufferSizeChange, to > 0 ? to : frames_, nullptr, nullptr));
        }
        sent = false;
        if (resetAt > 0 && completed >= resetAt &&
            (config_.flag("reset_every_init") ? !std::exchange(resetSentHere_, true)
                                              : shared.resetSent.compare_exchange_strong(sent, true)))
            for (long i = 0; i < config_.number("reset_burst"); ++i) {
                shared.messagesSent.fetch_add(1);
                shared.resetAnswer.store(callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
            }
    }

    void clockLoop()
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        const auto period = std::chrono::microseconds(static_cast<long long>(frames_ * 1000000.0 / rate_));
        const Clock::time_point begin = Clock::now();
        const long threadEvery = config_.number("thread_every");
        long index = 0, completed = 0, afterStop = config_.number("after_stop");
        for (long k = 1; running_.load(std::memory_order_acquire); ++k) {
            if (stopping_.load()) {
                if (afterStop-- == 0)
                    break;
                shared.callbacksAfterStop.fetch_add(1);
                Sleep(1);
            } else { // the first half one period after start
                while (Clock::now() < begin + k * period && running_.load() && !stopping_.load())
                    Sleep(1);
                if (!running_.load() || stopping_.load())
                    continue;
            }
            if (threadEvery > 0 && k % threadEvery == 0) {
                shared.threadCallbacks.fetch_add(1);
                std::thread([this, index] { callbacks_.bufferSwitch(index, 1); }).join();
            } else {
                callbacks_.bufferSwitch(index, 1);
            }
            if (wav_ && wav_->isOpen() && recorded_[0][index] && recorded_[1][index])
                wav_->appendChannels(recorded_[0][index], recorded_[1][index],
                                     static_cast<uint32_t>(frames_));
            sendMessages(++completed);
            index ^= 1;
        }
        running_.store(false, std::memory_order_release);
    }

    Config config_;
    bool resetSentHere_ = false;
    double rate_ = 48000.0;
    long frames_ = 0;
    ASIOCallbacks callbacks_{};
    std::vector<unsigned char> memory_; // every channel's two halves
    void* recorded_[2][2] = {};         // the halves of channels 0 and 1
    std::thread clock_;
    std::atomic<bool> running_{false}, stopping_{false}; // stopping: stop returned, switches still follow
    WavFile* wav_ = nullptr;                             // the process's recording, shared by restarts
};

HRESULT createDriver(REFIID riid, void** ppv)
{
    // The text a test set, else the file named in the class key, else defaults.
    Config config;
    std::string text, error = "cannot read the configuration file";
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        text = shared.configText;
    }
    const std::wstring path =
        configPath(nullptr, HKEY_CLASSES_ROOT, L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT, L"PomaroConfig");
    if ((text.empty() && !path.empty() && !readTextFile(path, text)) || !parseConfig(text, config, error)) {
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

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() { return canUnloadNow(); }

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioConfigure(const char* text)
{
#define POMARO_TEST_ASIO_RESET(name, key, initial) shared.name = initial;
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_RESET)
#undef POMARO_TEST_ASIO_RESET
    shared.resetSent = shared.sizeChangeSent = false;
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.callCounts.clear();
    shared.configText = text ? text : "";
}
