#include "plugins/demo/dsp/EpSynth.h"

#include <cmath>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/SineTable.h"

namespace PomaroDemo {
namespace {

constexpr float kVoiceGain = 0.2f;
constexpr float kKnee = 0.75f;
constexpr double kVibratoHz = 5.5;

} // namespace

float softClip(float x)
{
    const float a = std::fabs(x);
    if (a <= kKnee)
        return x;
    const float bent = kKnee + (1.0f - kKnee) * std::tanh((a - kKnee) / (1.0f - kKnee));
    return x < 0.0f ? -bent : bent;
}

EpSynth::EpSynth()
{
    SineTable::instance();
    setup(48000.0);
}

void EpSynth::setup(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    for (EpVoice& v : voices_)
        v.setup(sampleRate_);
    const double controlRate = sampleRate_ / EpVoice::kControlBlock;
    volume_.setup(sampleRate_, 0.01);
    tone_.setup(controlRate, 0.02);
    bend_.setup(controlRate, 0.005);
    lfoInc_ = static_cast<uint32_t>(kVibratoHz / controlRate * 4294967296.0);
    setVolume(paramDesc(kParamVolume).defaultValue);
    setTone(paramDesc(kParamTone).defaultValue);
    setRelease(paramDesc(kParamRelease).defaultValue);
    setVibrato(paramDesc(kParamVibrato).defaultValue);
    setPitchBend(paramDesc(kParamPitchBend).defaultValue);
    reset();
}

void EpSynth::reset()
{
    for (EpVoice& v : voices_)
        v.reset();
    sustain_ = false;
    samplesToControl_ = 0;
    lfoPhase_ = 0;
    volume_.jump(volume_.target());
    tone_.jump(tone_.target());
    bend_.jump(bend_.target());
}

void EpSynth::setVolume(double normalized) { volume_.setTarget(static_cast<float>(volumeGain(normalized))); }
void EpSynth::setTone(double normalized)
{
    tone_.setTarget(static_cast<float>(normalized < 0.0 ? 0.0 : normalized > 1.0 ? 1.0 : normalized));
}
void EpSynth::setRelease(double normalized)
{
    releaseSeconds_ = static_cast<float>(releaseSeconds(normalized));
    // Falls 80 dB (to the envelope floor) in exactly the release time.
    control_.releaseCoef =
        static_cast<float>(std::exp(std::log(Envelope::kFloor) / (releaseSeconds_ * sampleRate_)));
}
void EpSynth::setVibrato(double normalized)
{
    vibratoDepth_ = static_cast<float>(vibratoSemitones(normalized));
}
void EpSynth::setPitchBend(double normalized)
{
    bend_.setTarget(static_cast<float>(pitchBendSemitones(normalized)));
}

void EpSynth::setSustain(bool down)
{
    if (sustain_ == down)
        return;
    sustain_ = down;
    if (down)
        return;
    for (EpVoice& v : voices_) {
        if (v.sustained && !v.keyHeld && !v.fading())
            v.release();
        v.sustained = false;
        v.pendingSustained = false;
    }
}

EpVoice* EpSynth::chooseVoice(int channel, int pitch)
{
    // Striking a key that still rings restarts its own voice, as on a piano.
    for (EpVoice& v : voices_) {
        if (v.idle())
            continue;
        const NoteInfo& n = v.hasPending() ? v.pending() : v.note();
        if (n.channel == channel && n.pitch == pitch)
            return &v;
    }
    for (EpVoice& v : voices_)
        if (v.idle())
            return &v;

    // Take the least audible: released tails (quietest first), then notes held
    // only by the pedal, then held keys, oldest first; a voice already changing
    // notes only as a last resort.
    EpVoice* best = nullptr;
    int bestRank = 4;
    for (EpVoice& v : voices_) {
        const int rank = v.fading() ? 3 : v.keyHeld ? 2 : v.sustained ? 1 : 0;
        if (!best || rank < bestRank) {
            best = &v;
            bestRank = rank;
            continue;
        }
        if (rank > bestRank)
            continue;
        const bool better = rank == 0 ? v.level() < best->level() : v.age() < best->age();
        if (better)
            best = &v;
    }
    return best;
}

void EpSynth::noteOn(int channel, int pitch, float velocity)
{
    if (!(velocity > 0.0f)) {
        noteOff(channel, pitch);
        return;
    }
    if (pitch < 0 || pitch > 127)
        return;
    EpVoice* v = chooseVoice(channel, pitch);
    const NoteInfo note{channel, pitch, velocity > 1.0f ? 1.0f : velocity};
    v->pendingKeyHeld = true;
    v->pendingSustained = false;
    if (v->idle())
        v->start(note, ++ageCounter_, control_);
    else
        v->steal(note, ++ageCounter_, control_);
}

void EpSynth::noteOff(int channel, int pitch)
{
    for (EpVoice& v : voices_) {
        if (v.idle())
            continue;
        if (v.hasPending()) {
            const NoteInfo& p = v.pending();
            if (p.channel == channel && p.pitch == pitch && v.pendingKeyHeld) {
                v.pendingKeyHeld = false;
                v.pendingSustained = sustain_;
            }
            continue;
        }
        const NoteInfo& n = v.note();
        if (n.channel != channel || n.pitch != pitch || !v.keyHeld)
            continue;
        v.keyHeld = false;
        if (sustain_)
            v.sustained = true;
        else
            v.release();
    }
}

void EpSynth::allNotesOff()
{
    sustain_ = false;
    for (EpVoice& v : voices_) {
        v.keyHeld = v.sustained = v.pendingKeyHeld = v.pendingSustained = false;
        if (!v.idle() && !v.fading())
            v.release();
    }
}

void EpSynth::controlTick()
{
    tone_.next();
    bend_.next();
    lfoPhase_ += lfoInc_;
    const float vibrato =
        vibratoDepth_ > 0.0f ? vibratoDepth_ * SineTable::instance().lookup(lfoPhase_) : 0.0f;
    control_.pitchFactor = std::exp2((bend_.current() + vibrato) / 12.0);
    control_.tone = tone_.current();
    for (EpVoice& v : voices_)
        v.control(control_);
}

void EpSynth::render(float* left, float* right, int frames)
{
    int pos = 0;
    while (pos < frames) {
        if (samplesToControl_ == 0) {
            controlTick();
            samplesToControl_ = EpVoice::kControlBlock;
        }
        const int n = frames - pos < samplesToControl_ ? frames - pos : samplesToControl_;
        float* l = left + pos;
        float* r = right + pos;
        for (int i = 0; i < n; ++i)
            l[i] = r[i] = 0.0f;
        for (EpVoice& v : voices_)
            if (!v.idle())
                v.render(l, r, n);
        for (int i = 0; i < n; ++i) {
            const float g = volume_.next() * kVoiceGain;
            l[i] = softClip(l[i] * g);
            r[i] = softClip(r[i] * g);
        }
        samplesToControl_ -= n;
        pos += n;
    }
}

int EpSynth::activeVoices() const
{
    int count = 0;
    for (const EpVoice& v : voices_)
        if (!v.idle())
            ++count;
    return count;
}

bool EpSynth::isSounding(int pitch) const
{
    for (const EpVoice& v : voices_) {
        if (v.idle())
            continue;
        if ((v.hasPending() ? v.pending() : v.note()).pitch == pitch)
            return true;
    }
    return false;
}

} // namespace PomaroDemo
