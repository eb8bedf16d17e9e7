// The message loop plays notes from the computer keyboard: keys are posted to a window
// of the thread, exactly as the system delivers them. What each key does is
// KeyboardInputTest's; here the loop's part: bit 30 of lParam, the listener and the ring.

#include "TestHost.h"

#include <gtest/gtest.h>

using namespace PomaroTest;

namespace {

constexpr LPARAM kFirstPress = 0x00000001; // repeat count 1, bit 30 clear
constexpr LPARAM kAutoRepeat = 0x40000001; // bit 30: the key was already down
constexpr LPARAM kRelease = static_cast<LPARAM>(0xC0000001u);

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

    void post(UINT message, WPARAM vk, LPARAM flags) { PostMessageW(host->hwndFrame, message, vk, flags); }

    RecordingHost* host = nullptr;
};

} // namespace

TEST_F(KeyLoop, KeysPlayThroughTheListenerAndTheRing)
{
    post(WM_KEYDOWN, 'C', kFirstPress);
    post(WM_KEYDOWN, 'C', kAutoRepeat); // held: no second note
    post(WM_KEYDOWN, VK_PRIOR, kFirstPress);
    post(WM_KEYDOWN, VK_PRIOR, kAutoRepeat); // held octave keys keep stepping
    post(WM_KEYUP, 'C', kRelease);
    PostQuitMessage(0);
    host->runMessageLoop();
    ASSERT_EQ(host->received.size(), 2u);
    EXPECT_EQ(host->received[0], (MidiBytes{0x90, 60, 100, 0}));
    EXPECT_EQ(host->received[1], (MidiBytes{0x80, 60, 0, 0}));
    EXPECT_EQ(host->keyboard.octave, 7);
    // What the listener got is also what the audio thread will find.
    EXPECT_EQ(host->midiRing.count(), 2);
}

TEST_F(KeyLoop, WithoutAPluginTheLoopReturnsAtOnceAndLeavesTheQueue)
{
    host->pluginReady = false;
    post(WM_KEYDOWN, 'C', kFirstPress);
    host->runMessageLoop();
    EXPECT_TRUE(host->received.empty());
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, host->hwndFrame, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE));
}
