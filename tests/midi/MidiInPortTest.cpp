// MIDI input ports against a stand-in for winmm's MIDI service that, like winmm, delivers
// MIM_OPEN before open returns and MIM_CLOSE before close returns, and data only to a started
// device. It delivers on the caller's thread; the real service's own thread, long port names
// and closing while a port floods run end to end under Wine (tests/e2e/test_keyboard_strip.py).
#include "input/MidiInPort.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

using Kelvane::CMidiInPort;

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

HMIDIIN handleOf(Device& d) { return reinterpret_cast<HMIDIIN>(&d); }
void deliver(Device& d, UINT message, DWORD_PTR param1)
{
    g_inCallback = true;
    reinterpret_cast<Kelvane::MidiInCallback>(d.callback)(handleOf(d), message, d.instance, param1, 0);
    g_inCallback = false;
}
// The device behind a handle, unless the call is a misuse.
Device* find(HMIDIIN handle)
{
    for (Device& d : g_devices)
        if (handleOf(d) == handle && d.open && !g_inCallback)
            return &d;
    return ++g_misuse, nullptr;
}
MMRESULT step(const Device& d, int which)
{
    return d.failingStep == which ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}
int openCount()
{
    return int(std::count_if(g_devices.begin(), g_devices.end(), [](auto& d) { return d.open; }));
}

UINT WINAPI numDevs() { return UINT(g_devices.size()); }
MMRESULT WINAPI devCaps(UINT_PTR id, MIDIINCAPSW* caps, UINT size)
{
    if (id >= g_devices.size() || !caps || size < sizeof(MIDIINCAPSW))
        return ++g_misuse, MMSYSERR_INVALPARAM;
    *caps = MIDIINCAPSW{};
    g_devices[id].name.copy(caps->szPname, MAXPNAMELEN - 1);
    return step(g_devices[id], 1);
}
MMRESULT WINAPI open(HMIDIIN* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (!handle || flags != CALLBACK_FUNCTION || !callback || id >= g_devices.size() || g_devices[id].open)
        return ++g_misuse, MMSYSERR_ALLOCATED;
    Device& d = g_devices[id];
    if (step(d, 2) != MMSYSERR_NOERROR)
        return step(d, 2);
    d = Device{d.name, d.failingStep, true, false, callback, instance};
    *handle = handleOf(d);
    deliver(d, MIM_OPEN, 0);
    return MMSYSERR_NOERROR;
}
template <bool starting> MMRESULT WINAPI setStarted(HMIDIIN handle)
{
    Device* d = find(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    d->started = starting && step(*d, 3) == MMSYSERR_NOERROR;
    return starting ? step(*d, 3) : MMSYSERR_NOERROR;
}
MMRESULT WINAPI close(HMIDIIN handle)
{
    Device* d = find(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    deliver(*d, MIM_CLOSE, 0);
    d->open = d->started = false;
    return MMSYSERR_NOERROR;
}
// A short message (status in the low byte) from device d, lost unless the device is started.
void send(size_t d, DWORD_PTR message)
{
    if (g_devices[d].started)
        deliver(g_devices[d], MIM_DATA, message);
}

struct Listener final : Kelvane::IMidiDataListener
{
    void onMidiData(const uint8_t* m) override { received.push_back({m[0], m[1], m[2], m[3]}); }
    std::vector<std::array<uint8_t, 4>> received;
};

} // namespace

TEST(Midi, EveryDeviceThatWorksIsOpenedAndPassesItsMessagesWhole)
{
    static const Kelvane::MidiApi api = {&numDevs,          &devCaps,           &open,
                                         &setStarted<true>, &setStarted<false>, &close};
    Kelvane::setMidiApiForTesting(&api);
    g_devices = {{L"Keys A"}, {L"Held", 2}, {L"Stuck", 3}, {L"Ghost", 1}, {L"Pads"}};
    LogCapture log;
    Listener listener, other;
    {
        Kelvane::CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_EQ(list.count, 5);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(list.ports[i].handle != nullptr, i % 4 == 0) << i;
        EXPECT_EQ(openCount(), 2);
        EXPECT_EQ(log.lines(), (std::vector<std::wstring>{
                                   L"MIDI入力を開始しました：Keys A", L"MIDI入力を開始しました：Stuck",
                                   L"MIDI入力を終了しました：Stuck", L"MIDI入力を開始しました：Pads"}));

        // As winmm packed them, status in the low byte, from either port; nothing but data.
        const std::vector<std::array<uint8_t, 4>> messages = {{0x90, 0x3C, 0x64, 0}, {0xE5, 1, 0x7F, 0xA5}};
        for (size_t i = 0; i < messages.size(); ++i)
            send(i % 2 ? 4 : 0,
                 messages[i][0] | messages[i][1] << 8 | messages[i][2] << 16 | messages[i][3] << 24);
        CMidiInPort& port = list.ports[0];
        const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&port);
        for (UINT message : {MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA, 0u, 0x3FFu})
            CMidiInPort::midiInProc(port.handle, message, self, 0x00643C90, 0);
        CMidiInPort::midiInProc(port.handle, MIM_DATA, 0, 0x00643C90, 0); // no port
        EXPECT_EQ(listener.received, messages);

        // A port reopens for another listener; closed, it hands nothing on, however late.
        EXPECT_FALSE(port.open(0, nullptr));
        ASSERT_TRUE(port.open(0, &other));
        send(0, 0x00643C90);
        EXPECT_EQ(other.received.size(), 1u);
        port.close();
        port.close();
        CMidiInPort::midiInProc(nullptr, MIM_DATA, self, 0x00643C90, 0);
        EXPECT_EQ(listener.received.size() + other.received.size(), messages.size() + 1);

        EXPECT_FALSE(list.openAll(nullptr));  // changes nothing
        ASSERT_TRUE(list.openAll(&listener)); // closes the first opening's ports, then reopens
        EXPECT_EQ(openCount(), 2);
        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.ports, nullptr);
        EXPECT_EQ(openCount(), 0);
        ASSERT_TRUE(list.openAll(&listener));
    } // the list's destructor closes what is open
    EXPECT_EQ(openCount(), 0);

    g_devices.clear();
    Kelvane::CMidiInPortList list;
    EXPECT_FALSE(list.openAll(&listener));
    EXPECT_EQ(list.ports, nullptr);
    EXPECT_EQ(g_misuse, 0);
    Kelvane::setMidiApiForTesting(nullptr);
}
