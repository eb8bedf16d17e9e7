#include "testdrivers/asio/DriverState.h"

#include "testdrivers/common/ConfigFile.h"

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

} // namespace

SharedCounters& counters()
{
    static SharedCounters c;
    return c;
}

PomaroTestAsioStats snapshotStats()
{
    PomaroTestAsioStats s{};
#define POMARO_TEST_ASIO_COPY(name, key, initial) s.name = counters().name.load();
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_COPY)
#undef POMARO_TEST_ASIO_COPY
    return s;
}

void resetState()
{
    SharedCounters& c = counters();
    const long live = c.liveInstances.load();
#define POMARO_TEST_ASIO_RESET(name, key, initial) c.name = initial;
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_RESET)
#undef POMARO_TEST_ASIO_RESET
    c.liveInstances = live;
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
        const std::wstring path =
            PomaroTestDrivers::configPath(POMARO_TEST_ASIO_CONFIG_ENV, HKEY_CLASSES_ROOT,
                                          L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT, L"PomaroConfig");
        if (!path.empty() && !PomaroTestDrivers::readTextFile(path, text)) {
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
    std::FILE* f = _wfopen(PomaroTestDrivers::widen(path).c_str(), L"wb");
    if (!f)
        return;
    const PomaroTestAsioStats s = snapshotStats();
#define POMARO_TEST_ASIO_LINE(name, key, initial) std::fprintf(f, "%s=%ld\n", key, s.name);
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_LINE)
#undef POMARO_TEST_ASIO_LINE
    std::fclose(f);
}

} // namespace PomaroTestAsio
