#pragma once

#include "app/Host.h"

#include <vector>

namespace PomaroTest {

namespace K = Kelvane;

// A device that answers every call as an idle 48 kHz one; the tests' devices override what they check.
struct StubDevice : K::CAudioDevice
{
    bool start() override { return true; }
    bool stop() override { return true; }
    int32_t getIndex() override { return 0; }
    const wchar_t* getName() override { return L"stub"; }
    bool isInterleaved() override { return true; }
    K::DriverType getDriverType() override { return K::DriverWasapi; }
    K::SampleFormat getSampleFormat() override { return K::SampleFormatInt16; }
    K::SampleRate getSampleRate() override { return K::Rate48000; }
    int32_t getSupportedSampleRates() override { return K::Rate48000; }
    bool getBufferSizeRange(K::SampleRate, int32_t*, int32_t*, int32_t*, int32_t*) override { return false; }
    bool open(HWND) override { return true; }
    bool close() override { return true; }
    bool prepare(K::SampleRate, int32_t, IDataProvider*) override { return true; }
    bool unprepare() override { return true; }
    bool hasControlPanel() override { return false; }
    bool showControlPanel() override { return false; }
};

// Counts starts and stops; start can ask for the first buffer before it returns, as a WASAPI
// device does.
struct CountingDevice : StubDevice
{
    explicit CountingDevice(PomaroApp::CHost& h) : host(h) {}
    PomaroApp::CHost& host;
    bool startResult = true, renderInsideStart = false;
    int starts = 0, stops = 0;

    bool start() override
    {
        ++starts;
        if (renderInsideStart) {
            std::vector<short> buffer(static_cast<size_t>(host.blockSize) * 2);
            host.onRender(buffer.data(), nullptr);
        }
        return startResult;
    }
    bool stop() override { return ++stops, true; }
};

} // namespace PomaroTest
