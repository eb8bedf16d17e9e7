#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/LevelMeter.h"
#include "plugins/demo/dsp/StateCodec.h"

using namespace PomaroDemo;

TEST(DemoParams, MappingsCoverTheirRangesAndClampTheRest)
{
    const struct
    {
        double (*map)(double);
        double in, out;
    } cases[] = {
        {volumeGain, 0.0, 0.0},           {volumeGain, 1.0, 1.0},
        {volumeGain, 0.5, 0.25},          {volumeGain, 2.0, 1.0},
        {volumeGain, std::nan(""), 0.0},  {releaseSeconds, 0.0, 0.02},
        {releaseSeconds, 1.0, 3.0},       {pitchBendSemitones, 0.0, -2.0},
        {pitchBendSemitones, 0.5, 0.0},   {pitchBendSemitones, 1.0, 2.0},
        {pitchBendSemitones, -1.0, -2.0}, {levelToNormalized, 0.0, 0.0},
        {levelToNormalized, -1.0, 0.0},   {levelToNormalized, 0.0005, 0.0}, // below -60 dB
        {levelToNormalized, 1.0, 1.0},    {levelToNormalized, 0.1, 2.0 / 3.0},
        {levelToNormalized, 4.0, 1.0},    {normalizedToLevelDb, 0.5, -30.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(c.map(c.in), c.out, 1e-9) << c.in;
    EXPECT_FALSE(sustainDown(0.49));
    EXPECT_TRUE(sustainDown(0.5));
}

TEST(DemoParams, DisplayTextOfKnownValuesRoundTrips)
{
    const struct
    {
        uint32_t id;
        double value;
        const char* text;
    } cases[] = {
        {kParamVolume, 1.0, "0.0"}, {kParamVolume, 0.0, "-inf"},       {kParamPitchBend, 1.0, "+2.00"},
        {kParamSustain, 1.0, "On"}, {kParamRelease, 1.0, "3.00"},      {kParamVibrato, 1.0, "50"},
        {kParamTone, 0.25, "25"},   {kParamOutputLevel, 0.5, "-30.0"},
    };
    char text[32];
    for (const auto& c : cases) {
        formatParamValue(c.id, c.value, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.id;
    }
    for (uint32_t id = 0; id < kNumParams; ++id) {
        for (double n : {0.0, 0.25, 0.5, 0.8, 1.0}) {
            formatParamValue(id, n, text, sizeof text);
            double back = -1.0;
            ASSERT_TRUE(parseParamValue(id, text, back)) << id << " '" << text << "'";
            char again[32];
            formatParamValue(id, back, again, sizeof again);
            EXPECT_STREQ(text, again) << id << " " << n;
        }
    }
    // A tiny buffer is truncated, never overrun.
    char small[3] = {'x', 'x', 'x'};
    formatParamValue(kParamVolume, 0.5, small, 2);
    EXPECT_EQ(small[1], '\0');
    EXPECT_EQ(small[2], 'x');
}

TEST(DemoParams, ParsingRefusesNonsense)
{
    double n = 0.42;
    const struct
    {
        uint32_t id;
        const char* text;
    } refused[] = {{kParamTone, ""},       {kParamTone, "loud"},     {kParamTone, "150"},
                   {kParamTone, "nan"},    {kParamVolume, "+3"},     {kParamRelease, "0.001"},
                   {kParamPitchBend, "3"}, {kParamSustain, "maybe"}, {kNumParams, "1"},
                   {kParamTone, nullptr}};
    for (const auto& r : refused)
        EXPECT_FALSE(parseParamValue(r.id, r.text, n)) << r.id << " " << (r.text ? r.text : "null");
    EXPECT_EQ(n, 0.42);
    EXPECT_TRUE(parseParamValue(kParamVolume, "-6 dB", n));
    EXPECT_NEAR(20.0 * std::log10(volumeGain(n)), -6.0, 1e-9);
}

TEST(DemoState, RoundTripsExactlyAndRefusesForeignOrDamagedData)
{
    uint8_t bytes[kStateBytes];
    encodeState({0.1, 0.2, 0.3, 0.4}, bytes);
    // Byte order is fixed: the tag comes first, then version 1 little-endian.
    EXPECT_EQ(std::memcmp(bytes, "PDEP\x01\0\0\0", 8), 0);
    DemoState out{9, 9, 9, 9};
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, out));
    EXPECT_EQ(out.volume, 0.1);
    EXPECT_EQ(out.tone, 0.2);
    EXPECT_EQ(out.release, 0.3);
    EXPECT_EQ(out.vibrato, 0.4);

    out = {9, 9, 9, 9};
    EXPECT_FALSE(decodeState(bytes, kStateBytes - 1, out));
    EXPECT_FALSE(decodeState(nullptr, kStateBytes, out));
    for (size_t at : {size_t(0), size_t(4)}) { // the tag, the version (a newer one)
        uint8_t wrong[kStateBytes];
        std::memcpy(wrong, bytes, sizeof wrong);
        wrong[at] = at == 0 ? 'X' : 2;
        EXPECT_FALSE(decodeState(wrong, sizeof wrong, out)) << at;
    }
    encodeState({0.5, std::nan(""), 0.5, 0.5}, bytes);
    EXPECT_FALSE(decodeState(bytes, sizeof bytes, out));
    EXPECT_EQ(out.volume, 9); // untouched by every refusal

    encodeState({-1.0, 7.0, 0.5, 1e300}, bytes);
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, out));
    EXPECT_EQ(out.volume, 0.0);
    EXPECT_EQ(out.tone, 1.0);
    EXPECT_EQ(out.vibrato, 1.0);
}

TEST(LevelMeter, RisesAtOnceAndFallsTwentyDecibelsInPointSevenSeconds)
{
    LevelMeter meter;
    meter.setup(48000.0);
    float loud[480], quiet[480] = {};
    for (int i = 0; i < 480; ++i)
        loud[i] = (i == 100) ? -0.5f : 0.1f;
    EXPECT_FLOAT_EQ(float(meter.process(loud, quiet, 480)), 0.5f);
    for (int i = 0; i < 70; ++i)
        meter.process(quiet, quiet, 480); // 0.7 s
    EXPECT_NEAR(meter.value(), 0.05, 1e-6);
    for (int i = 0; i < 400; ++i)
        meter.process(quiet, quiet, 480);
    EXPECT_EQ(meter.value(), 0.0);
}
