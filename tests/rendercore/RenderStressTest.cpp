// The audio thread rendering while the MIDI and user-interface threads keep sending:
// every note arrives once, in order, and the ring's ordering holds (run under TSan).

#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace RenderCoreTest {
namespace {

TEST(RenderStress, NotesAndParametersFromTwoThreadsArriveCompleteAndInOrder)
{
    constexpr int32_t kNotes = 20000;
    HotPathRig rig;
    rig.processor.echoParameters = false;
    std::atomic<bool> stop{false};

    // Note i is on channel i % 16 with pitch (i / 16) % 128: the sequence shows order.
    std::thread midiThread([&] {
        for (int32_t i = 0; i < kNotes;) {
            const uint32_t m =
                midi(0x90 | static_cast<uint32_t>(i % 16), static_cast<uint32_t>(i / 16 % 128), 100);
            if (rig.ring.push(m))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    std::thread uiThread([&] {
        for (uint32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            if (!rig.toProcessor.addChange(i % 32, (i % 1000) / 1000.0, 0))
                std::this_thread::yield();
        }
    });

    int32_t seen = 0;
    int64_t params = 0;
    bool inOrder = true;
    // Rendering goes on until the user-interface thread got a change through too: a
    // scheduler may leave it waiting until every note has already arrived.
    for (int32_t block = 0; (seen < kNotes || params == 0) && block < 2000000; ++block) {
        rig.render(block);
        params += rig.processor.lastParamCount;
        for (int32_t e = 0; e < rig.processor.lastEventCount; ++e, ++seen) {
            const Event& ev = rig.processor.events[static_cast<size_t>(e)];
            inOrder = inOrder && ev.type == Event::kNoteOnEvent && ev.noteOn.channel == seen % 16 &&
                      ev.noteOn.pitch == seen / 16 % 128;
        }
        if (seen % 4096 == 0 || seen >= kNotes)
            std::this_thread::yield();
    }
    stop.store(true);
    midiThread.join();
    uiThread.join();
    EXPECT_EQ(seen, kNotes);
    EXPECT_TRUE(inOrder);
    EXPECT_GT(params, 0);
}

} // namespace
} // namespace RenderCoreTest
