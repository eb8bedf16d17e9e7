#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/EpSynth.h"
#include "tests/demo/SignalMeasure.h"

using namespace PomaroDemo;
using namespace PomaroDemoTest;

namespace {

struct Stereo
{
    std::vector<float> left, right;
};

// Renders in device-like blocks of 256 frames.
Stereo render(EpSynth& synth, double seconds, double rate = 48000.0, int block = 256)
{
    const size_t frames = size_t(seconds * rate);
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    for (size_t pos = 0; pos < frames; pos += size_t(block)) {
        const int n = int(std::min<size_t>(size_t(block), frames - pos));
        synth.render(out.left.data() + pos, out.right.data() + pos, n);
    }
    return out;
}

std::vector<float> mono(const Stereo& s)
{
    std::vector<float> m(s.left.size());
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = 0.5f * (s.left[i] + s.right[i]);
    return m;
}

double noteHz(int pitch) { return 440.0 * std::pow(2.0, (pitch - 69) / 12.0); }

double measuredPitch(EpSynth& synth, double rate = 48000.0)
{
    render(synth, 0.05, rate); // past the attack
    return dominantFrequency(mono(render(synth, 0.5, rate)), rate, 200.0, 330.0);
}

float largestStep(const std::vector<float>& x, float previous)
{
    float step = 0.0f;
    for (float v : x)
        step = std::max(step, std::fabs(v - previous)), previous = v;
    return step;
}

} // namespace

TEST(EpSynthPitch, MiddleCIsInTuneAtCommonRatesAndTones)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (double tone : {0.0, 1.0}) {
            EpSynth synth;
            synth.setup(rate);
            synth.setTone(tone);
            synth.noteOn(0, 60, 0.8f);
            EXPECT_NEAR(measuredPitch(synth, rate), 261.63, 261.63 * 0.005)
                << "rate " << rate << " tone " << tone;
        }
    }
}

TEST(EpSynthPitch, PitchBendSpansTwoSemitonesEachWayAndMovesSoundingNotes)
{
    const struct
    {
        double normalized, semitones;
        bool beforeTheNote;
    } cases[] = {
        {0.0, -2.0, true}, {0.25, -1.0, true}, {0.5, 0.0, true}, {1.0, 2.0, true}, {1.0, 2.0, false}};
    for (const auto& c : cases) {
        EpSynth synth;
        if (c.beforeTheNote)
            synth.setPitchBend(c.normalized);
        synth.noteOn(0, 60, 0.8f);
        if (!c.beforeTheNote) {
            render(synth, 0.1);
            synth.setPitchBend(c.normalized);
        }
        const double expected = noteHz(60) * std::pow(2.0, c.semitones / 12.0);
        EXPECT_NEAR(measuredPitch(synth), expected, expected * 0.005)
            << c.normalized << " " << c.beforeTheNote;
    }
}

TEST(EpSynthLevel, LouderStrikesAreLouder)
{
    double previous = 0.0;
    for (float velocity : {0.1f, 0.4f, 0.7f, 1.0f}) {
        EpSynth synth;
        synth.noteOn(0, 60, velocity);
        const double level = rms(mono(render(synth, 0.3)));
        EXPECT_GT(level, previous * 1.3) << velocity;
        previous = level;
    }
}

TEST(EpSynthLevel, VolumeScalesOutputBySquareLawAndGlidesWithoutSteps)
{
    auto levelAt = [](double volume) {
        EpSynth synth;
        synth.setVolume(volume);
        synth.reset(); // start at the target, no fade from the default
        synth.noteOn(0, 60, 0.6f);
        return rms(mono(render(synth, 0.3)));
    };
    const double full = levelAt(1.0);
    ASSERT_GT(full, 0.01);
    EXPECT_NEAR(levelAt(0.5) / full, 0.25, 0.0025);
    EXPECT_EQ(levelAt(0.0), 0.0);

    EpSynth synth;
    synth.setVolume(1.0);
    synth.reset();
    synth.noteOn(0, 60, 0.8f);
    render(synth, 0.1);
    const Stereo before = render(synth, 0.01);
    synth.setVolume(0.0);
    const Stereo after = render(synth, 0.2);
    // The first samples still carry most of the level; the end is silent.
    EXPECT_GT(rms(after.left, 0, 48), 0.5 * rms(before.left));
    EXPECT_EQ(rms(after.left, after.left.size() - 480), 0.0);
}

TEST(EpSynthLevel, FullChordsStayWithinFullScale)
{
    EpSynth synth;
    synth.setVolume(1.0);
    synth.setTone(1.0);
    for (int i = 0; i < EpSynth::kMaxVoices; ++i)
        synth.noteOn(0, 36 + 3 * i, 1.0f);
    const Stereo s = render(synth, 0.5);
    float peak = 0.0f;
    for (float x : s.left)
        peak = std::max(peak, std::fabs(x));
    EXPECT_LT(peak, 1.0f);
    EXPECT_GT(peak, 0.5f);
}

TEST(EpSynthRelease, NoteOffFadesToSilenceWithinTheReleaseTime)
{
    for (double releaseNorm : {0.0, 0.3, 0.7}) {
        EpSynth synth;
        synth.setRelease(releaseNorm);
        synth.noteOn(0, 60, 1.0f);
        const Stereo held = render(synth, 0.2);
        const double heldLevel = rms(held.left, held.left.size() - 240);
        synth.noteOff(0, 60);
        const double seconds = releaseSeconds(releaseNorm);
        const Stereo tail = render(synth, seconds + 0.002);
        // Clean: no cut at the note-off, and silent (exact zeros) once the release time is over.
        EXPECT_GT(rms(tail.left, 0, 24), 0.5 * heldLevel) << releaseNorm;
        EXPECT_EQ(synth.activeVoices(), 0) << releaseNorm;
        EXPECT_EQ(rms(tail.left, tail.left.size() - 48), 0.0) << releaseNorm;
        if (seconds > 0.1) {
            EXPECT_GT(rms(tail.left, size_t(0.25 * seconds * 48000), size_t(0.25 * seconds * 48000) + 480),
                      0.0);
        }
    }
}

// Short scripts on an engine with the 20 ms release, each followed by that release
// time, and the voices they leave sounding.
TEST(EpSynthVoices, ScriptsLeaveTheirVoices)
{
    const struct
    {
        const char* what;
        int voices;
        std::function<void(EpSynth&)> script;
    } cases[] = {
        {"zero velocity is a note-off", 0,
         [](EpSynth& s) {
             s.noteOn(0, 60, 0.8f);
             render(s, 0.05);
             s.noteOn(0, 60, 0.0f);
         }},
        {"notes kept apart by channel, keys out of range ignored", 1,
         [](EpSynth& s) {
             s.noteOn(0, 60, 0.8f);
             s.noteOn(1, 60, 0.8f);
             s.noteOff(1, 60);
             s.noteOn(0, 200, 0.8f);
             s.noteOn(0, -1, 0.8f);
         }},
        {"restriking a sustained key reuses its voice", 1,
         [](EpSynth& s) {
             s.setSustain(true);
             for (int i = 0; i < 5; ++i) {
                 s.noteOn(0, 60, 0.8f);
                 render(s, 0.02);
                 s.noteOff(0, 60);
                 render(s, 0.02);
             }
         }},
        {"all notes off silences held and sustained notes", 0,
         [](EpSynth& s) {
             s.setSustain(true);
             s.noteOn(0, 60, 0.8f);
             s.noteOn(0, 62, 0.8f);
             s.noteOff(0, 62);
             s.allNotesOff();
             EXPECT_FALSE(s.sustainDown());
         }},
        {"a release change applies to ringing tails", 0,
         [](EpSynth& s) {
             s.setRelease(1.0); // 3 s
             s.noteOn(0, 60, 1.0f);
             render(s, 0.1);
             s.noteOff(0, 60);
             render(s, 0.05);
             s.setRelease(0.0);
         }},
    };
    for (const auto& c : cases) {
        EpSynth synth;
        synth.setRelease(0.0);
        c.script(synth);
        render(synth, releaseSeconds(0.0) + 0.01);
        EXPECT_EQ(synth.activeVoices(), c.voices) << c.what;
    }
}

TEST(EpSynthVoices, PedalHoldsReleasedKeysUntilLifted)
{
    EpSynth synth;
    synth.setRelease(0.0);
    synth.setSustain(true);
    synth.noteOn(0, 60, 0.8f);
    synth.noteOn(0, 64, 0.8f);
    render(synth, 0.1);
    synth.noteOff(0, 60);
    synth.noteOff(0, 64);
    const Stereo held = render(synth, 0.5);
    EXPECT_EQ(synth.activeVoices(), 2);
    EXPECT_GT(rms(held.left, held.left.size() - 480), 0.001);

    synth.noteOn(0, 67, 0.8f); // key still down when the pedal comes up
    render(synth, 0.05);
    synth.setSustain(false);
    render(synth, releaseSeconds(0.0) + 0.002);
    EXPECT_EQ(synth.activeVoices(), 1);
    EXPECT_TRUE(synth.isSounding(67));
    EXPECT_FALSE(synth.isSounding(60));
}

TEST(EpSynthVoices, SeventeenthNoteTakesTheOldestHeldVoiceWithoutAClick)
{
    EpSynth synth;
    synth.setVolume(1.0);
    for (int i = 0; i < EpSynth::kMaxVoices; ++i) {
        synth.noteOn(0, 40 + i, 1.0f);
        render(synth, 0.005);
    }
    render(synth, 0.2);
    const Stereo before = render(synth, 0.01);
    EXPECT_EQ(synth.activeVoices(), EpSynth::kMaxVoices);
    synth.noteOn(0, 30, 0.3f);
    const Stereo during =
        render(synth, 0.01); // the taken voice fades out in a few ms, then plays the new note
    // Cutting a voice dead would step by its whole amplitude (about 0.2).
    EXPECT_LT(largestStep(during.left, before.left.back()),
              1.5f * largestStep(before.left, before.left[0]) + 0.01f);
    EXPECT_EQ(synth.activeVoices(), EpSynth::kMaxVoices);
    EXPECT_TRUE(synth.isSounding(30));
    EXPECT_FALSE(synth.isSounding(40));
    for (int i = 1; i < EpSynth::kMaxVoices; ++i)
        EXPECT_TRUE(synth.isSounding(40 + i)) << i;
}

TEST(EpSynthVoices, ReleasedTailsAreTakenBeforeHeldKeys)
{
    EpSynth synth;
    synth.setRelease(1.0);
    for (int i = 0; i < EpSynth::kMaxVoices; ++i)
        synth.noteOn(0, 40 + i, 0.8f);
    render(synth, 0.05);
    synth.noteOff(0, 50);
    render(synth, 0.05);
    synth.noteOn(0, 90, 0.8f);
    render(synth, 0.01);
    EXPECT_TRUE(synth.isSounding(90));
    EXPECT_FALSE(synth.isSounding(50));
    EXPECT_TRUE(synth.isSounding(40));
}

TEST(EpSynthRobustness, LongSilenceLeavesNoNaNOrDenormals)
{
    EpSynth synth;
    synth.setVibrato(1.0);
    synth.setPitchBend(0.0);
    for (int p : {24, 48, 60, 72, 96, 108, 127})
        synth.noteOn(0, p, 1.0f);
    render(synth, 0.5);
    for (int p : {24, 48, 60, 72, 96, 108, 127})
        synth.noteOff(0, p);
    // Odd block sizes, 40 s in all.
    const int sizes[] = {1, 7, 64, 333, 1024};
    std::vector<float> l(1024), r(1024);
    size_t bad = 0;
    for (int round = 0; round < 40 * 48000 / 1429; ++round) {
        for (int n : sizes) {
            synth.render(l.data(), r.data(), n);
            for (int i = 0; i < n; ++i)
                bad += !isCleanSample(l[size_t(i)]) + !isCleanSample(r[size_t(i)]);
        }
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(synth.activeVoices(), 0);
    synth.render(l.data(), r.data(), 1024);
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float x) { return x == 0.0f; }));
}

TEST(EpSynthRobustness, UnheldNotesDieAwayOnTheirOwn)
{
    EpSynth synth;
    synth.noteOn(0, 21, 1.0f); // lowest piano key: the longest decay
    render(synth, 15.0);
    EXPECT_EQ(synth.activeVoices(), 0);
}

TEST(EpSynthRobustness, OutputDoesNotDependOnBlockSize)
{
    auto run = [](int block) {
        EpSynth synth;
        synth.setVibrato(0.6);
        synth.noteOn(0, 60, 0.7f);
        synth.noteOn(0, 67, 0.5f);
        return render(synth, 0.2, 48000.0, block).left;
    };
    const std::vector<float> a = run(256);
    EXPECT_EQ(a, run(1));
    EXPECT_EQ(a, run(37));
}

TEST(EpSynthStereo, BassLeansLeftAndTrebleRight)
{
    auto balance = [](int pitch) {
        EpSynth synth;
        synth.noteOn(0, pitch, 0.8f);
        const Stereo s = render(synth, 0.2);
        return rms(s.left) / rms(s.right);
    };
    EXPECT_GT(balance(36), 1.2);
    EXPECT_NEAR(balance(60), 1.0, 0.01);
    EXPECT_LT(balance(84), 1.0 / 1.2);
}

TEST(SoftClip, IsTransparentBelowTheKneeAndBoundedAbove)
{
    EXPECT_EQ(softClip(0.5f), 0.5f);
    EXPECT_EQ(softClip(-0.75f), -0.75f);
    EXPECT_NEAR(softClip(0.7501f), 0.7501f, 1e-5f);
    EXPECT_LT(softClip(1.2f), 1.0f);
    EXPECT_LE(softClip(10.0f), 1.0f);
    EXPECT_GT(softClip(10.0f), 0.99f);
    EXPECT_EQ(softClip(-3.0f), -softClip(3.0f));
    float prev = softClip(0.0f);
    for (float x = 0.01f; x < 1.5f; x += 0.01f) {
        EXPECT_GT(softClip(x), prev) << x;
        prev = softClip(x);
    }
}
