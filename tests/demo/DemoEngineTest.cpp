// The demo instrument's platform-free parts: the synth engine measured on its rendered
// sound, the parameter mappings and texts, the state codec, the meter and the editor layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/EpSynth.h"
#include "plugins/demo/dsp/LevelMeter.h"
#include "plugins/demo/dsp/StateCodec.h"
#include "plugins/demo/ui/EditorLayout.h"

using namespace PomaroDemo;

namespace {

using Samples = std::vector<float>;
struct Stereo
{
    Samples left, right;
};

// Renders in device-like blocks.
Stereo render(EpSynth& synth, double seconds, double rate = 48000.0, int block = 256)
{
    const size_t frames = size_t(seconds * rate);
    Stereo out{Samples(frames), Samples(frames)};
    for (size_t pos = 0; pos < frames; pos += size_t(block))
        synth.render(&out.left[pos], &out.right[pos], int(std::min<size_t>(size_t(block), frames - pos)));
    return out;
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

// The strongest frequency within 2 % of `expected` in the sound after the attack (Goertzel on
// the Hann-windowed left channel), to 0.1 %; a pitch further off comes back as an end of the range.
double measuredPitch(EpSynth& synth, double expected, double rate)
{
    const double kPi = 3.14159265358979323846;
    render(synth, 0.05, rate);
    Samples x = render(synth, 0.5, rate).left;
    for (size_t i = 0; i < x.size(); ++i)
        x[i] *= float(0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(x.size() - 1)));
    double best = 0.0, bestMagnitude = -1.0;
    for (double f = expected * 0.98; f <= expected * 1.0201; f += expected * 0.001) {
        const double c = 2.0 * std::cos(2.0 * kPi * f / rate);
        double s1 = 0.0, s2 = 0.0;
        for (float v : x) {
            const double s0 = v + c * s1 - s2;
            s2 = s1, s1 = s0;
        }
        const double m = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (m > bestMagnitude)
            best = f, bestMagnitude = m;
    }
    return best;
}

} // namespace

TEST(EpSynth, PlaysInTuneAcrossRatesTonesAndPitchBend)
{
    // rate, tone, normalized bend (0.5 is none), whether it bends while sounding, semitones
    const std::tuple<double, double, double, bool, double> cases[] = {
        {44100, 0, 0.5, false, 0}, {48000, 1, 0.5, false, 0},   {96000, 0, 0.5, false, 0},
        {48000, 0, 0, false, -2},  {48000, 0, 0.25, false, -1}, {48000, 0, 1, false, 2},
        {48000, 0, 1, true, 2}};
    for (const auto& [rate, tone, bend, whileSounding, semitones] : cases) {
        EpSynth synth;
        synth.setup(rate);
        synth.setTone(tone);
        synth.setPitchBend(whileSounding ? 0.5 : bend);
        synth.noteOn(0, 60, 0.8f);
        render(synth, 0.1, rate);
        synth.setPitchBend(bend);
        const double expected = 261.626 * std::pow(2.0, semitones / 12.0);
        EXPECT_NEAR(measuredPitch(synth, expected, rate), expected, expected * 0.005) << rate << " " << bend;
    }
}

TEST(EpSynth, LevelFollowsVelocityAndVolumeAndStaysWithinFullScale)
{
    auto level = [](float velocity, double volume) {
        EpSynth synth;
        synth.setVolume(volume);
        synth.reset(); // start at the target, no glide from the default
        synth.noteOn(0, 60, velocity);
        return rms(render(synth, 0.3).left);
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
    const double before = rms(render(gliding, 0.01).left);
    gliding.setVolume(0.0);
    const Stereo after = render(gliding, 0.2);
    EXPECT_GT(rms(after.left, 0, 48), 0.5 * before);
    EXPECT_EQ(rms(after.left, after.left.size() - 480), 0.0);

    EpSynth chord;
    chord.setVolume(1.0);
    chord.setTone(1.0);
    for (int i = 0; i < EpSynth::kMaxVoices; ++i)
        chord.noteOn(0, 36 + 3 * i, 1.0f);
    const Samples loud = render(chord, 0.5).left;
    const float loudest = std::fabs(*std::max_element(
        loud.begin(), loud.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
    EXPECT_LT(loudest, 1.0f);
    EXPECT_GT(loudest, 0.5f);
}

TEST(EpSynth, NoteOffFadesCleanlyToExactSilenceWithinTheReleaseTime)
{
    for (double release : {0.0, 0.3, 0.7}) {
        EpSynth synth;
        synth.setRelease(release);
        synth.noteOn(0, 60, 1.0f);
        const Stereo held = render(synth, 0.2);
        synth.noteOff(0, 60);
        const double seconds = releaseSeconds(release);
        const Stereo tail = render(synth, seconds + 0.002);
        EXPECT_GT(rms(tail.left, 0, 24), 0.5 * rms(held.left, held.left.size() - 240)) << release;
        EXPECT_EQ(synth.activeVoices(), 0) << release;
        EXPECT_EQ(rms(tail.left, tail.left.size() - 48), 0.0) << release;
        const size_t quarter = size_t(0.25 * seconds * 48000);
        EXPECT_TRUE(seconds < 0.1 || rms(tail.left, quarter, quarter + 480) > 0.0) << release;
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
        for (int p : sounding)
            EXPECT_TRUE(synth.isSounding(p)) << what << " " << p;
        for (int p : silent)
            EXPECT_FALSE(synth.isSounding(p)) << what << " " << p;
    };
    check("zero velocity is a note-off", 0, {}, {60}, [&](EpSynth& s) {
        strike(s, {60});
        render(s, 0.05);
        s.noteOn(0, 60, 0.0f);
    });
    check("notes kept apart by channel, keys out of range ignored", 1, {60}, {}, [&](EpSynth& s) {
        strike(s, {60, 200, -1, 128});
        s.noteOn(1, 60, 0.8f);
        s.noteOff(1, 60);
    });
    check("restriking a sustained key reuses its voice", 1, {60}, {}, [&](EpSynth& s) {
        s.setSustain(true);
        for (int i = 0; i < 10; ++i)
            strike(s, {60}, i % 2), render(s, 0.02);
    });
    check("all notes off silences held and sustained notes and lifts the pedal", 0, {}, {60, 62},
          [&](EpSynth& s) {
              s.setSustain(true);
              strike(s, {60, 62});
              strike(s, {62}, true);
              s.allNotesOff();
              EXPECT_FALSE(s.sustainDown());
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
              strike(s, {60, 64});
              render(s, 0.1);
              strike(s, {60, 64}, true);
              const Stereo held = render(s, 0.5);
              EXPECT_EQ(s.activeVoices(), 2);
              EXPECT_GT(rms(held.left, held.left.size() - 480), 0.001);
              strike(s, {67});
              render(s, 0.05);
              s.setSustain(false);
          });
    check("a released tail is taken before a held key", EpSynth::kMaxVoices, {90, 40}, {50}, [&](EpSynth& s) {
        s.setRelease(1.0);
        for (int i = 0; i < EpSynth::kMaxVoices; ++i)
            strike(s, {40 + i});
        render(s, 0.05);
        strike(s, {50}, true);
        render(s, 0.05);
        strike(s, {90});
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
        const Stereo before = render(synth, 0.01, 48000.0, block);
        synth.noteOn(0, 30, 0.3f);
        const Stereo during = render(synth, 0.01, 48000.0, block);
        // Cutting a voice dead would step by its whole amplitude (about 0.2).
        EXPECT_LT(largestStep(during.left, before.left.back()),
                  1.5f * largestStep(before.left, before.left[0]) + 0.01f)
            << block;
        EXPECT_EQ(synth.activeVoices(), EpSynth::kMaxVoices) << block;
        for (int i = -1; i < EpSynth::kMaxVoices; ++i)
            EXPECT_EQ(synth.isSounding(i < 0 ? 30 : 40 + i), i != 0) << block << " " << i;
        if (first.empty())
            first = during.left;
        EXPECT_EQ(during.left, first) << block;
    }
}

TEST(DemoParams, MappingsClampAndTextsRoundTrip)
{
    const std::tuple<double (*)(double), double, double> maps[] = {
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
    for (const auto& [map, in, out] : maps)
        EXPECT_NEAR(map(in), out, 1e-9) << in;
    EXPECT_TRUE(!sustainDown(0.49) && sustainDown(0.5));

    const std::tuple<uint32_t, double, const char*> texts[] = {
        {kParamVolume, 1.0, "0.0"}, {kParamVolume, 0.0, "-inf"},       {kParamPitchBend, 1.0, "+2.00"},
        {kParamSustain, 1.0, "On"}, {kParamRelease, 1.0, "3.00"},      {kParamVibrato, 1.0, "50"},
        {kParamTone, 0.25, "25"},   {kParamOutputLevel, 0.5, "-30.0"},
    };
    char text[32], again[32];
    for (const auto& [id, value, want] : texts) {
        formatParamValue(id, value, text, sizeof text);
        EXPECT_STREQ(text, want) << id;
    }
    for (uint32_t id = 0; id < kNumParams; ++id) {
        for (double n : {0.0, 0.25, 0.5, 0.8, 1.0}) {
            formatParamValue(id, n, text, sizeof text);
            double back = -1.0;
            ASSERT_TRUE(parseParamValue(id, text, back)) << id << " '" << text << "'";
            formatParamValue(id, back, again, sizeof again);
            EXPECT_STREQ(text, again) << id << " " << n;
        }
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
    uint8_t bytes[kStateBytes];
    encodeState({0.1, 0.2, 0.3, 0.4}, bytes);
    EXPECT_EQ(std::memcmp(bytes, "PDEP\x01\0\0\0", 8), 0); // tag, then version 1 little-endian
    DemoState out{9, 9, 9, 9};
    ASSERT_TRUE(decodeState(bytes, sizeof bytes, out));
    EXPECT_TRUE(out.volume == 0.1 && out.tone == 0.2 && out.release == 0.3 && out.vibrato == 0.4);

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
    EXPECT_TRUE(out.volume == 0.0 && out.tone == 1.0 && out.vibrato == 1.0);
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
        meter.process(quiet, quiet, 480);
    EXPECT_NEAR(meter.value(), 0.05, 1e-6);
    for (int i = 0; i < 400; ++i)
        meter.process(quiet, quiet, 480);
    EXPECT_EQ(meter.value(), 0.0);
}

TEST(EditorLayout, StretchesWithTheWidthAndFillsTheMeter)
{
    const EditorLayout narrow = layoutEditor(kEditorMin), wide = layoutEditor({kEditorMin.width + 200, 260});
    EXPECT_TRUE(wide.rows[0].slider.width() == narrow.rows[0].slider.width() + 200 &&
                wide.meter.width() == narrow.meter.width() + 200);
    Rect meter;
    meter.left = 10, meter.right = 110, meter.bottom = 10;
    const std::pair<double, int32_t> fills[] = {{0.0, 10}, {0.5, 60}, {1.0, 110}, {7.0, 110}, {-1.0, 10}};
    for (const auto& [level, right] : fills)
        EXPECT_EQ(meterFill(meter, level).right, right) << level;
}
