// MIDI input ports against a stand-in for winmm's MIDI service that, like winmm, delivers MIM_OPEN before
// open returns and MIM_CLOSE before close returns, and data only to a started device, here on the caller's
// thread. Its own thread, long names and closing amid a flood run in tests/e2e/test_keyboard_strip.py.
#include "input/MidiInPort.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

using Kelvane::CMidiInPort;
using Message = std::array<uint8_t, 4>;

namespace {

struct Device
{
    std::wstring name;
    int failingStep = 0; // 1: capabilities, 2: open (held by another program), 3: start
    bool open = false, started = false;
    DWORD_PTR callback = 0, instance = 0;
};

std::vector<Device> g_devices;
int g_misuse = 0; // calls a careful caller never makes: bad arguments, stale handles, calls from a callback
bool g_inCallback = false;

void deliver(Device& d, UINT message, DWORD_PTR param1)
{
    g_inCallback = true;
    reinterpret_cast<Kelvane::MidiInCallback>(d.callback)(HMIDIIN(&d), message, d.instance, param1, 0);
    g_inCallback = false;
}
// Starts, stops or closes the device behind a handle; a stale handle or a call from a callback is a misuse.
MMRESULT change(HMIDIIN handle, bool start, bool close = false)
{
    auto d = std::find_if(g_devices.begin(), g_devices.end(), [&](auto& d) { return HMIDIIN(&d) == handle; });
    if (d == g_devices.end() || !d->open || g_inCallback)
        return ++g_misuse, MMSYSERR_INVALHANDLE;
    if (close)
        deliver(*d, MIM_CLOSE, 0), d->open = false;
    d->started = start && d->failingStep != 3;
    return start && !d->started ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}
int openCount()
{
    return int(std::count_if(g_devices.begin(), g_devices.end(), [](auto& d) { return d.open; }));
}

const Kelvane::MidiApi g_api = {
    [] { return UINT(g_devices.size()); },
    [](UINT_PTR id, MIDIINCAPSW* caps, UINT size) {
        if (id >= g_devices.size() || !caps || size < sizeof(MIDIINCAPSW))
            return ++g_misuse, MMSYSERR_INVALPARAM;
        *caps = MIDIINCAPSW{};
        g_devices[id].name.copy(caps->szPname, MAXPNAMELEN - 1);
        return g_devices[id].failingStep == 1 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    },
    [](HMIDIIN* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
        if (!handle || flags != CALLBACK_FUNCTION || !callback || id >= g_devices.size() ||
            g_devices[id].open)
            return ++g_misuse, MMSYSERR_ALLOCATED;
        Device& d = g_devices[id];
        *handle = HMIDIIN(&d); // written even when the open fails, as winmm may
        if (d.failingStep == 2)
            return MMSYSERR_ALLOCATED;
        d = Device{d.name, d.failingStep, true, false, callback, instance};
        deliver(d, MIM_OPEN, 0);
        return MMSYSERR_NOERROR;
    },
    [](HMIDIIN handle) { return change(handle, true); },
    [](HMIDIIN handle) { return change(handle, false); },
    [](HMIDIIN handle) { return change(handle, false, true); },
};

// A short message from device d as winmm packs it, status in the low byte; lost unless started.
void send(size_t d, const Message& m)
{
    if (g_devices[d].started)
        deliver(g_devices[d], MIM_DATA, m[0] | m[1] << 8 | m[2] << 16 | DWORD_PTR(m[3]) << 24);
}

struct Listener final : Kelvane::IMidiDataListener
{
    void onMidiData(const uint8_t* m) override { received.push_back({m[0], m[1], m[2], m[3]}); }
    std::vector<Message> received;
};

} // namespace

TEST(Midi, EveryDeviceThatWorksIsOpenedAndPassesItsMessagesWhole)
{
    Kelvane::setMidiApiForTesting(&g_api);
    g_devices = {{L"Keys A"}, {L"Held", 2}, {L"Stuck", 3}, {L"Ghost", 1}, {L"Pads"}};
    LogCapture log;
    Listener listener, other;
    {
        Kelvane::CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_EQ(list.count, 5);
        EXPECT_EQ(openCount(), 2);
        EXPECT_EQ(log.lines(), (std::vector<std::wstring>{
                                   L"MIDI入力を開始しました：Keys A", L"MIDI入力を開始しました：Stuck",
                                   L"MIDI入力を終了しました：Stuck", L"MIDI入力を開始しました：Pads"}));

        // From either port, and nothing but data.
        const std::vector<Message> messages = {{0x90, 0x3C, 0x64, 0}, {0xE5, 1, 0x7F, 0xA5}};
        send(0, messages[0]), send(4, messages[1]);
        CMidiInPort& port = list.ports[0];
        const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&port);
        for (UINT message : {MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA, 0u})
            CMidiInPort::midiInProc(port.handle, message, self, 0x00643C90, 0);
        CMidiInPort::midiInProc(port.handle, MIM_DATA, 0, 0x00643C90, 0); // no port
        EXPECT_EQ(listener.received, messages);

        // A port reopens for another listener; closed, it hands nothing on, however late.
        EXPECT_FALSE(port.open(0, nullptr));
        ASSERT_TRUE(port.open(0, &other));
        send(0, messages[0]);
        port.close();
        port.close();
        CMidiInPort::midiInProc(nullptr, MIM_DATA, self, 0x00643C90, 0);
        EXPECT_EQ(other.received, std::vector<Message>{messages[0]});
        EXPECT_EQ(listener.received.size(), messages.size());

        EXPECT_FALSE(list.openAll(nullptr));  // changes nothing
        ASSERT_TRUE(list.openAll(&listener)); // closes the first opening's ports, then reopens
        EXPECT_EQ(openCount(), 2);
        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(openCount(), 0);
        ASSERT_TRUE(list.openAll(&listener));
    } // the list's destructor closes what is open
    EXPECT_EQ(openCount(), 0);

    g_devices.clear();
    EXPECT_FALSE(Kelvane::CMidiInPortList().openAll(&listener));
    EXPECT_EQ(g_misuse, 0);
    Kelvane::setMidiApiForTesting(nullptr);
}
