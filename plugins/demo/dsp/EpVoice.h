// One voice of the electric piano: two FM operator pairs on one carrier phase.
// The "body" pair (1:1) gives the warm fundamental whose brightness falls as
// the note decays; the "tine" pair (1:14) gives the bell-like strike that
// dies within a fraction of a second. Harder strikes are louder and brighter.
#pragma once

#include <cstdint>

#include "plugins/demo/dsp/Envelope.h"

namespace PomaroDemo {

struct NoteInfo
{
    int channel = 0;
    int pitch = 0;
    float velocity = 0.0f; // 0 .. 1
};

// Values shared by all voices, refreshed once per control block.
struct VoiceControl
{
    double pitchFactor = 1.0; // bend and vibrato as a frequency ratio
    float tone = 0.5f;        // 0 .. 1
    float releaseCoef = 0.0f; // per-sample factor of the release stage
};

class EpVoice
{
public:
    static constexpr int kControlBlock = 16;

    void setup(double sampleRate);
    void reset();

    // Starts a note at once (the voice should be idle or about to restart).
    void start(const NoteInfo& note, uint64_t age, const VoiceControl& control);
    // Fades the current note out quickly and plays `next` after it.
    void steal(const NoteInfo& next, uint64_t age, const VoiceControl& control);
    void release();

    // Once per control block, before render.
    void control(const VoiceControl& control);
    // Adds `frames` samples (at most kControlBlock) into left and right.
    void render(float* left, float* right, int frames);

    bool idle() const { return env_.idle(); }
    bool fading() const { return env_.stage() == Envelope::Stage::Fade; }
    bool releasing() const { return env_.stage() == Envelope::Stage::Release; }
    float level() const { return env_.level(); }
    uint64_t age() const { return age_; }
    const NoteInfo& note() const { return note_; }
    bool hasPending() const { return hasPending_; }
    const NoteInfo& pending() const { return pending_; }

    // Key and pedal bookkeeping belongs to the synth; the voice only stores it.
    bool keyHeld = false;
    bool sustained = false;
    bool pendingKeyHeld = false;
    bool pendingSustained = false;

private:
    void beginNote();
    // Starts the note waiting for the fade to end; false when none waits.
    bool startPending();
    void updateIncrements();

    double sampleRate_ = 48000.0;
    float attackStep_ = 1.0f;
    float fadeCoef_ = 0.0f;
    float bodyDecayBlock_ = 1.0f;
    float tineDecayBlock_ = 1.0f;

    Envelope env_;
    NoteInfo note_;
    NoteInfo pending_;
    bool hasPending_ = false;
    uint64_t age_ = 0;
    uint64_t pendingAge_ = 0;
    VoiceControl control_;

    double baseIncrement_ = 0.0; // carrier phase step without bend, in 2^-32 cycles
    uint32_t carrierPhase_ = 0;
    uint32_t bodyModPhase_ = 0;
    uint32_t tineModPhase_ = 0;
    uint32_t carrierInc_ = 0;
    uint32_t tineModInc_ = 0;

    float amplitude_ = 0.0f;
    float gainLeft_ = 0.0f;
    float gainRight_ = 0.0f;
    float bodyIndexPeak_ = 0.0f; // cycles
    float bodyIndexEnv_ = 0.0f;
    float tineIndex_ = 0.0f; // cycles
    float tineLevelPeak_ = 0.0f;
    float tineEnv_ = 0.0f;
    float bodyIndex_ = 0.0f;
    float tineLevel_ = 0.0f;
};

} // namespace PomaroDemo
