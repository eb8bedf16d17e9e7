#include "testdrivers/asio/DriverState.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <mutex>

namespace PomaroTestAsio {

namespace {

std::mutex g_lock; // configuration text and call log; never taken by the clock thread
std::string g_configText;
bool g_hasConfigText = false;
std::string g_calls;
std::map<std::string, uint32_t> g_callCounts;

std::wstring widen(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), &w[0], n);
    return w;
}

bool readFile(const std::wstring& path, std::string& text)
{
    std::FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    char buffer[4096];
    size_t n;
    text.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return true;
}

bool configFileFromRegistry(std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const bool ok = RegQueryValueExW(key, L"PomaroConfig", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                     &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
    RegCloseKey(key);
    if (ok)
        path = value;
    return ok && !path.empty();
}

} // namespace

SharedCounters& counters()
{
    static SharedCounters c;
    return c;
}

PomaroTestAsioStats snapshotStats()
{
    SharedCounters& c = counters();
    PomaroTestAsioStats s{};
    s.instances = c.instances.load();
    s.liveInstances = c.liveInstances.load();
    s.callbacks = c.callbacks.load();
    s.timeInfoCallbacks = c.timeInfoCallbacks.load();
    s.lateCallbacks = c.lateCallbacks.load();
    s.maxLateMicros = c.maxLateMicros.load();
    s.sampleRate = c.sampleRate.load();
    s.bufferFrames = c.bufferFrames.load();
    s.resetAnswer = c.resetAnswer.load();
    s.sizeChangeAnswer = c.sizeChangeAnswer.load();
    s.messagesSent = c.messagesSent.load();
    s.callbacksAfterStop = c.callbacksAfterStop.load();
    s.callbacksInStart = c.callbacksInStart.load();
    s.threadCallbacks = c.threadCallbacks.load();
    s.callsInPanel = c.callsInPanel.load();
    return s;
}

void resetState()
{
    SharedCounters& c = counters();
    c.instances = 0;
    c.callbacks = 0;
    c.timeInfoCallbacks = 0;
    c.lateCallbacks = 0;
    c.maxLateMicros = 0;
    c.sampleRate = 0;
    c.bufferFrames = 0;
    c.resetAnswer = -1;
    c.sizeChangeAnswer = -1;
    c.messagesSent = 0;
    c.callbacksAfterStop = 0;
    c.callbacksInStart = 0;
    c.threadCallbacks = 0;
    c.callsInPanel = 0;
    c.resetSent = false;
    c.sizeChangeSent = false;
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
    g_callCounts.clear();
}

uint32_t logCall(const char* name)
{
    if (counters().panelOpen.load())
        counters().callsInPanel.fetch_add(1);
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_calls.empty())
        g_calls += ' ';
    g_calls += name;
    return ++g_callCounts[name];
}

std::string callLog()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_calls;
}

void setConfigText(const char* text)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_hasConfigText = text != nullptr;
    g_configText = text ? text : "";
}

bool loadConfig(AsioTestConfig& out, std::string& error)
{
    std::string text;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (g_hasConfigText)
            text = g_configText;
    }
    if (text.empty()) {
        std::wstring path;
        wchar_t env[1024];
        const DWORD n = GetEnvironmentVariableW(POMARO_TEST_ASIO_CONFIG_ENV, env, 1024);
        if (n > 0 && n < 1024)
            path = env;
        else
            configFileFromRegistry(path);
        if (!path.empty() && !readFile(path, text)) {
            error = "cannot read the configuration file";
            return false;
        }
    }
    return parseAsioTestConfig(text, out, error);
}

PomaroTestDrivers::WavFile& openRecording(const std::wstring& path, PomaroTestDrivers::WavSamples samples,
                                          uint32_t rate)
{
    static PomaroTestDrivers::WavFile writer;
    static std::wstring openPath;
    if (!writer.isOpen() || path != openPath || samples != writer.samples() || rate != writer.rate()) {
        writer.attach(_wfopen(path.c_str(), L"wb"), samples, rate);
        openPath = path;
    }
    return writer;
}

void writeStatsFile(const std::string& path)
{
    if (path.empty())
        return;
    std::FILE* f = _wfopen(widen(path).c_str(), L"wb");
    if (!f)
        return;
    const PomaroTestAsioStats s = snapshotStats();
    std::fprintf(
        f,
        "instances=%ld\ncallbacks=%ld\ntime_info_callbacks=%ld\nlate_callbacks=%ld\nmax_late_us=%ld\n"
        "sample_rate=%ld\nbuffer_frames=%ld\nreset_answer=%ld\nsize_change_answer=%ld\nmessages_sent=%ld\n"
        "callbacks_after_stop=%ld\ncallbacks_in_start=%ld\nthread_callbacks=%ld\ncalls_in_panel=%ld\n",
        s.instances, s.callbacks, s.timeInfoCallbacks, s.lateCallbacks, s.maxLateMicros, s.sampleRate,
        s.bufferFrames, s.resetAnswer, s.sizeChangeAnswer, s.messagesSent, s.callbacksAfterStop,
        s.callbacksInStart, s.threadCallbacks, s.callsInPanel);
    std::fclose(f);
}

} // namespace PomaroTestAsio
