#include "tests/diag/DiagTestSupport.h"
#include "MidiTestListener.h"
#include "SimulatedWinmm.h"

#include "input/MidiInPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace MidiTest;
using Kelvane::CMidiInPort;
using Kelvane::CMidiInPortList;

namespace {

const std::wstring kStarted = L"MIDI入力を開始しました：";
const std::wstring kEnded = L"MIDI入力を終了しました：";

using Lines = std::vector<std::wstring>;

bool isStarted(const CMidiInPort& port) { return port.handle != nullptr && port.listener.load() != nullptr; }

bool isClosed(const CMidiInPort& port) { return port.handle == nullptr && port.listener.load() == nullptr; }

} // namespace

// Five devices: one held by another program, one that opens but cannot start, one
// whose capabilities cannot be read, two that work.
TEST(MidiInPortList, OpensEveryDeviceThatWorksAndLogsWhatOpened)
{
    LogCapture log;
    RecordingListener listener;
    SimulatedWinmm sim({{L"Keys A"},
                        {L"Held", DeviceKind::HeldElsewhere},
                        {L"Stuck", DeviceKind::StartFails},
                        {L"Pads"},
                        {L"Ghost", DeviceKind::NoCaps}});
    {
        CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_EQ(list.count, 5);
        EXPECT_TRUE(isStarted(list.ports[0]));
        EXPECT_TRUE(isClosed(list.ports[1]));
        EXPECT_TRUE(isClosed(list.ports[2]));
        EXPECT_TRUE(isStarted(list.ports[3]));
        EXPECT_TRUE(isClosed(list.ports[4]));
        EXPECT_EQ(sim.openCount(), 2);
        EXPECT_EQ(log.lines(),
                  (Lines{kStarted + L"Keys A", kStarted + L"Stuck", kEnded + L"Stuck", kStarted + L"Pads"}));

        EXPECT_TRUE(sim.send(0, 0x00643C90));
        EXPECT_FALSE(sim.send(1, 0x00643D90));
        EXPECT_FALSE(sim.send(2, 0x00643E90));
        EXPECT_TRUE(sim.send(3, 0x00403F91));
        sim.flush();
        EXPECT_EQ(listener.messages(), (std::vector<Bytes>{{0x90, 60, 100, 0}, {0x91, 63, 64, 0}}));

        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.ports, nullptr);
        EXPECT_EQ(sim.openCount(), 0);
        EXPECT_EQ(log.lines().size(), 6u);
        // The array goes as arrays do, last element first.
        EXPECT_EQ(log.lines()[4], kEnded + L"Pads");
        EXPECT_EQ(log.lines()[5], kEnded + L"Keys A");

        // Opening again after a clear works as the first time, and a second openAll
        // closes the ports of the first before it reopens them.
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_TRUE(list.openAll(&listener));
        EXPECT_EQ(sim.openCount(), 2);
        EXPECT_EQ(log.lines().size(), 6u + 4 + 2 + 4);
    } // the list's destructor closes what is open
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(log.lines().size(), 6u + 4 + 2 + 4 + 2);
    EXPECT_EQ(sim.misuseCount(), 0);
}

TEST(MidiInPortList, NeedsAListenerAndADevice)
{
    LogCapture log;
    RecordingListener listener;
    {
        SimulatedWinmm none({});
        CMidiInPortList list;
        EXPECT_FALSE(list.openAll(&listener));
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.ports, nullptr);
    }
    SimulatedWinmm sim({{L"Keys A"}});
    CMidiInPortList list;
    ASSERT_TRUE(list.openAll(&listener));
    // Without a listener nothing changes: the open port keeps delivering.
    EXPECT_FALSE(list.openAll(nullptr));
    ASSERT_EQ(list.count, 1);
    EXPECT_TRUE(isStarted(list.ports[0]));
    EXPECT_TRUE(sim.send(0, 0x00000080));
    sim.flush();
    EXPECT_EQ(listener.messages().size(), 1u);
    list.clear();
    list.clear();
    EXPECT_EQ(sim.misuseCount(), 0);
    EXPECT_EQ(log.lines(), (Lines{kStarted + L"Keys A", kEnded + L"Keys A"}));
}

TEST(MidiInPort, OpenCloseAndReopen)
{
    LogCapture log;
    RecordingListener first, second;
    SimulatedWinmm sim({{L"Keys A"}, {L"Pads"}});
    {
        CMidiInPort port;
        EXPECT_FALSE(port.open(0, nullptr));
        EXPECT_EQ(sim.openCount(), 0);
        EXPECT_FALSE(port.open(7, &first)); // no such device
        EXPECT_TRUE(isClosed(port));

        ASSERT_TRUE(port.open(0, &first));
        EXPECT_TRUE(sim.isStarted(0));
        // Reopening moves the port to another device and listener.
        ASSERT_TRUE(port.open(1, &second));
        EXPECT_FALSE(sim.isOpen(0));
        EXPECT_TRUE(sim.isStarted(1));
        EXPECT_FALSE(sim.send(0, 0x00643C90));
        EXPECT_TRUE(sim.send(1, 0x00643C90));
        sim.flush();
        EXPECT_TRUE(first.messages().empty());
        EXPECT_EQ(second.messages().size(), 1u);

        port.close();
        EXPECT_TRUE(isClosed(port));
        EXPECT_FALSE(sim.isOpen(1));
        // A message the service still hands over as the port closes reaches nobody.
        CMidiInPort::midiInProc(nullptr, MIM_DATA, reinterpret_cast<DWORD_PTR>(&port), 0x00643C90, 0);
        EXPECT_EQ(second.messages().size(), 1u);
        port.close();
        ASSERT_TRUE(port.open(0, &first));
    } // destroying a started port closes it
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(sim.misuseCount(), 0);
    EXPECT_EQ(log.lines(), (Lines{kStarted + L"Keys A", kEnded + L"Keys A", kStarted + L"Pads",
                                  kEnded + L"Pads", kStarted + L"Keys A", kEnded + L"Keys A"}));
}

// Every short message arrives whole and in order: status, data 1, data 2 and the
// fourth byte as winmm packed them, whatever the status.
TEST(MidiInPort, DeliversEveryShortMessageInOrder)
{
    RecordingListener listener;
    SimulatedWinmm sim({{L"Keys A"}});
    CMidiInPort port;
    ASSERT_TRUE(port.open(0, &listener));
    std::vector<Bytes> expected;
    for (uint32_t i = 0; i < 600; ++i) {
        const uint8_t status = static_cast<uint8_t>(0x80 | (i % 0x70)); // every channel message kind
        const uint8_t data1 = static_cast<uint8_t>(i % 128);
        const uint8_t data2 = static_cast<uint8_t>((i * 7) % 128);
        const uint8_t fourth = static_cast<uint8_t>(i % 3 == 0 ? 0 : 0xA5);
        const uint32_t packed = status | data1 << 8 | data2 << 16 | static_cast<uint32_t>(fourth) << 24;
        while (!sim.send(0, packed))
            sim.flush();
        expected.push_back(Bytes{status, data1, data2, fourth});
    }
    sim.flush();
    EXPECT_EQ(listener.messages(), expected);
}

// Only data reaches the listener; long messages and errors are not its business.
TEST(MidiInPort, CallbackIgnoresAllButShortMessages)
{
    LogCapture log;
    RecordingListener listener;
    SimulatedWinmm sim({{L"Keys A"}});
    CMidiInPort port;
    ASSERT_TRUE(port.open(0, &listener));
    const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&port);
    const UINT ignored[] = {MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA, 0, 0x3FF};
    for (UINT message : ignored)
        CMidiInPort::midiInProc(port.handle, message, self, 0x00643C90, 0);
    CMidiInPort::midiInProc(port.handle, MIM_DATA, 0, 0x00643C90, 0); // no port
    EXPECT_TRUE(listener.messages().empty());
    EXPECT_EQ(log.lines().size(), 1u);
    port.close();
}
