// The demo instrument's platform-free parts: the synth engine measured on its rendered
// sound, the parameter mappings and texts, the state codec and the editor layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/EpSynth.h"
#include "plugins/demo/dsp/StateCodec.h"
#include "plugins/demo/ui/EditorLayout.h"

using namespace PomaroDemo;

namespace {

using Samples = std::vector<float>;

// The left channel, rendered in device-like blocks.
Samples render(EpSynth& synth, double seconds, double rate = 48000.0, int block = 256)
{
    const size_t frames = size_t(seconds * rate);
    Samples left(frames), right(frames);
    for (size_t pos = 0; pos < frames; pos += size_t(block))
        synth.render(&left[pos], &right[pos], int(std::min<size_t>(size_t(block), frames - pos)));
    return left;
}

double rms(const Samples& x, size_t from = 0, size_t to = SIZE_MAX)
{
    to = std::min(to, x.size());
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

float largestStep(const Samples& x, float previous)
{
    float step = 0.0f;
    for (float v : x)
        step = std::max(step, std::fabs(v - previous)), previous = v;
    return step;
}

} // namespace

TEST(EpSynth, LevelFollowsVelocityAndVolumeAndStaysWithinFullScale)
{
    auto level = [](float velocity, double volume) {
        EpSynth synth;
        synth.setVolume(volume);
        synth.reset(); // start at the target, no glide from the default
        synth.noteOn(0, 60, velocity);
        return rms(render(synth, 0.3));
    };
    double previous = 0.0;
    for (float velocity : {0.1f, 0.4f, 0.7f, 1.0f}) {
        EXPECT_GT(level(velocity, 0.8), previous * 1.3) << velocity;
        previous = level(velocity, 0.8);
    }
    const double full = level(0.6f, 1.0);
    ASSERT_GT(full, 0.01);
    EXPECT_NEAR(level(0.6f, 0.5) / full, 0.25, 0.0025); // square law
    EXPECT_EQ(level(0.6f, 0.0), 0.0);

    // A volume change glides: a step at the change would click.
    EpSynth gliding;
    gliding.setVolume(1.0);
    gliding.reset();
    gliding.noteOn(0, 60, 0.8f);
    render(gliding, 0.1);
    const double before = rms(render(gliding, 0.01));
    gliding.setVolume(0.0);
    const Samples after = render(gliding, 0.2);
    EXPECT_GT(rms(after, 0, 48), 0.5 * before);
    EXPECT_EQ(rms(after, after.size() - 480), 0.0);

    EpSynth chord;
    chord.setVolume(1.0);
    chord.setTone(1.0);
    for (int i = 0; i < EpSynth::kMaxVoices; ++i)
        chord.noteOn(0, 36 + 3 * i, 1.0f);
    float loudest = 0.0f;
    for (float v : render(chord, 0.5))
        loudest = std::max(loudest, std::fabs(v));
    EXPECT_TRUE(loudest > 0.5f && loudest < 1.0f) << loudest;
}

TEST(EpSynth, NoteOffFadesCleanlyToExactSilenceWithinTheReleaseTime)
{
    for (double release : {0.0, 0.3, 0.7}) {
        EpSynth synth;
        synth.setRelease(release);
        synth.noteOn(0, 60, 1.0f);
        const Samples held = render(synth, 0.2);
        synth.noteOff(0, 60);
        const double seconds = releaseSeconds(release);
        const Samples tail = render(synth, seconds + 0.002);
        const size_t quarter = size_t(0.25 * seconds * 48000);
        EXPECT_GT(rms(tail, 0, 24), 0.5 * rms(held, held.size() - 240)) << release;
        EXPECT_EQ(synth.activeVoices(), 0) << release;
        EXPECT_EQ(rms(tail, tail.size() - 48), 0.0) << release;
        EXPECT_TRUE(seconds < 0.1 || rms(tail, quarter, quarter + 480) > 0.0) << release;
    }
}

// Scripts on an engine with the 20 ms release, each followed by that release time: the
// voices left, and which keys still sound.
TEST(EpSynth, ScriptsLeaveTheirVoices)
{
    auto strike = [](EpSynth& s, std::vector<int> pitches, bool off = false) {
        for (int p : pitches)
            off ? s.noteOff(0, p) : s.noteOn(0, p, 0.8f);
    };
    auto check = [](const char* what, int voices, std::vector<int> sounding, std::vector<int> silent,
                    const std::function<void(EpSynth&)>& script) {
        EpSynth synth;
        synth.setRelease(0.0);
        script(synth);
        render(synth, releaseSeconds(0.0) + 0.01);
        EXPECT_EQ(synth.activeVoices(), voices) << what;
        for (const auto& [keys, sounds] : {std::pair{&sounding, true}, {&silent, false}})
            for (int p : *keys)
                EXPECT_EQ(synth.isSounding(p), sounds) << what << " " << p;
    };
    check("notes kept apart by channel, keys out of range ignored", 1, {60}, {}, [&](EpSynth& s) {
        strike(s, {60, 200, -1, 128});
        s.noteOn(1, 60, 0.8f), s.noteOff(1, 60);
    });
    check("restriking a sustained key reuses its voice", 1, {60}, {}, [&](EpSynth& s) {
        s.setSustain(true);
        for (int i = 0; i < 10; ++i)
            strike(s, {60}, i % 2), render(s, 0.02);
    });
    check("a release change applies to ringing tails", 0, {}, {60}, [&](EpSynth& s) {
        s.setRelease(1.0); // 3 s
        for (bool off : {false, true})
            strike(s, {60}, off), render(s, 0.05);
        s.setRelease(0.0);
    });
    check("the pedal holds released keys, lifting it ends them but not a key still down", 1, {67}, {60, 64},
          [&](EpSynth& s) {
              s.setSustain(true);
              strike(s, {60, 64}), render(s, 0.1);
              strike(s, {60, 64}, true);
              EXPECT_GT(rms(render(s, 0.5), 23520), 0.001);
              EXPECT_EQ(s.activeVoices(), 2);
              strike(s, {67}), render(s, 0.05);
              s.setSustain(false);
          });
    check("a released tail is taken before a held key", EpSynth::kMaxVoices, {90, 40}, {50}, [&](EpSynth& s) {
        s.setRelease(1.0);
        for (int i = 0; i < EpSynth::kMaxVoices; ++i)
            strike(s, {40 + i});
        render(s, 0.05), strike(s, {50}, true);
        render(s, 0.05), strike(s, {90});
    });
}

// Any block size the host picks gives the same sound, down to the sample.
TEST(EpSynth, SeventeenthNoteTakesTheOldestHeldVoiceWithoutAClickAtAnyBlockSize)
{
    Samples first;
    for (int block : {256, 37, 1}) {
        EpSynth synth;
        synth.setVolume(1.0);
        synth.setVibrato(0.6);
        for (int i = 0; i < EpSynth::kMaxVoices; ++i) {
            synth.noteOn(0, 40 + i, 1.0f);
            render(synth, 0.005, 48000.0, block);
        }
        render(synth, 0.2, 48000.0, block);
        const Samples before = render(synth, 0.01, 48000.0, block);
        synth.noteOn(0, 30, 0.3f);
        const Samples during = render(synth, 0.01, 48000.0, block);
        // Cutting a voice dead would step by its whole amplitude (about 0.2).
        EXPECT_LT(largestStep(during, before.back()), 1.5f * largestStep(before, before[0]) + 0.01f) << block;
        EXPECT_EQ(synth.activeVoices(), EpSynth::kMaxVoices) << block;
        for (int i = -1; i < EpSynth::kMaxVoices; ++i)
            EXPECT_EQ(synth.isSounding(i < 0 ? 30 : 40 + i), i != 0) << block << " " << i;
        if (first.empty())
            first = during;
        EXPECT_EQ(during, first) << block;
    }
}

TEST(DemoParams, MappingsClampAndTextsRoundTrip)
{
    // Ends and clamps (the level test measures volume inside the range).
    const std::tuple<double (*)(double), double, double> maps[] = {
        {volumeGain, 2.0, 1.0},           {volumeGain, std::nan(""), 0.0},
        {releaseSeconds, 0.0, 0.02},      {releaseSeconds, 1.0, 3.0},
        {pitchBendSemitones, 0.0, -2.0},  {pitchBendSemitones, 0.5, 0.0},
        {pitchBendSemitones, 1.0, 2.0},   {pitchBendSemitones, -1.0, -2.0},
        {levelToNormalized, 0.0, 0.0},    {levelToNormalized, -1.0, 0.0},
        {levelToNormalized, 0.0005, 0.0}, // below -60 dB
        {levelToNormalized, 1.0, 1.0},    {levelToNormalized, 0.1, 2.0 / 3.0},
        {levelToNormalized, 4.0, 1.0},    {normalizedToLevelDb, 0.5, -30.0},
    };
    for (const auto& [map, in, out] : maps)
        EXPECT_NEAR(map(in), out, 1e-9) << in;
    EXPECT_TRUE(!sustainDown(0.49) && sustainDown(0.5));

    const std::tuple<uint32_t, double, const char*> texts[] = {
        {kParamVolume, 1.0, "0.0"},   {kParamVolume, 0.0, "-inf"}, {kParamSustain, 1.0, "On"},
        {kParamRelease, 1.0, "3.00"}, {kParamVibrato, 1.0, "50"},
    };
    char text[32], again[32];
    for (const auto& [id, value, want] : texts) {
        formatParamValue(id, value, text, sizeof text);
        EXPECT_STREQ(text, want) << id;
    }
    for (uint32_t id = 0; id < kNumParams; ++id)
        for (double n : {0.0, 0.25, 0.5, 0.8, 1.0}) {
            formatParamValue(id, n, text, sizeof text);
            double back = -1.0;
            ASSERT_TRUE(parseParamValue(id, text, back)) << id << " '" << text << "'";
            formatParamValue(id, back, again, sizeof again);
            EXPECT_STREQ(text, again) << id << " " << n;
        }
    char small[3] = {'x', 'x', 'x'}; // a tiny buffer is truncated, never overrun
    formatParamValue(kParamVolume, 0.5, small, 2);
    EXPECT_TRUE(small[1] == '\0' && small[2] == 'x');

    const std::pair<uint32_t, const char*> refused[] = {
        {kParamTone, ""},     {kParamTone, "loud"},     {kParamTone, "150"},    {kParamTone, "nan"},
        {kParamVolume, "+3"}, {kParamRelease, "0.001"}, {kParamPitchBend, "3"}, {kParamSustain, "maybe"},
        {kNumParams, "1"},    {kParamTone, nullptr}};
    double n = 0.42;
    for (const auto& [id, what] : refused)
        EXPECT_FALSE(parseParamValue(id, what, n)) << id << " " << (what ? what : "null");
    EXPECT_EQ(n, 0.42);
    EXPECT_TRUE(parseParamValue(kParamVolume, "-6 dB", n));
    EXPECT_NEAR(20.0 * std::log10(volumeGain(n)), -6.0, 1e-9);
}

TEST(DemoState, RoundTripsExactlyAndRefusesForeignOrDamagedData)
{
    uint8_t bytes[kStateBytes], wrong[kStateBytes];
    encodeState({0.1, 0.2, 0.3, 0.4}, bytes);
    EXPECT_EQ(std::memcmp(bytes, "PDEP\x01\0\0\0", 8), 0); // tag, then version 1 little-endian
    DemoState out{9, 9, 9, 9};
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, out));
    EXPECT_TRUE(out.volume == 0.1 && out.tone == 0.2 && out.release == 0.3 && out.vibrato == 0.4);

    out = {9, 9, 9, 9};
    EXPECT_FALSE(decodeState(bytes, kStateBytes - 1, out) || decodeState(nullptr, kStateBytes, out));
    for (size_t at : {size_t(0), size_t(4)}) { // the tag, the version (a newer one)
        std::memcpy(wrong, bytes, sizeof wrong);
        wrong[at] = at == 0 ? 'X' : 2;
        EXPECT_FALSE(decodeState(wrong, sizeof wrong, out)) << at;
    }
    encodeState({0.5, std::nan(""), 0.5, 0.5}, bytes);
    EXPECT_FALSE(decodeState(bytes, sizeof bytes, out));
    EXPECT_EQ(out.volume, 9); // untouched by every refusal
    encodeState({-1.0, 7.0, 0.5, 1e300}, bytes);
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, out));
    EXPECT_TRUE(out.volume == 0.0 && out.tone == 1.0 && out.vibrato == 1.0);
}

// (The editor's test shows the layout stretching with the width.)
TEST(EditorLayout, MeterFillsWithTheLevelWithinItsArea)
{
    Rect meter;
    meter.left = 10, meter.right = 110, meter.bottom = 10;
    for (const auto& [level, right] : {std::pair{0.0, 10}, {0.5, 60}, {1.0, 110}, {7.0, 110}, {-1.0, 10}})
        EXPECT_EQ(meterFill(meter, level).right, right) << level;
}
