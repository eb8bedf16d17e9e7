#pragma once
// A host whose MIDI input is recorded, an audio device that only counts, and helpers
// for the UI thread's queue.

#include "app/Host.h"

#include <array>
#include <vector>

namespace PomaroTest {

using MidiBytes = std::array<uint8_t, 4>;

class RecordingHost : public PomaroApp::CHost
{
public:
    void onMidiData(const uint8_t* message) override
    {
        received.push_back(MidiBytes{message[0], message[1], message[2], message[3]});
        CHost::onMidiData(message);
    }

    std::vector<MidiBytes> received;
};

// Counts starts and stops; start can ask for the first buffer before it returns, as a
// WASAPI device does.
class CountingDevice : public Kelvane::CAudioDevice
{
public:
    explicit CountingDevice(PomaroApp::CHost& h) : host(h) {}
    bool startResult = true;
    bool renderInsideStart = false;
    int starts = 0, stops = 0;
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
    bool stop() override { return ++stops, true; }
    int32_t getIndex() override { return 0; }
    const wchar_t* getName() override { return L"counting"; }
    bool isInterleaved() override { return true; }
    Kelvane::DriverType getDriverType() override { return Kelvane::DriverWasapi; }
    Kelvane::SampleFormat getSampleFormat() override { return Kelvane::SampleFormatInt16; }
    Kelvane::SampleRate getSampleRate() override { return Kelvane::Rate48000; }
    int32_t getSupportedSampleRates() override { return Kelvane::Rate48000; }
    bool getBufferSizeRange(Kelvane::SampleRate, int32_t*, int32_t*, int32_t*, int32_t*) override
    {
        return false;
    }
    bool open(HWND) override { return true; }
    bool close() override { return true; }
    bool prepare(Kelvane::SampleRate, int32_t, IDataProvider*) override { return true; }
    bool unprepare() override { return true; }
    bool hasControlPanel() override { return false; }
    bool showControlPanel() override { return false; }

private:
    PomaroApp::CHost& host;
};

// Module handle for the host's window classes, as the entry point sets it.
void useTestModule();
// Removes everything left in this thread's queue, WM_QUIT included.
void drainThreadQueue();

} // namespace PomaroTest
