// The test WASAPI endpoint: exclusive, event-driven streams paced by a clock thread that plays the
// part of the hardware, and a recording of what the client released. Configured by the UTF-8 file
// named by POMARO_TEST_ENDPOINT_CONFIG, else by the REG_SZ value Config of
// HKEY_CURRENT_USER\Software\PomaroTest\Endpoint:
//   wav = C:\out\render.wav      (what clients render; render.wav.stats.txt: misuse=N, calls out of order)
//   fail = EnumAudioEndpoints:0x80004005
//   [endpoint]                    (one section per endpoint, in collection order)
//   name = Speakers (Test)        (no key: the friendly name reads as VT_EMPTY)
//   rates = 44100, 48000          (exclusive 16-bit stereo PCM)   period / min_period = 100000 (100 ns)
//   not_aligned = 480  aligned = 512  (480 frames answer NOT_ALIGNED, aligned 512)   extra_frames = 32
//   fail = Initialize#2:0x88890004, GetBuffer   (#n: only the n-th call; default result E_FAIL)

#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"
#include "testdrivers/common/WavFile.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <propvarutil.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

// The calls a test can make fail; the first only before the first [endpoint], the rest only in one.
const char* const kCalls[] = {"EnumAudioEndpoints", "GetDevice", "Activate",     "GetDevicePeriod",
                              "Initialize",         "GetBuffer", "ReleaseBuffer"};
size_t callIndex(const std::string& name)
{
    return size_t(std::find(std::begin(kCalls), std::end(kCalls), name) - kCalls);
}

// Counts calls and answers the injected result (0: proceed), from any thread.
struct FaultPlan
{
    std::vector<CallRule> rules; // names checked against kCalls
    std::atomic<uint32_t> counts[std::size(kCalls)] = {};
    HRESULT onCall(const char* call)
    {
        const uint32_t n = counts[callIndex(call)].fetch_add(1, std::memory_order_relaxed) + 1;
        for (const auto& r : rules)
            if (r.name == call && (r.nth == 0 || r.nth == n))
                return HRESULT(r.code ? r.code : 0x80004005u); // E_FAIL unless the test names another
        return S_OK;
    }
};

struct EndpointSetup
{
    std::wstring id, name, wavPath;
    bool hasName = false;
    std::vector<uint32_t> rates{44100, 48000}; // Hz
    uint32_t defaultPeriod = 100000, minPeriod = 30000;
    uint32_t notAlignedRequest = 0, notAlignedAnswer = 0, extraFrames = 0;
    FaultPlan faults;
};

// One enumerator's view of the endpoints; what is made from it holds it through its endpoint.
struct EndpointModel
{
    FaultPlan faults;                    // enumerator level
    std::deque<EndpointSetup> endpoints; // never moved
};
using Endpoint = std::shared_ptr<EndpointSetup>;

bool number(const std::string& text, uint32_t& out)
{
    uint64_t v = 0;
    const bool ok = parseUnsigned(text, v) && v <= 0xFFFFFFFFu;
    out = ok ? uint32_t(v) : out;
    return ok;
}

// What is wrong with the rules; empty when they are good.
std::string parseFailRules(const std::string& text, bool enumeratorLevel, FaultPlan& plan)
{
    std::string error;
    if (!parseCallRules(text, plan.rules, error))
        return error;
    // A rule where its call is never made would pass a test silently.
    for (const CallRule& r : plan.rules)
        if (callIndex(r.name) == std::size(kCalls) || (callIndex(r.name) == 0) != enumeratorLevel)
            return "no call '" + r.name + "' to fail here";
    return error;
}

const std::pair<const char*, uint32_t EndpointSetup::*> kNumbers[] = {
    {"period", &EndpointSetup::defaultPeriod},
    {"min_period", &EndpointSetup::minPeriod},
    {"not_aligned", &EndpointSetup::notAlignedRequest},
    {"aligned", &EndpointSetup::notAlignedAnswer},
    {"extra_frames", &EndpointSetup::extraFrames}};

std::string endpointKey(EndpointSetup& e, const std::string& key, const std::string& value)
{
    bool ok = true;
    if (key == "name") {
        e.name = widen(value);
        e.hasName = true;
    } else if (key == "rates") {
        e.rates.clear();
        for (const std::string& item : splitList(value))
            ok = number(item, e.rates.emplace_back()) && ok;
    } else if (key == "fail") {
        return parseFailRules(value, false, e.faults);
    } else {
        const auto n =
            std::find_if(std::begin(kNumbers), std::end(kNumbers), [&](auto& n) { return key == n.first; });
        if (n == std::end(kNumbers))
            return "unknown key '" + key + "' in [endpoint]";
        ok = number(value, e.*n->second);
    }
    return ok ? "" : "bad " + key + " '" + value + "'";
}

// False with the first bad line and what is wrong with it in error.
bool parseConfig(const std::string& text, EndpointModel& c, std::string& error)
{
    std::istringstream in(text);
    std::wstring wav;
    for (std::string raw; error.empty() && std::getline(in, raw);) {
        const std::string line = trim(raw);
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        std::string why;
        if (line == "[endpoint]") {
            c.endpoints.emplace_back().id =
                L"{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_wstring(c.endpoints.size()) + L"}";
            c.endpoints.back().wavPath = wav;
        } else if (!line.empty() && eq == line.npos) {
            why = "expected [endpoint] or key = value";
        } else if (!line.empty()) {
            why = !c.endpoints.empty() ? endpointKey(c.endpoints.back(), key, value)
                  : key == "fail"      ? parseFailRules(value, true, c.faults)
                  : key == "wav"       ? (wav = widen(value), "")
                                       : "unknown key '" + key + "'";
        }
        error = why.empty() ? "" : "'" + line + "': " + why;
    }
    return error.empty();
}

constexpr int64_t kHnsPerSecond = 10000000;

// Everything the process's clients rendered: one WAV file that successive streams append
// to (the first stream, or one of a new path, starts it afresh), and each stream's counters.
struct Recorder
{
    std::mutex mutex;
    WavFile wav;
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
            wav.attach(f, WavSamples::Int16, rate);
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

class AudioClient final : public ComObject<IAudioClient, IAudioRenderClient>
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
        if (!(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) || IsFormatSupported(mode, format, nullptr) != S_OK)
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
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
    // The only format recorded: exclusive 16-bit stereo PCM at one of the endpoint's rates.
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* w,
                                                WAVEFORMATEX**) override
    {
        const auto& rates = e_->rates;
        const bool ok = w->wFormatTag == WAVE_FORMAT_PCM && w->nChannels == 2 && w->wBitsPerSample == 16 &&
                        w->nBlockAlign == 4 && w->nAvgBytesPerSec == w->nSamplesPerSec * 4u &&
                        std::find(rates.begin(), rates.end(), w->nSamplesPerSec) != rates.end();
        return mode != AUDCLNT_SHAREMODE_EXCLUSIVE ? E_NOTIMPL : ok ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
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
        ResetEvent(stopEvent_);
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
        SetEvent(stopEvent_);
        clock_.join();
        g_recorder.end("misuse=" + std::to_string(misuse_) + "\n");
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
        for (uint64_t index = 1; WaitForSingleObject(stopEvent_, 0) == WAIT_TIMEOUT;) {
            QueryPerformanceCounter(&now);
            const int64_t due = startTicks + int64_t(std::llround(double(index) * periodTicks));
            if (due > now.QuadPart) {
                // Wake on time or at once when the stream stops.
                WaitForSingleObject(stopEvent_, DWORD((due - now.QuadPart + ticksPerMs - 1) / ticksPerMs));
                continue;
            }
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
    std::atomic<uint64_t> misuse_{0};
    HANDLE stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); // owned; wakes the clock thread
    std::thread clock_;
};

// PKEY_Device_FriendlyName: the one property an endpoint has, its configured name.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// An endpoint and its property store, which holds just its name.
class Device final : public ComObject<IMMDevice, IPropertyStore>
{
public:
    explicit Device(Endpoint e) : e_(std::move(e)) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppv) override
    {
        *ppv = nullptr;
        if (HRESULT hr = e_->faults.onCall("Activate"))
            return hr;
        if (iid != __uuidof(IAudioClient) && iid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = static_cast<IAudioClient*>(new AudioClient(e_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override
    {
        *out = nullptr;
        return access != STGM_READ ? E_ACCESSDENIED : QueryInterface(IID_PPV_ARGS(out));
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override { return SHStrDupW(e_->id.c_str(), id); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        PropVariantInit(value);
        // A property the endpoint lacks reads as VT_EMPTY with success, as on the system.
        const bool named = e_->hasName && key.pid == kFriendlyName.pid && key.fmtid == kFriendlyName.fmtid;
        return named ? InitPropVariantFromString(e_->name.c_str(), value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }

private:
    const Endpoint e_;
};

// The enumerator and the one collection it lists: every endpoint, as an active render endpoint.
class Enumerator final : public ComObject<IMMDeviceEnumerator, IMMDeviceCollection>
{
public:
    explicit Enumerator(std::shared_ptr<EndpointModel> model) : model_(std::move(model)) {}
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection** out) override
    {
        *out = nullptr;
        const HRESULT hr = model_->faults.onCall("EnumAudioEndpoints");
        return hr ? hr : QueryInterface(IID_PPV_ARGS(out));
    }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override
    {
        return *count = UINT(model_->endpoints.size()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT i, IMMDevice** out) override
    {
        *out = i < model_->endpoints.size() ? new Device(Endpoint(model_, &model_->endpoints[i])) : nullptr;
        return *out ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override
    {
        *out = nullptr;
        for (EndpointSetup& e : model_->endpoints)
            if (e.id == id) {
                const HRESULT hr = e.faults.onCall("GetDevice");
                *out = FAILED(hr) ? nullptr : new Device(Endpoint(model_, &e));
                return hr;
            }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    // Calls the program never makes.
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }

private:
    const std::shared_ptr<EndpointModel> model_;
};

HRESULT createEnumerator(REFIID riid, void** ppv)
{
    auto model = std::make_shared<EndpointModel>();
    // The file named by the environment, else by the registry.
    const std::wstring path = configPath(L"POMARO_TEST_ENDPOINT_CONFIG", HKEY_CURRENT_USER,
                                         L"Software\\PomaroTest\\Endpoint", L"Config");
    std::string text, error = "cannot read the file";
    if (!readTextFile(path, text) || (error.clear(), !parseConfig(text, *model, error))) {
        std::fwprintf(stderr, L"PomaroTestEndpoint: %ls: %hs\n", path.c_str(), error.c_str());
        return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
    }
    return handOver(new Enumerator(std::move(model)), riid, ppv);
}

} // namespace

} // namespace PomaroTestEndpoint

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return PomaroTestDrivers::getClassObject(clsid, __uuidof(MMDeviceEnumerator),
                                             PomaroTestEndpoint::createEnumerator, riid, ppv);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return PomaroTestDrivers::canUnloadNow();
}
