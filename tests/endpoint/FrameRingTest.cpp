#include "testdrivers/endpoint/FrameRing.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace PomaroTestEndpoint;

TEST(FrameRing, KeepsOrderAndRefusesWhatDoesNotFit)
{
    FrameRing ring(6);
    EXPECT_EQ(ring.capacity(), 8u);
    int16_t in[20];
    for (int i = 0; i < 20; ++i)
        in[i] = int16_t(i * 100 - 900);
    EXPECT_EQ(ring.push(in, 5), 5u);
    EXPECT_EQ(ring.push(in + 10, 5), 3u) << "only three frames of room left";
    EXPECT_EQ(ring.available(), 8u);
    int16_t out[20] = {};
    EXPECT_EQ(ring.pop(out, 4), 4u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], in[i]);
    EXPECT_EQ(ring.pushSilence(10), 4u);
    EXPECT_EQ(ring.pop(out, 20), 8u);
    EXPECT_EQ(out[0], in[8]);
    EXPECT_EQ(out[1], in[9]);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[2 + i], in[10 + i]) << "wrapped frames";
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(out[i], 0);
    EXPECT_EQ(ring.available(), 0u);
    EXPECT_EQ(ring.pop(out, 4), 0u);
}

TEST(FrameRing, EmptyRingTakesNothing)
{
    FrameRing ring;
    int16_t f[2] = {1, 2};
    EXPECT_EQ(ring.push(f, 1), 0u);
    EXPECT_EQ(ring.pop(f, 1), 0u);
}

// One producer and one consumer at full speed: every frame arrives once, in order.
TEST(FrameRing, ProducerAndConsumerThreads)
{
    FrameRing ring(256);
    constexpr uint32_t kFrames = 200000;
    std::thread producer([&] {
        int16_t block[2 * 37];
        uint32_t next = 0;
        while (next < kFrames) {
            uint32_t n = std::min<uint32_t>(37, kFrames - next);
            for (uint32_t i = 0; i < n; ++i) {
                block[2 * i] = int16_t((next + i) & 0x7FFF);
                block[2 * i + 1] = int16_t(~(next + i) & 0x7FFF);
            }
            next += ring.push(block, n);
        }
    });
    uint32_t expect = 0;
    bool ordered = true;
    int16_t out[2 * 64];
    while (expect < kFrames) {
        uint32_t n = ring.pop(out, 64);
        for (uint32_t i = 0; i < n; ++i, ++expect) {
            ordered = ordered && out[2 * i] == int16_t(expect & 0x7FFF) &&
                      out[2 * i + 1] == int16_t(~expect & 0x7FFF);
        }
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(ring.available(), 0u);
}
