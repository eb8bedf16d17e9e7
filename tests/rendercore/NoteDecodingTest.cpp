// Short MIDI messages as the plug-in's note events.

#include "host/RenderCore.h"
#include "tests/rendercore/FakeProcessor.h"

#include <gtest/gtest.h>

namespace RenderCoreTest {
namespace {

using PomaroApp::decodeNoteMessage;

struct NoteCase
{
    uint32_t message;
    uint16 type;
    int16 channel;
    int16 pitch;
    float velocity;
};

TEST(NoteDecoding, NoteMessagesBecomeLiveEventsAtBlockStart)
{
    const NoteCase cases[] = {
        {midi(0x90, 60, 100), Event::kNoteOnEvent, 0, 60, 100.f / 127.f},
        {midi(0x9F, 127, 127), Event::kNoteOnEvent, 15, 127, 1.f},
        {midi(0x93, 0, 1), Event::kNoteOnEvent, 3, 0, 1.f / 127.f},
        // Velocity 0 on a note-on is a release with velocity 0.
        {midi(0x95, 64, 0), Event::kNoteOffEvent, 5, 64, 0.f},
        {midi(0x80, 60, 64), Event::kNoteOffEvent, 0, 60, 64.f / 127.f},
        {midi(0x8A, 21, 0), Event::kNoteOffEvent, 10, 21, 0.f},
        // Only seven bits of pitch and velocity count; bit 7 of a data byte is dropped.
        {midi(0x90, 0xBC, 0xE4), Event::kNoteOnEvent, 0, 0x3C, 100.f / 127.f},
        {midi(0x90, 0x40, 0x80), Event::kNoteOffEvent, 0, 0x40, 0.f},
        {midi(0x81, 0xFF, 0xFF), Event::kNoteOffEvent, 1, 127, 1.f},
    };
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "message 0x" << c.message);
        Event e{};
        e.sampleOffset = 99;
        ASSERT_TRUE(decodeNoteMessage(c.message | 0xAB000000u, e)); // the fourth byte carries nothing
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.busIndex, 0);
        EXPECT_EQ(e.sampleOffset, 0);
        EXPECT_EQ(e.ppqPosition, 0.0);
        EXPECT_EQ(e.flags, Event::kIsLive);
        if (c.type == Event::kNoteOnEvent) {
            EXPECT_EQ(e.noteOn.channel, c.channel);
            EXPECT_EQ(e.noteOn.pitch, c.pitch);
            EXPECT_EQ(e.noteOn.velocity, c.velocity);
            EXPECT_EQ(e.noteOn.tuning, 0.f);
            EXPECT_EQ(e.noteOn.length, 0);
            EXPECT_EQ(e.noteOn.noteId, -1);
        } else {
            EXPECT_EQ(e.noteOff.channel, c.channel);
            EXPECT_EQ(e.noteOff.pitch, c.pitch);
            EXPECT_EQ(e.noteOff.velocity, c.velocity);
            EXPECT_EQ(e.noteOff.tuning, 0.f);
            EXPECT_EQ(e.noteOff.noteId, -1);
        }
    }
}

TEST(NoteDecoding, EveryOtherMessageIsSkipped)
{
    for (uint32_t status : {0xA0u, 0xB0u, 0xB7u, 0xC0u, 0xD0u, 0xE0u, 0xF0u, 0xF8u, 0xFEu, 0x00u, 0x7Fu}) {
        Event e{};
        EXPECT_FALSE(decodeNoteMessage(midi(status, 60, 100), e)) << std::hex << status;
    }
}

} // namespace
} // namespace RenderCoreTest
