// Sizing and scoring rules of the device choice, with the worked examples.
#include "audio/DeviceChoice.h"
#include "audio/RestartRequests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Kelvane;

TEST(WasapiBufferRange, PeriodsBecomeFramesInSteps)
{
    // 3 ms minimum and 10 ms default period at 48 kHz.
    const BufferSizeRange r = wasapiBufferSizeRange(100000, 30000, 48000);
    EXPECT_EQ(r.minFrames, 144);
    EXPECT_EQ(r.maxFrames, 960);
    EXPECT_EQ(r.preferredFrames, 144);
    EXPECT_EQ(r.granularity, 16);
    // 3 ms at 44.1 kHz is 132.3 frames: rounded to 132, cut to 128.
    EXPECT_EQ(periodToFrames(30000, 44100), 128);
    // 10 ms at 44.1 kHz is 441: cut to 432, so the largest size is 864.
    EXPECT_EQ(wasapiBufferSizeRange(100000, 30000, 44100).maxFrames, 864);
    // Rounding happens before the cut: 15.5 frames round up to 16.
    EXPECT_EQ(periodToFrames(3230, 48000), 16);
    EXPECT_EQ(periodToFrames(3120, 48000), 0);
}

TEST(WasapiBufferRange, DurationOfFrames)
{
    EXPECT_EQ(bufferDuration(48000, 480), 100000);
    EXPECT_EQ(bufferDuration(48000, 144), 30000);
    // 10^7/44100 * 441 = 100000 exactly up to rounding.
    EXPECT_EQ(bufferDuration(44100, 441), 100000);
    // 512 frames at 44.1 kHz: 116099.77 units, rounded.
    EXPECT_EQ(bufferDuration(44100, 512), 116100);
    EXPECT_EQ(bufferDuration(0, 512), 0);
}

TEST(HostBufferSize, WorkedExamples)
{
    // No dialog choice: the preferred 144 is under 10 ms and becomes 480.
    EXPECT_EQ(hostBufferSize(0, 144, 48000, 144, 960, 16), 480);
    EXPECT_EQ(hostBufferSize(64, 144, 48000, 144, 960, 16), 480);
    EXPECT_EQ(hostBufferSize(5000, 144, 48000, 144, 960, 16), 960);
    EXPECT_EQ(hostBufferSize(500, 144, 48000, 144, 960, 16), 496);
}

TEST(HostBufferSize, TenMillisecondFloorPerRate)
{
    EXPECT_EQ(hostBufferSize(1, 0, 22050, 0, 100000, 0), 220);
    EXPECT_EQ(hostBufferSize(1, 0, 44100, 0, 100000, 0), 441);
    EXPECT_EQ(hostBufferSize(1, 0, 48000, 0, 100000, 0), 480);
    EXPECT_EQ(hostBufferSize(1, 0, 96000, 0, 100000, 0), 960);
}

TEST(HostBufferSize, GranularityAndLimits)
{
    // An ASIO driver's granularity of -1 takes powers of two only: the next one up,
    // within the driver's limits (a 480-frame request refused by createBuffers left
    // such a driver silent).
    EXPECT_EQ(hostBufferSize(500, 0, 48000, 64, 2048, -1), 512);
    EXPECT_EQ(hostBufferSize(0, 256, 48000, 64, 2048, -1), 512);
    EXPECT_EQ(hostBufferSize(256, 0, 22050, 64, 2048, -1), 256);
    EXPECT_EQ(hostBufferSize(5000, 0, 48000, 64, 2048, -1), 2048);
    EXPECT_EQ(hostBufferSize(500, 0, 48000, 64, 2048, 0), 500);
    // The floor and the cut may land under the minimum, which then wins.
    EXPECT_EQ(hostBufferSize(0, 100, 44100, 448, 960, 16), 448);
    // The preferred size is used only when no size was asked for.
    EXPECT_EQ(hostBufferSize(0, 720, 48000, 144, 960, 16), 720);
    EXPECT_EQ(hostBufferSize(-5, 720, 48000, 144, 960, 16), 720);
}

TEST(DeviceScore, RatesAndBases)
{
    EXPECT_EQ(deviceScore(Rate48000 | Rate44100, 100), 120);
    EXPECT_EQ(deviceScore(Rate44100 | Rate96000, 100), 110);
    EXPECT_EQ(deviceScore(Rate96000, 100), 100);
    EXPECT_EQ(deviceScore(Rate22050, 0), 0); // not above 0: never chosen
    EXPECT_EQ(deviceScore(0, 100), -10);
    EXPECT_EQ(deviceScore(Rate48000, 0), 20);

    EXPECT_EQ(familyBaseScore(DriverAuto, DriverWasapi), 100);
    EXPECT_EQ(familyBaseScore(DriverWasapi, DriverWasapi), 100);
    EXPECT_EQ(familyBaseScore(DriverAsio, DriverWasapi), 0);
    EXPECT_EQ(familyBaseScore(DriverAuto, DriverAsio), 0);
    EXPECT_EQ(familyBaseScore(DriverWasapi, DriverAsio), 0);
    EXPECT_EQ(familyBaseScore(DriverAsio, DriverAsio), 100);
}

TEST(PreferredSampleRate, Order)
{
    EXPECT_EQ(preferredSampleRate(Rate22050 | Rate44100 | Rate48000 | Rate96000), Rate48000);
    EXPECT_EQ(preferredSampleRate(Rate22050 | Rate44100 | Rate96000), Rate44100);
    EXPECT_EQ(preferredSampleRate(Rate22050 | Rate96000), Rate96000);
    EXPECT_EQ(preferredSampleRate(Rate22050), Rate22050);
    EXPECT_EQ(preferredSampleRate(0), RateNone);
    EXPECT_EQ(preferredSampleRate(16), RateNone);
}

TEST(RestartRequests, CoalescedDeferredAndBounded)
{
    // a: a driver asks (1: the message is to be posted); m@t: the message arrives at t ms;
    // b / e: a busy stretch begins / ends (e 1: post again); x: the device was replaced;
    // u: the user chose a device. Expected for m: R restart, W wait, I ignore, F first refusal.
    using A = RestartRequests::Action;
    struct Step
    {
        char op;
        uint64_t at;
        int expect;
    };
    const int R = int(A::Restart), W = int(A::Wait), I = int(A::Ignore), F = int(A::IgnoreFirst);
    const struct
    {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"burst, more during the restart",
         {{'a', 0, 1},
          {'a', 0, 0},
          {'a', 0, 0},
          {'m', 0, R},
          {'b', 0, 0},
          {'a', 0, 1},
          {'a', 0, 0},
          {'x', 0, 0},
          {'e', 0, 0},
          {'m', 9, I}}},
        {"inside the control panel",
         {{'b', 0, 0}, {'a', 0, 1}, {'m', 0, W}, {'a', 0, 1}, {'m', 0, W}, {'e', 0, 1}, {'m', 5, R}}},
        {"nested busy stretches",
         {{'b', 0, 0}, {'b', 0, 0}, {'a', 0, 1}, {'m', 0, W}, {'e', 0, 0}, {'e', 0, 1}, {'m', 5, R}}},
        {"a message nobody asked for", {{'m', 0, R}}},
        {"the new device asks while the old one's message waits",
         {{'a', 0, 1},
          {'m', 0, R},
          {'b', 0, 0},
          {'a', 0, 1},
          {'x', 0, 0},
          {'a', 0, 0},
          {'e', 0, 0},
          {'m', 9, R}}},
        {"asks after every restart",
         {{'a', 0, 1},
          {'m', 0, R},
          {'x', 0, 0},
          {'a', 0, 1},
          {'m', 900, R},
          {'x', 0, 0},
          {'a', 0, 1},
          {'m', 1800, R},
          {'x', 0, 0},
          {'a', 0, 1},
          {'m', 2700, F},
          {'a', 0, 1},
          {'m', 30000, I},
          {'u', 0, 0},
          {'a', 0, 1},
          {'m', 30001, R}}},
        {"three in the window, the fourth after it",
         {{'m', 0, R}, {'m', 4000, R}, {'m', 8000, R}, {'m', 10001, R}, {'m', 11000, F}}},
    };
    for (const auto& c : cases) {
        RestartRequests r;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            int got = 0;
            switch (s.op) {
            case 'a':
                got = r.ask();
                break;
            case 'm':
                got = int(r.onMessage(s.at));
                break;
            case 'b':
                r.beginBusy();
                break;
            case 'e':
                got = r.endBusy();
                break;
            case 'x':
                r.answered();
                break;
            case 'u':
                r.userChoseDevice();
                break;
            }
            EXPECT_EQ(got, s.expect) << c.name << ", step " << i << " (" << s.op << ")";
        }
    }
}
