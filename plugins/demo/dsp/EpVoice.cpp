#include "plugins/demo/dsp/EpVoice.h"

#include <algorithm>
#include <cmath>

#include "plugins/demo/dsp/SineTable.h"

namespace PomaroDemo {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kPhaseScale = 4294967296.0;
constexpr float kBodyIndexFloor = 0.3f; // share of the strike's brightness that stays
constexpr uint32_t kTineRatio = 14;
constexpr float kFundamental = 0.4f; // pure sine under the FM body keeps the bass full

double noteFrequency(int pitch) { return 440.0 * std::exp2((pitch - 69) / 12.0); }

// Seconds for the body to fall 80 dB: long in the bass, short in the treble.
double decaySeconds(int pitch)
{
    return std::min(14.0, std::max(1.5, 12.0 * std::exp2(-(pitch - 36) / 18.0)));
}

} // namespace

void EpVoice::setup(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    attackStep_ = static_cast<float>(1.0 / (0.002 * sampleRate_));
    fadeCoef_ = static_cast<float>(std::exp(std::log(Envelope::kFloor) / (0.004 * sampleRate_)));
    const double controlRate = sampleRate_ / kControlBlock;
    bodyDecayBlock_ = static_cast<float>(std::exp(-1.0 / (0.6 * controlRate)));
    tineDecayBlock_ = static_cast<float>(std::exp(-1.0 / (0.12 * controlRate)));
    reset();
}

void EpVoice::reset()
{
    env_.reset();
    hasPending_ = false;
    keyHeld = sustained = pendingKeyHeld = pendingSustained = false;
}

void EpVoice::start(const NoteInfo& note, uint64_t age, const VoiceControl& control)
{
    note_ = note;
    age_ = age;
    hasPending_ = false;
    control_ = control;
    beginNote();
}

void EpVoice::steal(const NoteInfo& next, uint64_t age, const VoiceControl& control)
{
    control_ = control;
    if (env_.idle()) {
        start(next, age, control);
        return;
    }
    pending_ = next;
    pendingAge_ = age;
    hasPending_ = true;
    env_.fade(fadeCoef_);
}

void EpVoice::release() { env_.release(control_.releaseCoef); }

void EpVoice::beginNote()
{
    const float v = std::min(1.0f, std::max(0.0f, note_.velocity));
    const int pitch = std::min(127, std::max(0, note_.pitch));

    amplitude_ = 0.08f + 0.92f * std::pow(v, 1.7f);
    // 1:1 FM loses its fundamental near an index of 1.84 rad: stay well below it.
    bodyIndexPeak_ = static_cast<float>((0.25 + 0.85 * v) / kTwoPi);
    // The 14th partial would alias in the top octaves: fade the tine out there.
    const float tineKeyScale = std::min(1.0f, std::max(0.0f, 1.0f - (pitch - 72) / 24.0f));
    tineIndex_ = static_cast<float>((1.0 + 1.5 * v) / kTwoPi) * tineKeyScale;
    tineLevelPeak_ = (0.15f + 0.45f * v) * tineKeyScale;
    bodyIndexEnv_ = 1.0f;
    tineEnv_ = 1.0f;

    // Keyboard spread: bass a little left, treble a little right (equal power).
    const double pan = std::min(1.0, std::max(-1.0, (pitch - 60) / 48.0)) * 0.35;
    const double angle = (pan + 1.0) * kTwoPi / 8.0;
    gainLeft_ = static_cast<float>(std::cos(angle) * std::sqrt(2.0));
    gainRight_ = static_cast<float>(std::sin(angle) * std::sqrt(2.0));

    baseIncrement_ = noteFrequency(pitch) / sampleRate_ * kPhaseScale;
    carrierPhase_ = bodyModPhase_ = tineModPhase_ = 0;

    const float decayCoef =
        static_cast<float>(std::exp(std::log(Envelope::kFloor) / (decaySeconds(pitch) * sampleRate_)));
    env_.start(attackStep_, decayCoef);
    env_.setReleaseCoef(control_.releaseCoef);
    keyHeld = pendingKeyHeld;
    sustained = pendingSustained;
    updateIncrements();
}

void EpVoice::updateIncrements()
{
    const double inc = baseIncrement_ * control_.pitchFactor;
    carrierInc_ = static_cast<uint32_t>(std::min(inc, kPhaseScale / 2.0));
    tineModInc_ = carrierInc_ * kTineRatio;
    const float toneScale = 0.4f + 0.8f * control_.tone;
    bodyIndex_ = bodyIndexPeak_ * toneScale * (kBodyIndexFloor + (1.0f - kBodyIndexFloor) * bodyIndexEnv_);
    tineLevel_ = tineLevelPeak_ * (0.25f + 1.5f * control_.tone) * tineEnv_;
}

void EpVoice::control(const VoiceControl& control)
{
    control_ = control;
    if (env_.idle())
        return;
    env_.setReleaseCoef(control.releaseCoef);
    bodyIndexEnv_ *= bodyDecayBlock_;
    tineEnv_ *= tineDecayBlock_;
    if (tineEnv_ < 1e-5f)
        tineEnv_ = 0.0f;
    if (bodyIndexEnv_ < 1e-5f)
        bodyIndexEnv_ = 0.0f;
    updateIncrements();
}

bool EpVoice::startPending()
{
    if (!hasPending_)
        return false;
    hasPending_ = false;
    note_ = pending_;
    age_ = pendingAge_;
    beginNote();
    if (!keyHeld && !sustained)
        env_.release(control_.releaseCoef);
    return true;
}

void EpVoice::render(float* left, float* right, int frames)
{
    const SineTable& sine = SineTable::instance();
    for (int i = 0; i < frames; ++i) {
        if (env_.idle() && !startPending())
            return;
        const float level = env_.next() * amplitude_;
        const float bodyMod = sine.lookup(bodyModPhase_);
        const float tineMod = sine.lookup(tineModPhase_);
        const float body = sine.lookup(carrierPhase_ + cyclesToPhase(bodyMod * bodyIndex_));
        const float tine = sine.lookup(carrierPhase_ + cyclesToPhase(tineMod * tineIndex_));
        const float fundamental = sine.lookup(carrierPhase_);
        const float s = level * (body + kFundamental * fundamental + tineLevel_ * tine);
        left[i] += s * gainLeft_;
        right[i] += s * gainRight_;
        carrierPhase_ += carrierInc_;
        bodyModPhase_ += carrierInc_;
        tineModPhase_ += tineModInc_;
    }
    // A fade that ends on the last sample: the waiting note starts now, since the synth passes an
    // idle voice by and the note would be lost.
    if (env_.idle())
        startPending();
}

} // namespace PomaroDemo
