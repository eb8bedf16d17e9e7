#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/LevelMeter.h"
#include "plugins/demo/dsp/StateCodec.h"

using namespace PomaroDemo;

TEST(DemoParams, TableIsInIdOrderWithSaneDefaults) {
    for (uint32_t id = 0; id < kNumParams; ++id) {
        EXPECT_EQ(paramDesc(id).id, id);
        EXPECT_GE(paramDesc(id).defaultValue, 0.0);
        EXPECT_LE(paramDesc(id).defaultValue, 1.0);
    }
    EXPECT_TRUE(paramDesc(kParamOutputLevel).readOnly);
    EXPECT_EQ(paramDesc(kParamSustain).stepCount, 1);
    EXPECT_EQ(paramDesc(kParamPitchBend).defaultValue, 0.5);
    EXPECT_FALSE(isValidParam(kNumParams));
}

TEST(DemoParams, MappingsCoverTheirRanges) {
    EXPECT_EQ(volumeGain(0.0), 0.0);
    EXPECT_EQ(volumeGain(1.0), 1.0);
    EXPECT_DOUBLE_EQ(volumeGain(0.5), 0.25);
    EXPECT_NEAR(releaseSeconds(0.0), 0.02, 1e-12);
    EXPECT_NEAR(releaseSeconds(1.0), 3.0, 1e-9);
    EXPECT_EQ(pitchBendSemitones(0.0), -2.0);
    EXPECT_EQ(pitchBendSemitones(0.5), 0.0);
    EXPECT_EQ(pitchBendSemitones(1.0), 2.0);
    EXPECT_FALSE(sustainDown(0.49));
    EXPECT_TRUE(sustainDown(0.5));
    // Out-of-range and NaN inputs are clamped, not propagated.
    EXPECT_EQ(volumeGain(2.0), 1.0);
    EXPECT_EQ(volumeGain(std::nan("")), 0.0);
    EXPECT_EQ(pitchBendSemitones(-1.0), -2.0);
}

TEST(DemoParams, MeterMapsMinusSixtyToZeroDecibels) {
    EXPECT_EQ(levelToNormalized(0.0), 0.0);
    EXPECT_EQ(levelToNormalized(-1.0), 0.0);
    EXPECT_EQ(levelToNormalized(0.0005), 0.0);  // below -60 dB
    EXPECT_NEAR(levelToNormalized(1.0), 1.0, 1e-12);
    EXPECT_NEAR(levelToNormalized(0.1), 2.0 / 3.0, 1e-12);
    EXPECT_EQ(levelToNormalized(4.0), 1.0);
    EXPECT_NEAR(normalizedToLevelDb(0.5), -30.0, 1e-12);
}

TEST(DemoParams, DisplayTextRoundTrips) {
    char text[64];
    for (uint32_t id = 0; id < kNumParams; ++id) {
        for (double n : {0.0, 0.25, 0.5, 0.8, 1.0}) {
            formatParamValue(id, n, text, sizeof text);
            double back = -1.0;
            ASSERT_TRUE(parseParamValue(id, text, back)) << id << " '" << text << "'";
            formatParamValue(id, back, text + 32, 32);
            EXPECT_STREQ(text, text + 32) << id << " " << n;
        }
    }
}

TEST(DemoParams, DisplayTextOfKnownValues) {
    char text[32];
    formatParamValue(kParamVolume, 1.0, text, sizeof text);
    EXPECT_STREQ(text, "0.0");
    formatParamValue(kParamVolume, 0.0, text, sizeof text);
    EXPECT_STREQ(text, "-inf");
    formatParamValue(kParamPitchBend, 1.0, text, sizeof text);
    EXPECT_STREQ(text, "+2.00");
    formatParamValue(kParamSustain, 1.0, text, sizeof text);
    EXPECT_STREQ(text, "On");
    formatParamValue(kParamRelease, 1.0, text, sizeof text);
    EXPECT_STREQ(text, "3.00");
    formatParamValue(kParamVibrato, 1.0, text, sizeof text);
    EXPECT_STREQ(text, "50");
    formatParamValue(kParamOutputLevel, 0.5, text, sizeof text);
    EXPECT_STREQ(text, "-30.0");
    // A tiny buffer is truncated, never overrun.
    char small[3] = {'x', 'x', 'x'};
    formatParamValue(kParamVolume, 0.5, small, 2);
    EXPECT_EQ(small[1], '\0');
    EXPECT_EQ(small[2], 'x');
}

TEST(DemoParams, ParsingRefusesNonsense) {
    double n = 0.42;
    EXPECT_FALSE(parseParamValue(kParamTone, "", n));
    EXPECT_FALSE(parseParamValue(kParamTone, "loud", n));
    EXPECT_FALSE(parseParamValue(kParamTone, "150", n));
    EXPECT_FALSE(parseParamValue(kParamTone, "nan", n));
    EXPECT_FALSE(parseParamValue(kParamVolume, "+3", n));
    EXPECT_FALSE(parseParamValue(kParamRelease, "0.001", n));
    EXPECT_FALSE(parseParamValue(kParamPitchBend, "3", n));
    EXPECT_FALSE(parseParamValue(kParamSustain, "maybe", n));
    EXPECT_FALSE(parseParamValue(kNumParams, "1", n));
    EXPECT_FALSE(parseParamValue(kParamTone, nullptr, n));
    EXPECT_EQ(n, 0.42);
    EXPECT_TRUE(parseParamValue(kParamVolume, "-6 dB", n));
    EXPECT_NEAR(20.0 * std::log10(volumeGain(n)), -6.0, 1e-9);
}

TEST(DemoState, RoundTripsExactly) {
    const DemoState s{0.1, 0.2, 0.3, 0.4};
    uint8_t bytes[kStateBytes];
    encodeState(s, bytes);
    DemoState back = defaultState();
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, back));
    EXPECT_EQ(back.volume, 0.1);
    EXPECT_EQ(back.tone, 0.2);
    EXPECT_EQ(back.release, 0.3);
    EXPECT_EQ(back.vibrato, 0.4);
    // Byte order is fixed: the tag comes first, then version 1 little-endian.
    EXPECT_EQ(std::memcmp(bytes, "PDEP\x01\0\0\0", 8), 0);
}

TEST(DemoState, RefusesForeignOrDamagedData) {
    uint8_t bytes[kStateBytes];
    encodeState(defaultState(), bytes);
    DemoState out{9, 9, 9, 9};
    EXPECT_FALSE(decodeState(bytes, kStateBytes - 1, out));
    EXPECT_FALSE(decodeState(nullptr, kStateBytes, out));
    uint8_t wrong[kStateBytes];
    std::memcpy(wrong, bytes, sizeof wrong);
    wrong[0] = 'X';
    EXPECT_FALSE(decodeState(wrong, sizeof wrong, out));
    std::memcpy(wrong, bytes, sizeof wrong);
    wrong[4] = 2;  // a newer version
    EXPECT_FALSE(decodeState(wrong, sizeof wrong, out));
    const double nan = std::nan("");
    encodeState({0.5, nan, 0.5, 0.5}, wrong);
    EXPECT_FALSE(decodeState(wrong, sizeof wrong, out));
    EXPECT_EQ(out.volume, 9);  // untouched by every refusal

    encodeState({-1.0, 7.0, 0.5, 1e300}, wrong);
    ASSERT_TRUE(decodeState(wrong, sizeof wrong, out));
    EXPECT_EQ(out.volume, 0.0);
    EXPECT_EQ(out.tone, 1.0);
    EXPECT_EQ(out.vibrato, 1.0);
}

TEST(LevelMeter, RisesAtOnceAndFallsTwentyDecibelsInPointSevenSeconds) {
    LevelMeter meter;
    meter.setup(48000.0);
    float loud[480], quiet[480] = {};
    for (int i = 0; i < 480; ++i) loud[i] = (i == 100) ? -0.5f : 0.1f;
    EXPECT_FLOAT_EQ(float(meter.process(loud, quiet, 480)), 0.5f);
    for (int i = 0; i < 70; ++i) meter.process(quiet, quiet, 480);  // 0.7 s
    EXPECT_NEAR(meter.value(), 0.05, 1e-6);
    for (int i = 0; i < 400; ++i) meter.process(quiet, quiet, 480);
    EXPECT_EQ(meter.value(), 0.0);
}
