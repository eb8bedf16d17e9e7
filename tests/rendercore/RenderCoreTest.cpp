// One block on the audio thread: queues into the process data, the process call,
// reports back, conversion into the device buffer.

#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace RenderCoreTest {
namespace {

using namespace PomaroApp;

using Rig = HotPathRig;

// What one message becomes is NoteDecoding's test; here the ring's order, controllers
// that make no event, and the list emptied for every block.
TEST(RenderCore, NotesBeyondAFullEventListWaitForTheNextBlock)
{
    Rig rig(64);
    // 300 note-ons then 300 note-offs, with controllers between: nothing may be lost.
    std::vector<uint32_t> notes;
    for (int i = 0; i < 300; ++i) {
        notes.push_back(midi(0x90 | (i % 16), i % 128, 1 + i % 127));
        ASSERT_TRUE(rig.ring.push(notes.back()));
        ASSERT_TRUE(rig.ring.push(midi(0xB0, 1, 5)));
    }
    for (int i = 0; i < 300; ++i) {
        notes.push_back(midi(0x80 | (i % 16), i % 128, 0));
        ASSERT_TRUE(rig.ring.push(notes.back()));
    }
    std::vector<int32_t> perBlock;
    size_t next = 0;
    for (int block = 0; block < 4; ++block) {
        rig.render();
        perBlock.push_back(rig.processor.lastEventCount);
        for (int32_t i = 0; i < rig.processor.lastEventCount; ++i, ++next) {
            const Event& e = rig.processor.events[static_cast<size_t>(i)];
            const uint32_t m = notes[next];
            const bool on = (m & 0xF0u) == 0x90u;
            ASSERT_EQ(e.type, on ? Event::kNoteOnEvent : Event::kNoteOffEvent) << next;
            ASSERT_EQ(on ? e.noteOn.pitch : e.noteOff.pitch, static_cast<int16>((m >> 8) & 0x7F)) << next;
            ASSERT_EQ(on ? e.noteOn.channel : e.noteOff.channel, static_cast<int16>(m & 0x0F)) << next;
        }
    }
    EXPECT_EQ(next, notes.size());
    EXPECT_EQ(perBlock, (std::vector<int32_t>{256, 256, 88, 0}));
    EXPECT_EQ(rig.ring.count(), 0);
}

TEST(RenderCore, ParameterChangesReachTheProcessorAndItsReportsComeBack)
{
    Rig rig(64);
    rig.toProcessor.addChange(3, 0.25, 0);
    rig.toProcessor.addChange(7, 0.5, 0);
    rig.toProcessor.addChange(3, 0.75, 0); // same block: the last value stands
    rig.render();
    ASSERT_EQ(rig.processor.lastParamCount, 2);
    EXPECT_EQ(rig.processor.points[0].id, 3u);
    EXPECT_EQ(rig.processor.points[0].value, 0.75);
    EXPECT_EQ(rig.processor.points[1].id, 7u);
    EXPECT_EQ(rig.processor.points[1].value, 0.5);

    ParamID id = 0;
    ParamValue value = 0;
    int32 offset = -1;
    ASSERT_TRUE(rig.fromProcessor.getNextChange(id, value, offset));
    EXPECT_EQ(id, 3u + kEchoOffset);
    EXPECT_EQ(value, 0.75);
    ASSERT_TRUE(rig.fromProcessor.getNextChange(id, value, offset));
    EXPECT_EQ(id, 7u + kEchoOffset);
    EXPECT_FALSE(rig.fromProcessor.getNextChange(id, value, offset));

    // Lists start empty each block: no stale change is handed over twice.
    rig.render();
    EXPECT_EQ(rig.processor.lastParamCount, 0);
    EXPECT_EQ(rig.fromProcessor.count(), 0);
}

TEST(RenderCore, EachFormatGoesToItsRoutineAndUnknownWritesNothing)
{
    const float l[2] = {0.5f, -1.0f}, r[2] = {-0.25f, 1.0f};
    // The samples as the device reads them: interleaved L R L R, per channel L L then R R.
    const int16_t i16[2][4] = {{16383, -8191, -32767, 32767}, {16383, -32767, -8191, 32767}};
    const int32_t i32[2][4] = {{1073741760, -536870880, -2147483520, 2147483520},
                               {1073741760, -2147483520, -536870880, 2147483520}};
    const float f32[2][4] = {{0.5f, -0.25f, -1.0f, 1.0f}, {0.5f, -1.0f, -0.25f, 1.0f}};
    const struct
    {
        int32_t format;
        const void* samples;
        size_t bytes; // of one layout
    } cases[] = {{Kelvane::SampleFormatInt16, i16, 8},
                 {Kelvane::SampleFormatInt32, i32, 16},
                 {Kelvane::SampleFormatFloat32, f32, 16}};
    for (const auto& c : cases) {
        for (int perChannel = 0; perChannel < 2; ++perChannel) {
            std::vector<unsigned char> got(c.bytes, 0xEE);
            ASSERT_TRUE(storeDeviceBuffers(l, r, DeviceFormat{c.format, perChannel == 0, 2}, got.data(),
                                           perChannel ? got.data() + c.bytes / 2 : nullptr));
            EXPECT_EQ(std::memcmp(got.data(),
                                  static_cast<const unsigned char*>(c.samples) + perChannel * c.bytes,
                                  c.bytes),
                      0)
                << "format " << c.format << (perChannel ? " per channel" : " interleaved");
        }
    }
    for (int32_t unknown : {0, 3, 8, -1}) {
        for (bool il : {true, false}) {
            std::vector<unsigned char> untouched(16, 0xEE), buf = untouched;
            EXPECT_FALSE(storeDeviceBuffers(l, r, DeviceFormat{unknown, il, 2}, buf.data(), buf.data() + 8));
            EXPECT_EQ(buf, untouched);
        }
    }
}

TEST(RenderCore, WhatThePluginLeavesUnwrittenIsSilence)
{
    // The channels hold a loud earlier block, as heap memory or the last call left them.
    const auto dirty = [](Rig& rig) {
        for (int c = 0; c < 2; ++c)
            for (int32_t i = 0; i < rig.pd.buffers.numSamples; ++i)
                rig.pd.buffers.buses[0].channelBuffers32[c][i] = 0.75f;
        rig.pd.buffers.buses[0].silenceFlags = 3;
    };
    const struct
    {
        const char* name;
        bool silentBlock; // renderSilence instead of the plug-in's call
    } cases[] = {{"a plug-in that writes nothing", false}, {"a block without the plug-in", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(64);
        rig.processor.writeOutput = false;
        rig.ring.push(midi(0x90, 60, 100));
        dirty(rig);
        if (c.silentBlock)
            renderSilence(rig.pd, rig.format, rig.aligned(0), nullptr);
        else
            rig.render();
        const std::vector<unsigned char> zeros(64 * 2 * 2, 0);
        EXPECT_EQ(std::vector<unsigned char>(rig.aligned(0), rig.aligned(0) + zeros.size()), zeros);
        EXPECT_EQ(*rig.aligned(zeros.size()), 0xEE) << "wrote past the buffer";
        EXPECT_EQ(rig.processor.calls, c.silentBlock ? 0 : 1);
        if (!c.silentBlock) {
            EXPECT_EQ(rig.processor.lastSilenceFlags, 0u);
        }
        EXPECT_EQ(rig.ring.count(), c.silentBlock ? 1 : 0);
    }
}

TEST(RenderCore, WithoutAProcessorTheQueuesAreTakenButNothingIsWritten)
{
    Rig rig(64);
    rig.ring.push(midi(0x90, 60, 100));
    rig.toProcessor.addChange(1, 0.5, 0);
    std::vector<unsigned char> before = rig.device;
    rig.render(nullptr, rig.aligned(0));
    EXPECT_EQ(rig.device, before);
    EXPECT_EQ(rig.ring.count(), 0);
    EXPECT_EQ(rig.toProcessor.count(), 0);
    EXPECT_EQ(rig.processor.calls, 0);
}

// A note message becomes a live event at the block's start; everything else is skipped.
TEST(NoteDecoding, NoteMessagesBecomeLiveEventsAndEveryOtherMessageIsSkipped)
{
    const struct
    {
        uint32_t message;
        bool on;
        int16 channel, pitch;
        float velocity;
    } cases[] = {
        {midi(0x90, 60, 100), true, 0, 60, 100.f / 127.f},
        {midi(0x9F, 127, 127), true, 15, 127, 1.f},
        {midi(0x93, 0, 1), true, 3, 0, 1.f / 127.f},
        {midi(0x95, 64, 0), false, 5, 64, 0.f}, // velocity 0 on a note-on is a release
        {midi(0x80, 60, 64), false, 0, 60, 64.f / 127.f},
        {midi(0x8A, 21, 0), false, 10, 21, 0.f},
        // Only seven bits of pitch and velocity count; bit 7 of a data byte is dropped.
        {midi(0x90, 0xBC, 0xE4), true, 0, 0x3C, 100.f / 127.f},
        {midi(0x90, 0x40, 0x80), false, 0, 0x40, 0.f},
        {midi(0x81, 0xFF, 0xFF), false, 1, 127, 1.f},
    };
    for (const auto& c : cases) {
        Event e{};
        e.sampleOffset = 99;
        ASSERT_TRUE(PomaroApp::decodeNoteMessage(c.message | 0xAB000000u, e)) << std::hex << c.message;
        const auto fields = c.on ? std::tuple(e.noteOn.channel, e.noteOn.pitch, e.noteOn.velocity,
                                              e.noteOn.tuning, e.noteOn.noteId, e.noteOn.length)
                                 : std::tuple(e.noteOff.channel, e.noteOff.pitch, e.noteOff.velocity,
                                              e.noteOff.tuning, e.noteOff.noteId, 0);
        EXPECT_EQ(fields, std::tuple(c.channel, c.pitch, c.velocity, 0.f, -1, 0)) << std::hex << c.message;
        EXPECT_EQ(std::tuple(e.type, e.busIndex, e.sampleOffset, e.ppqPosition, e.flags),
                  std::tuple(uint16(c.on ? Event::kNoteOnEvent : Event::kNoteOffEvent), 0, 0, 0.0,
                             uint16(Event::kIsLive)));
    }
    for (uint32_t status : {0xA0u, 0xB0u, 0xB7u, 0xC0u, 0xD0u, 0xE0u, 0xF0u, 0xF8u, 0xFEu, 0x00u, 0x7Fu}) {
        Event e{};
        EXPECT_FALSE(PomaroApp::decodeNoteMessage(midi(status, 60, 100), e)) << std::hex << status;
    }
}

} // namespace
} // namespace RenderCoreTest
