// MIDI input ports against a stand-in for winmm's MIDI service that, like winmm, delivers
// MIM_OPEN before open returns and MIM_CLOSE before close returns, and data only to a started
// device. It delivers on the caller's thread; the real service's own thread, and closing
// while a port floods, run end to end under Wine (tests/e2e/test_keyboard_strip.py).
#include "input/MidiInPort.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

using Kelvane::CMidiInPort;
using Kelvane::CMidiInPortList;

namespace {

struct Device
{
    std::wstring name; // more than 31 characters fill the name field without a terminator
    MMRESULT capsResult = MMSYSERR_NOERROR, openResult = MMSYSERR_NOERROR, startResult = MMSYSERR_NOERROR;
    bool open = false, started = false;
    DWORD_PTR callback = 0, instance = 0;
};

std::vector<Device> g_devices;
int g_misuse = 0; // calls a careful caller never makes
int g_inCallback = 0;

HMIDIIN handleOf(Device& d) { return reinterpret_cast<HMIDIIN>(&d); }
Device* find(HMIDIIN handle)
{
    for (Device& d : g_devices)
        if (handleOf(d) == handle && d.open && !g_inCallback)
            return &d;
    ++g_misuse;
    return nullptr;
}
void deliver(Device& d, UINT message, DWORD_PTR param1)
{
    ++g_inCallback;
    reinterpret_cast<Kelvane::MidiInCallback>(d.callback)(handleOf(d), message, d.instance, param1, 0);
    --g_inCallback;
}
// Hands a short message (status in the low byte) to a device's callback. False when the
// device is not started: the message is lost.
bool send(size_t d, uint32_t message)
{
    if (d >= g_devices.size() || !g_devices[d].started)
        return false;
    deliver(g_devices[d], MIM_DATA, message);
    return true;
}
int openCount()
{
    return int(std::count_if(g_devices.begin(), g_devices.end(), [](const Device& d) { return d.open; }));
}

UINT WINAPI numDevs() { return UINT(g_devices.size()); }
MMRESULT WINAPI devCaps(UINT_PTR id, MIDIINCAPSW* caps, UINT size)
{
    if (id >= g_devices.size())
        return MMSYSERR_BADDEVICEID;
    if (!caps || size < sizeof(MIDIINCAPSW))
        return ++g_misuse, MMSYSERR_INVALPARAM;
    const Device& d = g_devices[id];
    if (d.capsResult != MMSYSERR_NOERROR)
        return d.capsResult;
    *caps = MIDIINCAPSW{};
    std::copy_n(d.name.begin(), std::min<size_t>(d.name.size(), MAXPNAMELEN), caps->szPname);
    caps->dwSupport = 0x00210021; // printable, so a reader running past the name picks up text
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI open(HMIDIIN* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (!handle || flags != CALLBACK_FUNCTION || !callback)
        return ++g_misuse, MMSYSERR_INVALPARAM;
    if (id >= g_devices.size())
        return MMSYSERR_BADDEVICEID;
    Device& d = g_devices[id];
    if (d.open || d.openResult != MMSYSERR_NOERROR)
        return d.open ? MMSYSERR_ALLOCATED : d.openResult;
    d.open = true;
    d.callback = callback;
    d.instance = instance;
    *handle = handleOf(d);
    deliver(d, MIM_OPEN, 0);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI start(HMIDIIN handle)
{
    Device* d = find(handle);
    if (!d || d->startResult != MMSYSERR_NOERROR)
        return d ? d->startResult : MMSYSERR_INVALHANDLE;
    g_misuse += d->started;
    d->started = true;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI stop(HMIDIIN handle)
{
    Device* d = find(handle);
    return d ? (d->started = false, MMSYSERR_NOERROR) : MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI close(HMIDIIN handle)
{
    Device* d = find(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    d->started = false;
    deliver(*d, MIM_CLOSE, 0);
    *d = Device{d->name, d->capsResult, d->openResult, d->startResult};
    return MMSYSERR_NOERROR;
}

class Midi : public ::testing::Test
{
protected:
    void use(std::vector<Device> devices)
    {
        g_devices = std::move(devices);
        g_misuse = 0;
        static const Kelvane::MidiApi table = {&numDevs, &devCaps, &open, &start, &stop, &close};
        Kelvane::setMidiApiForTesting(&table);
    }
    void TearDown() override
    {
        EXPECT_EQ(openCount(), 0);
        EXPECT_EQ(g_misuse, 0);
        Kelvane::setMidiApiForTesting(nullptr);
    }
    // Keeps every message it is given.
    struct Listener final : Kelvane::IMidiDataListener
    {
        void onMidiData(const uint8_t* m) override { received.push_back({m[0], m[1], m[2], m[3]}); }
        std::vector<std::array<uint8_t, 4>> received;
    } listener, other;
    LogCapture log;
};

using Lines = std::vector<std::wstring>;
const std::wstring kStarted = L"MIDI入力を開始しました：", kEnded = L"MIDI入力を終了しました：";

bool isStarted(const CMidiInPort& p) { return p.handle != nullptr && p.listener.load() != nullptr; }
bool isClosed(const CMidiInPort& p) { return p.handle == nullptr && p.listener.load() == nullptr; }

} // namespace

// One device held by another program, one that opens but cannot start, one whose
// capabilities cannot be read, and two that work (the last with a name that fills its field).
TEST_F(Midi, ListOpensEveryDeviceThatWorksAndLogsWhatOpened)
{
    const std::wstring longName(40, L'P'), pads = longName.substr(0, MAXPNAMELEN);
    use({{L"Keys A"},
         {L"Held", MMSYSERR_NOERROR, MMSYSERR_ALLOCATED},
         {L"Stuck", MMSYSERR_NOERROR, MMSYSERR_NOERROR, MMSYSERR_ERROR},
         {L"Ghost", MMSYSERR_NODRIVER},
         {longName}});
    {
        CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_EQ(list.count, 5);
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(i % 4 == 0 ? isStarted(list.ports[i]) : isClosed(list.ports[i])) << i;
        EXPECT_EQ(openCount(), 2);
        EXPECT_EQ(log.lines(),
                  (Lines{kStarted + L"Keys A", kStarted + L"Stuck", kEnded + L"Stuck", kStarted + pads}));

        // Every short message arrives whole, as winmm packed it, whatever the status; none
        // from a device that is not started.
        decltype(listener.received) expected;
        for (uint32_t i = 0; i < 240; ++i) {
            expected.push_back({uint8_t(0x80 | (i % 0x70)), uint8_t(i % 128), uint8_t((i * 7) % 128),
                                uint8_t(i % 3 == 0 ? 0 : 0xA5)});
            const auto& b = expected.back();
            EXPECT_TRUE(send(i % 2 ? 4 : 0, b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
        }
        for (size_t d : {1, 2, 3})
            EXPECT_FALSE(send(d, 0x00643D90));
        EXPECT_EQ(listener.received, expected);

        list.clear();
        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.ports, nullptr);
        EXPECT_EQ(openCount(), 0);
        // The array goes as arrays do, last element first.
        EXPECT_EQ(log.newLines(), (Lines{kStarted + L"Keys A", kStarted + L"Stuck", kEnded + L"Stuck",
                                         kStarted + pads, kEnded + pads, kEnded + L"Keys A"}));

        // Opening again after a clear works as the first time, and a second openAll closes
        // the ports of the first before it reopens them; a null listener changes nothing.
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_TRUE(list.openAll(&listener));
        EXPECT_FALSE(list.openAll(nullptr));
        EXPECT_EQ(openCount(), 2);
        EXPECT_EQ(log.newLines().size(), 4u + 2 + 4);
    } // the list's destructor closes what is open
    EXPECT_EQ(log.newLines().size(), 2u);

    use({});
    CMidiInPortList list;
    EXPECT_FALSE(list.openAll(&listener));
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.ports, nullptr);
}

TEST_F(Midi, PortOpensClosesReopensAndTheCallbackIgnoresAllButData)
{
    use({{L"Keys A"}, {L"Pads"}});
    {
        CMidiInPort port;
        EXPECT_FALSE(port.open(0, nullptr));
        EXPECT_FALSE(port.open(7, &listener)); // no such device
        EXPECT_TRUE(isClosed(port));
        EXPECT_EQ(openCount(), 0);

        ASSERT_TRUE(port.open(0, &listener));
        EXPECT_TRUE(g_devices[0].started);
        const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&port);
        for (UINT message : {MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA, 0u, 0x3FFu})
            CMidiInPort::midiInProc(port.handle, message, self, 0x00643C90, 0);
        CMidiInPort::midiInProc(port.handle, MIM_DATA, 0, 0x00643C90, 0); // no port
        EXPECT_TRUE(listener.received.empty());

        // Reopening moves the port to another device and listener.
        ASSERT_TRUE(port.open(1, &other));
        EXPECT_FALSE(g_devices[0].open);
        EXPECT_FALSE(send(0, 0x00643C90));
        EXPECT_TRUE(send(1, 0x00643C90));
        EXPECT_TRUE(listener.received.empty());
        EXPECT_EQ(other.received.size(), 1u);

        port.close();
        EXPECT_TRUE(isClosed(port));
        // A message the service still hands over as the port closes reaches nobody.
        CMidiInPort::midiInProc(nullptr, MIM_DATA, self, 0x00643C90, 0);
        EXPECT_EQ(other.received.size(), 1u);
        port.close();
        ASSERT_TRUE(port.open(0, &listener));
    } // destroying a started port closes it
    EXPECT_EQ(log.lines(), (Lines{kStarted + L"Keys A", kEnded + L"Keys A", kStarted + L"Pads",
                                  kEnded + L"Pads", kStarted + L"Keys A", kEnded + L"Keys A"}));
}
