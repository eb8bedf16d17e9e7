// The message loop plays notes from the computer keyboard: keys are posted to a window
// of the thread, exactly as the system delivers them.

#include "TestHost.h"

#include <gtest/gtest.h>

using namespace PomaroTest;

namespace {

constexpr LPARAM kFirstPress = 0x00000001;     // repeat count 1, bit 30 clear
constexpr LPARAM kAutoRepeat = 0x40000001;     // bit 30: the key was already down
constexpr LPARAM kRelease = static_cast<LPARAM>(0xC0000001u);
constexpr WPARAM kVkOem2 = 0xBF;

class KeyLoop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        useTestModule();
        drainThreadQueue();
        host = new RecordingHost();
        ASSERT_TRUE(host->createFrameWindow());
        host->pluginReady = true; // as after the loader attached the editor
        PomaroApp::initMidiRing(host->midiRing);
    }

    void TearDown() override
    {
        host->pluginReady = false;
        host->release();
        drainThreadQueue();
    }

    void down(WPARAM vk, LPARAM flags = kFirstPress) { PostMessageW(host->hwndFrame, WM_KEYDOWN, vk, flags); }
    void up(WPARAM vk) { PostMessageW(host->hwndFrame, WM_KEYUP, vk, kRelease); }

    void run()
    {
        PostQuitMessage(0);
        host->runMessageLoop();
    }

    std::vector<MidiBytes> notesOn() const
    {
        std::vector<MidiBytes> on;
        for (const MidiBytes& m : host->received)
            if (m[0] == 0x90)
                on.push_back(m);
        return on;
    }

    RecordingHost* host = nullptr;
};

} // namespace

TEST_F(KeyLoop, ReleaseAfterOctaveChangeEndsTheNoteThatWasStarted)
{
    down('C');
    down(VK_PRIOR);
    up('C');
    run();
    ASSERT_EQ(host->received.size(), 2u);
    EXPECT_EQ(host->received[0], (MidiBytes{0x90, 60, 100, 0}));
    EXPECT_EQ(host->received[1], (MidiBytes{0x80, 60, 0, 0}));
    EXPECT_EQ(host->keyboard.octave, 6);
    // What the listener got is also what the audio thread will find.
    EXPECT_EQ(host->midiRing.count(), 2);
}

TEST_F(KeyLoop, HeldPageUpClimbsToSevenAndStops)
{
    down(VK_PRIOR);
    for (int i = 0; i < 5; ++i)
        down(VK_PRIOR, kAutoRepeat);
    down('C');
    run();
    EXPECT_EQ(host->keyboard.octave, 7);
    ASSERT_EQ(notesOn().size(), 1u);
    EXPECT_EQ(notesOn()[0][1], 84);
}

TEST_F(KeyLoop, PageDownStopsAtOne)
{
    for (int i = 0; i < 8; ++i)
        down(VK_NEXT, i ? kAutoRepeat : kFirstPress);
    down('A');
    run();
    EXPECT_EQ(host->keyboard.octave, 1);
    ASSERT_EQ(notesOn().size(), 1u);
    EXPECT_EQ(notesOn()[0][1], 8);
}

TEST_F(KeyLoop, HeldNoteKeyDoesNotRepeat)
{
    down('C');
    for (int i = 0; i < 4; ++i)
        down('C', kAutoRepeat);
    up('C');
    run();
    ASSERT_EQ(host->received.size(), 2u);
    EXPECT_EQ(host->received[0][0], 0x90);
    EXPECT_EQ(host->received[1][0], 0x80);
}

TEST_F(KeyLoop, KeysWithTheSameOffsetShareOneHeldNote)
{
    down('Q');      // offset 16 at octave 5: 72
    down(VK_PRIOR);
    down(kVkOem2);  // offset 16 at octave 6: 84, overwrites the slot
    up('Q');
    up(kVkOem2);
    run();
    ASSERT_EQ(host->received.size(), 4u);
    EXPECT_EQ(host->received[0], (MidiBytes{0x90, 72, 100, 0}));
    EXPECT_EQ(host->received[1], (MidiBytes{0x90, 84, 100, 0}));
    EXPECT_EQ(host->received[2], (MidiBytes{0x80, 84, 0, 0}));
    EXPECT_EQ(host->received[3], (MidiBytes{0x80, 84, 0, 0}));
}

TEST_F(KeyLoop, WithoutAPluginTheLoopReturnsAtOnceAndLeavesTheQueue)
{
    host->pluginReady = false;
    down('C');
    host->runMessageLoop();
    EXPECT_TRUE(host->received.empty());
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, host->hwndFrame, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE));
}
