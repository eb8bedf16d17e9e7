#pragma once
// A CHost holding the recorder test plug-in as the loader leaves it (created,
// initialised: state 2), and an audio device that only counts and can render.

#include "app/Host.h"
#include "tests/plugins/LogLines.h"

#include <string>
#include <vector>

namespace ProcessingTest {

class FakeDevice : public Kelvane::CAudioDevice
{
public:
    explicit FakeDevice(PomaroApp::CHost& h) : host(h) {}
    bool startResult = true;
    bool renderInsideStart = false; // asks for the first buffer before start returns
    int starts = 0;
    int stops = 0;
    bool firstRender = false;
    std::vector<short> buffer;

    bool start() override
    {
        ++starts;
        if (renderInsideStart) {
            buffer.assign(static_cast<size_t>(host.blockSize) * 2, 0x55);
            firstRender = host.onRender(buffer.data(), nullptr);
        }
        return startResult;
    }
    bool stop() override
    {
        ++stops;
        return true;
    }
    int32_t getIndex() override { return 0; }
    const wchar_t* getName() override { return L"fake"; }
    bool isInterleaved() override { return true; }
    Kelvane::DriverType getDriverType() override { return Kelvane::DriverWasapi; }
    Kelvane::SampleFormat getSampleFormat() override { return Kelvane::SampleFormatInt16; }
    Kelvane::SampleRate getSampleRate() override { return Kelvane::Rate48000; }
    int32_t getSupportedSampleRates() override { return Kelvane::Rate48000; }
    bool getBufferSizeRange(Kelvane::SampleRate, int32_t*, int32_t*, int32_t*, int32_t*) override { return false; }
    bool open(HWND) override { return true; }
    bool close() override { return true; }
    bool prepare(Kelvane::SampleRate, int32_t, IDataProvider*) override { return true; }
    bool unprepare() override { return true; }
    bool hasControlPanel() override { return false; }
    bool showControlPanel() override { return false; }

private:
    PomaroApp::CHost& host;
};

// Loads testplugins\<variant>.vst3 into host (hModule, pComponent, pProcessor) and
// initialises the component; the recorder writes its log to logPath().
bool loadRecorder(PomaroApp::CHost& host, const std::wstring& variant);
std::wstring recorderLogPath(const std::wstring& variant);

// The recorder's calls of the given names, in the order they began.
std::vector<TestPlugins::LogLine> recorderCalls(const std::wstring& variant, const std::vector<std::string>& calls);
// "<call> <arg>=<value>" shorthand of a line, for comparing sequences.
std::string brief(const TestPlugins::LogLine& line, const char* arg = nullptr);

} // namespace ProcessingTest
