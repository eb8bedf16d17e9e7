#include "testdrivers/endpoint/StreamRules.h"

#include <gtest/gtest.h>

using namespace PomaroTestEndpoint;

namespace {
FormatDesc pcm16(uint32_t rate)
{
    FormatDesc f;
    f.tag = 1;
    f.channels = 2;
    f.rate = rate;
    f.avgBytes = rate * 4;
    f.blockAlign = 4;
    f.bits = 16;
    return f;
}
EndpointSpec spec()
{
    EndpointSpec e;
    e.rates = {44100, 48000};
    return e;
}
} // namespace

TEST(StreamRules, ExclusiveAcceptsOnly16BitStereoAtListedRates)
{
    EndpointSpec e = spec();
    EXPECT_TRUE(isExclusiveFormatAccepted(e, pcm16(48000)));
    EXPECT_TRUE(isExclusiveFormatAccepted(e, pcm16(44100)));
    EXPECT_FALSE(isExclusiveFormatAccepted(e, pcm16(96000)));
    FormatDesc f = pcm16(48000);
    f.channels = 1;
    f.blockAlign = 2;
    f.avgBytes = 96000;
    EXPECT_FALSE(isExclusiveFormatAccepted(e, f)) << "mono";
    f = pcm16(48000);
    f.bits = 24;
    f.blockAlign = 6;
    f.avgBytes = 288000;
    EXPECT_FALSE(isExclusiveFormatAccepted(e, f)) << "24-bit";
    f = pcm16(48000);
    f.avgBytes = 1;
    EXPECT_FALSE(isExclusiveFormatAccepted(e, f)) << "inconsistent byte rate";
    f = pcm16(48000);
    f.tag = 3;
    EXPECT_FALSE(isExclusiveFormatAccepted(e, f)) << "float tag";
    f = pcm16(48000);
    f.tag = 0xFFFE;
    EXPECT_FALSE(isExclusiveFormatAccepted(e, f)) << "extensible without the PCM sub-format";
    f.extensiblePcm = true;
    EXPECT_TRUE(isExclusiveFormatAccepted(e, f));
}

TEST(StreamRules, MixFormatIsTheMixRateOnly)
{
    EndpointSpec e = spec();
    e.mixRate = 44100;
    EXPECT_TRUE(isMixFormat(e, pcm16(44100)));
    EXPECT_FALSE(isMixFormat(e, pcm16(48000)));
}

TEST(StreamRules, DurationsAndFramesRoundTrip)
{
    EXPECT_EQ(framesForDuration(100000, 48000), 480u);
    EXPECT_EQ(framesForDuration(100000, 44100), 441u);
    EXPECT_EQ(framesForDuration(30000, 48000), 144u);
    EXPECT_EQ(framesForDuration(0, 48000), 0u);
    EXPECT_EQ(framesForDuration(-5, 48000), 0u);
    // The host's own rounding: (10 000 000 / hz) * frames + 0.5, truncated.
    for (uint32_t hz : {22050u, 44100u, 48000u, 96000u}) {
        for (uint32_t frames : {16u, 144u, 220u, 441u, 480u, 512u, 960u, 4096u}) {
            auto hns = int64_t(10000000.0 / hz * frames + 0.5);
            EXPECT_EQ(framesForDuration(hns, hz), frames) << hz << " Hz, " << frames;
            EXPECT_EQ(framesForDuration(durationForFrames(frames, hz), hz), frames);
        }
    }
    EXPECT_EQ(durationForFrames(480, 48000), 100000);
    EXPECT_EQ(durationForFrames(1, 0), 0);
}

TEST(StreamRules, SizeDecisions)
{
    EndpointSpec e = spec();
    SizeDecision d = decideExclusiveSize(e, 480);
    EXPECT_TRUE(d.aligned);
    EXPECT_EQ(d.frames, 480u);

    e.notAlignedRequest = 480;
    e.notAlignedAnswer = 512;
    d = decideExclusiveSize(e, 480);
    EXPECT_FALSE(d.aligned);
    EXPECT_EQ(d.frames, 512u);
    EXPECT_TRUE(decideExclusiveSize(e, 512).aligned) << "the aligned answer itself is accepted";

    e = spec();
    e.alignFrames = 64;
    d = decideExclusiveSize(e, 480);
    EXPECT_FALSE(d.aligned);
    EXPECT_EQ(d.frames, 512u) << "the next larger multiple";
    EXPECT_TRUE(decideExclusiveSize(e, 448).aligned);

    e = spec();
    e.extraFrames = 32;
    d = decideExclusiveSize(e, 480);
    EXPECT_TRUE(d.aligned);
    EXPECT_EQ(d.frames, 512u) << "a buffer larger than asked";
}
