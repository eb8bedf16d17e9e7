// A note from a MIDI port on its way through the host: into the ring the audio thread
// empties, and onto the keyboard strip.

#include "SimulatedWinmm.h"

#include "app/AppGlobals.h"
#include "app/Host.h"

#include <gtest/gtest.h>

using namespace MidiTest;

namespace {

void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

std::vector<uint32_t> drainRing(PomaroApp::MidiMessageRing& ring)
{
    std::vector<uint32_t> messages;
    ring.drain([&](uint32_t message) { messages.push_back(message); });
    return messages;
}

} // namespace

TEST(MidiHost, NotesFromAPortReachTheRingAndTheKeyboard)
{
    g_hInstance = GetModuleHandleW(nullptr);
    SimulatedWinmm sim({{L"Held", DeviceKind::HeldElsewhere}, {L"Keys A"}});
    auto* host = new PomaroApp::CHost();
    PomaroApp::initMidiRing(host->midiRing);
    ASSERT_TRUE(host->midiInputs.openAll(host));
    ASSERT_EQ(host->midiInputs.count, 2);

    ASSERT_TRUE(sim.send(1, 0x00643C90)); // note-on 60, velocity 100, channel 1
    ASSERT_TRUE(sim.send(1, 0x00504593)); // note-on 69 on channel 4
    sim.flush();
    pumpMessages();
    EXPECT_EQ(drainRing(host->midiRing), (std::vector<uint32_t>{0x00643C90, 0x00504593}));
    EXPECT_EQ(host->keyboard.keyShown[60].load(), 1);
    EXPECT_EQ(host->keyboard.keyShown[69].load(), 1);

    ASSERT_TRUE(sim.send(1, 0x00003C80)); // note-off 60
    ASSERT_TRUE(sim.send(1, 0x00004593)); // note-on with velocity 0 releases 69
    sim.flush();
    pumpMessages();
    EXPECT_EQ(drainRing(host->midiRing), (std::vector<uint32_t>{0x00003C80, 0x00004593}));
    EXPECT_EQ(host->keyboard.keyShown[60].load(), 0);
    EXPECT_EQ(host->keyboard.keyShown[69].load(), 0);

    // The host's teardown closes the ports.
    host->release();
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(sim.misuseCount(), 0);
}
