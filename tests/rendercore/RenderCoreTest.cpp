// One block on the audio thread: the plug-in's output channels, queues into the process
// data, the process call, reports back, conversion into the device buffer.

#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace RenderCoreTest {
namespace {

using namespace PomaroApp;

TEST(ProcessBuffers, ChannelsAreAlignedApartAndClearedAndRefusedRequestsLeaveNone)
{
    CProcessBuffers b;
    for (const auto& [busCount, frames] : {std::pair{1, 5}, {3, 1001}, {1, 2048}}) { // each over the last
        ASSERT_TRUE(b.allocate(busCount, frames));
        EXPECT_TRUE(b.sampleSize == kSample32 && b.numBuses == busCount && b.numSamples == frames);
        EXPECT_TRUE(b.channel(busCount, 0) == nullptr && b.channel(0, 2) == nullptr);
        for (int32_t k = 0; k < 2 * busCount; ++k) {
            float* channel = b.buses[k / 2].channelBuffers32[k % 2];
            EXPECT_TRUE(b.buses[k / 2].numChannels == 2 && b.channel(k / 2, k % 2) == channel &&
                        reinterpret_cast<std::uintptr_t>(channel) % 16 == 0);
            std::fill(channel, channel + frames, float(k + 1)); // ASan checks the end
            b.buses[k / 2].silenceFlags = 3;
        }
        for (float fill : {1.0f, 0.0f}) { // no channel overlaps another; then all cleared
            for (int32_t k = 0; k < 2 * busCount; ++k)
                EXPECT_EQ(
                    std::count(b.channel(k / 2, k % 2), b.channel(k / 2, k % 2) + frames, fill ? k + 1 : 0),
                    frames);
            b.clear();
        }
        EXPECT_EQ(b.buses[busCount - 1].silenceFlags, 0u);
    }
    for (const auto& [buses, frames] : {std::pair{0, 512}, std::pair{1, 0}, std::pair{-1, 64}}) {
        EXPECT_FALSE(b.allocate(buses, frames));
        EXPECT_TRUE(!b.buses && !b.memory && b.numBuses == 0 && b.numSamples == 0);
    }
    ASSERT_TRUE(b.allocate(1, 64));
    b.release();
    b.release();
    EXPECT_EQ(b.memory, nullptr);
}

// 300 note-ons with controllers between, then 300 note-offs: nothing may be lost or reordered.
TEST(RenderCore, NotesBeyondAFullEventListWaitForTheNextBlock)
{
    HotPathRig rig(64);
    std::vector<uint32_t> notes;
    for (int i = 0; i < 600; ++i) {
        notes.push_back(midi((i < 300 ? 0x90 : 0x80) | (i % 16), i % 128, i < 300 ? 1 + i % 127 : 0));
        ASSERT_TRUE(rig.ring.push(notes.back()) && (i >= 300 || rig.ring.push(midi(0xB0, 1, 5))));
    }
    std::vector<int32_t> perBlock;
    size_t next = 0;
    for (int block = 0; block < 4; ++block) {
        rig.render();
        perBlock.push_back(rig.processor.lastEventCount);
        for (int32_t i = 0; i < rig.processor.lastEventCount; ++i, ++next) {
            const Event& got = rig.processor.events[size_t(i)];
            Event want{};
            ASSERT_TRUE(decodeNoteMessage(notes[next], want));
            ASSERT_TRUE(got.type == want.type && got.noteOn.channel == want.noteOn.channel &&
                        got.noteOn.pitch == want.noteOn.pitch)
                << next;
        }
    }
    EXPECT_EQ(next, notes.size());
    EXPECT_EQ(perBlock, (std::vector<int32_t>{256, 256, 88, 0}));
    EXPECT_EQ(rig.ring.count(), 0);
}

// The same parameter twice in a block: the last value stands. The lists start empty each
// block: no stale change is handed over twice.
TEST(RenderCore, ParameterChangesReachTheProcessorAndItsReportsComeBack)
{
    HotPathRig rig(64);
    for (const auto& [id, value] : {std::pair{3u, 0.25}, {7u, 0.5}, {3u, 0.75}})
        rig.toProcessor.addChange(id, value, 0);
    using Points = std::vector<std::pair<ParamID, ParamValue>>;
    for (const Points& want : {Points{{3, 0.75}, {7, 0.5}}, Points{}}) {
        rig.render();
        const Points given(rig.processor.points.begin(),
                           rig.processor.points.begin() + rig.processor.lastParamCount);
        Points back;
        std::pair<ParamID, ParamValue> p;
        for (int32 offset = 0; rig.fromProcessor.getNextChange(p.first, p.second, offset);)
            back.push_back({p.first - kEchoOffset, p.second});
        EXPECT_EQ(given, want);
        EXPECT_EQ(back, want);
    }
}

TEST(RenderCore, EachFormatGoesToItsRoutineAndUnknownWritesNothing)
{
    const float l[2] = {0.5f, -1.0f}, r[2] = {-0.25f, 1.0f};
    // The samples as the device reads them: interleaved L R L R, per channel L L then R R.
    const int16_t i16[2][4] = {{16383, -8191, -32767, 32767}, {16383, -32767, -8191, 32767}};
    const int32_t i32[2][4] = {{1073741760, -536870880, -2147483520, 2147483520},
                               {1073741760, -2147483520, -536870880, 2147483520}};
    const float f32[2][4] = {{0.5f, -0.25f, -1.0f, 1.0f}, {0.5f, -1.0f, -0.25f, 1.0f}};
    const std::tuple<int32_t, const void*, size_t> cases[] = {{Kelvane::SampleFormatInt16, i16, 8},
                                                              {Kelvane::SampleFormatInt32, i32, 16},
                                                              {Kelvane::SampleFormatFloat32, f32, 16},
                                                              {0, nullptr, 16},
                                                              {3, nullptr, 16},
                                                              {8, nullptr, 16},
                                                              {-1, nullptr, 16}};
    for (const auto& [format, samples, bytes] : cases)
        for (int perChannel = 0; perChannel < 2; ++perChannel) {
            std::vector<unsigned char> got(bytes, 0xEE), want = got;
            if (samples)
                std::memcpy(want.data(), static_cast<const unsigned char*>(samples) + perChannel * bytes,
                            bytes);
            EXPECT_EQ(storeDeviceBuffers(l, r, DeviceFormat{format, perChannel == 0, 2}, got.data(),
                                         perChannel ? got.data() + bytes / 2 : nullptr),
                      samples != nullptr);
            EXPECT_EQ(got, want) << "format " << format << (perChannel ? " per channel" : " interleaved");
        }
}

TEST(RenderCore, WhatThePluginLeavesUnwrittenIsSilenceAndWithoutAPluginNothingIsWritten)
{
    // what, silentBlock (renderSilence instead of renderBlock), withProcessor
    const std::tuple<const char*, bool, bool> cases[] = {{"a plug-in that writes nothing", false, true},
                                                         {"a block without the plug-in", true, true},
                                                         {"no processor", false, false}};
    for (const auto& [what, silentBlock, withProcessor] : cases) {
        SCOPED_TRACE(what);
        HotPathRig rig(64);
        rig.processor.writeOutput = false;
        rig.ring.push(midi(0x90, 60, 100));
        rig.toProcessor.addChange(1, 0.5, 0);
        // The channels hold a loud earlier block, as heap memory or the last call left them.
        for (int ch = 0; ch < 2; ++ch)
            std::fill(rig.pd.buffers.buses[0].channelBuffers32[ch],
                      rig.pd.buffers.buses[0].channelBuffers32[ch] + 64, 0.75f);
        rig.pd.buffers.buses[0].silenceFlags = 3;
        if (silentBlock)
            renderSilence(rig.pd, rig.format, rig.aligned(0), nullptr);
        else
            rig.render(withProcessor ? &rig.processor : nullptr, rig.aligned(0));
        const std::vector<unsigned char> written(rig.aligned(0), rig.aligned(64 * 2 * 2));
        EXPECT_EQ(written, std::vector<unsigned char>(written.size(), withProcessor ? 0 : 0xEE));
        EXPECT_EQ(*rig.aligned(written.size()), 0xEE) << "wrote past the buffer";
        EXPECT_EQ(rig.processor.calls, silentBlock || !withProcessor ? 0 : 1);
        EXPECT_EQ(rig.processor.lastSilenceFlags, 0u);
        EXPECT_EQ(rig.ring.count() + rig.toProcessor.count(), silentBlock ? 2 : 0);
    }
}

TEST(NoteDecoding, NoteMessagesBecomeLiveEventsAndEveryOtherMessageIsSkipped)
{
    // message, note-on, channel, pitch, velocity in 127ths; bit 7 of a data byte is dropped
    const std::tuple<uint32_t, bool, int16, int16, int> notes[] = {
        {midi(0x9F, 127, 127), true, 15, 127, 127},  {midi(0x93, 0, 1), true, 3, 0, 1},
        {midi(0x95, 64, 0), false, 5, 64, 0},        {midi(0x8A, 21, 64), false, 10, 21, 64},
        {midi(0x90, 0xBC, 0xE4), true, 0, 60, 100},  {midi(0x90, 0x40, 0x80), false, 0, 64, 0},
        {midi(0x81, 0xFF, 0xFF), false, 1, 127, 127}};
    for (const auto& [message, on, channel, pitch, velocity] : notes) {
        Event e{};
        e.sampleOffset = 99;
        ASSERT_TRUE(decodeNoteMessage(message | 0xAB000000u, e)) << std::hex << message;
        const auto fields = on ? std::tuple(e.noteOn.channel, e.noteOn.pitch, e.noteOn.velocity,
                                            e.noteOn.tuning, e.noteOn.noteId, e.noteOn.length)
                               : std::tuple(e.noteOff.channel, e.noteOff.pitch, e.noteOff.velocity,
                                            e.noteOff.tuning, e.noteOff.noteId, 0);
        EXPECT_EQ(fields, std::tuple(channel, pitch, float(velocity) / 127.f, 0.f, -1, 0))
            << std::hex << message;
        EXPECT_EQ(std::tuple(e.type, e.busIndex, e.sampleOffset, e.ppqPosition, e.flags),
                  std::tuple(uint16(on ? Event::kNoteOnEvent : Event::kNoteOffEvent), 0, 0, 0.0,
                             uint16(Event::kIsLive)));
    }
    for (uint32_t status : {0xA0u, 0xB0u, 0xB7u, 0xC0u, 0xD0u, 0xE0u, 0xF0u, 0xF8u, 0xFEu, 0x00u, 0x7Fu}) {
        Event e{};
        EXPECT_FALSE(decodeNoteMessage(midi(status, 60, 100), e)) << std::hex << status;
    }
}

} // namespace
} // namespace RenderCoreTest
