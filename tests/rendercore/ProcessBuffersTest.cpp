// The plug-in's output channels and the lists the process data carries.

#include "host/ProcessData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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
            EXPECT_TRUE(b.sampleSize == kSample32 && b.numBuses == busCount && b.numChannels == 2 &&
                        b.numSamples == s.frames);
            const std::uintptr_t base = address(b.buses[0].channelBuffers32[0]);
            EXPECT_EQ(base % 16, 0u);
            EXPECT_TRUE(base >= address(b.memory.get()) && base < address(b.memory.get()) + 16);
            for (int32_t bus = 0; bus < busCount; ++bus) {
                AudioBusBuffers& a = b.buses[bus];
                EXPECT_EQ(a.numChannels, 2);
                for (int c = 0; c < 2; ++c) {
                    EXPECT_EQ(address(a.channelBuffers32[c]), base + (2 * bus + c) * s.stride);
                    EXPECT_EQ(b.channel(bus, c), a.channelBuffers32[c]);
                    // Every sample is writable (ASan checks the block's end), and clear()
                    // takes every one back to silence.
                    std::fill(a.channelBuffers32[c], a.channelBuffers32[c] + s.frames, 1.f);
                }
                a.silenceFlags = 3;
            }
            EXPECT_EQ(b.channel(busCount, 0), nullptr);
            EXPECT_EQ(b.channel(0, 2), nullptr);
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
    for (const auto& [buses, frames] : {std::pair{0, 512}, std::pair{1, 0}, std::pair{-1, 64}}) {
        EXPECT_FALSE(b.allocate(buses, frames));
        EXPECT_TRUE(!b.buses && !b.memory && b.numBuses == 0 && b.numSamples == 0);
    }
    ASSERT_TRUE(b.allocate(1, 64));
    ASSERT_TRUE(b.allocate(1, 2048)); // a new buffer length replaces the old set
    EXPECT_EQ(b.numSamples, 2048);
    b.buses[0].channelBuffers32[1][2047] = 0.5f;
    b.release();
    b.release();
    EXPECT_EQ(b.memory, nullptr);
}

} // namespace
} // namespace RenderCoreTest
