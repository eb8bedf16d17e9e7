// The plug-in's output channels and the lists the process data carries.

#include "host/ProcessData.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace RenderCoreTest {
namespace {

using namespace PomaroApp;
using namespace Steinberg;
using namespace Steinberg::Vst;

std::uintptr_t address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

TEST(ProcessBuffers, ChannelsAreAlignedAndStridedByTheRoundedChannelSize)
{
    const struct
    {
        int32_t frames;
        std::size_t stride;
    } strides[] = {{1, 16}, {3, 16}, {4, 16}, {5, 32}, {1000, 4000}, {1001, 4016}, {1024, 4096}};
    for (const auto& s : strides) {
        SCOPED_TRACE(s.frames);
        EXPECT_EQ(channelStride(s.frames), s.stride);
        for (int32_t busCount : {1, 3}) {
            CProcessBuffers b;
            ASSERT_TRUE(b.allocate(busCount, s.frames));
            EXPECT_EQ(b.sampleSize, kSample32);
            EXPECT_EQ(b.numBuses, busCount);
            EXPECT_EQ(b.numChannels, 2);
            EXPECT_EQ(b.numSamples, s.frames);
            const std::uintptr_t base = address(b.buses[0].channelBuffers32[0]);
            EXPECT_EQ(base % 16, 0u);
            EXPECT_GE(base, address(b.memory.get()));
            EXPECT_LT(base, address(b.memory.get()) + 16);
            for (int32_t bus = 0; bus < busCount; ++bus) {
                const AudioBusBuffers& a = b.buses[bus];
                EXPECT_EQ(a.numChannels, 2);
                EXPECT_EQ(a.silenceFlags, 0u);
                EXPECT_EQ(address(a.channelBuffers32[0]), base + 2 * bus * s.stride);
                EXPECT_EQ(address(a.channelBuffers32[1]), base + (2 * bus + 1) * s.stride);
                EXPECT_EQ(b.channel(bus, 0), a.channelBuffers32[0]);
                EXPECT_EQ(b.channel(bus, 1), a.channelBuffers32[1]);
            }
            EXPECT_EQ(b.channel(busCount, 0), nullptr);
            EXPECT_EQ(b.channel(0, 2), nullptr);
            // Every sample of every channel is writable (ASan checks the block's end),
            // and clear() takes every one back to silence.
            for (int32_t bus = 0; bus < busCount; ++bus) {
                b.buses[bus].silenceFlags = 3;
                for (int c = 0; c < 2; ++c)
                    for (int32_t i = 0; i < s.frames; ++i)
                        b.buses[bus].channelBuffers32[c][i] = 1.f;
            }
            b.clear();
            for (int32_t bus = 0; bus < busCount; ++bus) {
                EXPECT_EQ(b.buses[bus].silenceFlags, 0u);
                for (int c = 0; c < 2; ++c)
                    for (int32_t i = 0; i < s.frames; ++i)
                        ASSERT_EQ(b.buses[bus].channelBuffers32[c][i], 0.f) << bus << ":" << c << ":" << i;
            }
        }
    }
}

TEST(ProcessBuffers, EmptyRequestsAndReallocationLeaveAConsistentSet)
{
    CProcessBuffers b;
    ASSERT_TRUE(b.allocate(1, 512));
    EXPECT_FALSE(b.allocate(0, 512));
    EXPECT_EQ(b.buses, nullptr);
    EXPECT_EQ(b.memory, nullptr);
    EXPECT_EQ(b.numBuses, 0);
    EXPECT_EQ(b.numSamples, 0);
    EXPECT_FALSE(b.allocate(1, 0));
    EXPECT_FALSE(b.allocate(-1, 64));
    EXPECT_EQ(b.buses, nullptr);

    ASSERT_TRUE(b.allocate(1, 64));
    ASSERT_TRUE(b.allocate(1, 2048)); // a new buffer length replaces the old set
    EXPECT_EQ(b.numSamples, 2048);
    b.buses[0].channelBuffers32[1][2047] = 0.5f;
    b.release();
    b.release();
    EXPECT_EQ(b.memory, nullptr);
}

TEST(ProcessData, ListsAreWiredWithTheirFixedRoom)
{
    CProcessData pd;
    const ProcessData& d = pd.data;
    EXPECT_EQ(d.processMode, kRealtime);
    EXPECT_EQ(d.symbolicSampleSize, kSample32);
    EXPECT_EQ(d.numInputs, 0);
    EXPECT_EQ(d.numOutputs, 1);
    EXPECT_EQ(d.inputs, nullptr);
    EXPECT_EQ(d.inputParameterChanges, pd.inputParameterChanges);
    EXPECT_EQ(d.outputParameterChanges, pd.outputParameterChanges);
    EXPECT_EQ(d.inputEvents, pd.inputEvents);
    EXPECT_NE(pd.inputParameterChanges, pd.outputParameterChanges);

    Event e{};
    for (int32_t i = 0; i < kMaxEventsPerBlock; ++i)
        ASSERT_EQ(pd.inputEvents->addEvent(e), kResultTrue);
    EXPECT_EQ(pd.inputEvents->addEvent(e), kResultFalse);

    // 64 prepared queues: distinct parameters up to that number reuse them.
    for (ParamID id = 0; id < static_cast<ParamID>(kMaxParameterQueues); ++id) {
        int32 index = -1;
        ASSERT_NE(pd.inputParameterChanges->addParameterData(id, index), nullptr);
        EXPECT_EQ(index, static_cast<int32>(id));
    }
    EXPECT_EQ(pd.inputParameterChanges->getParameterCount(), kMaxParameterQueues);
}

} // namespace
} // namespace RenderCoreTest
