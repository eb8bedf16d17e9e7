// The electric piano engine: 16 voices with stealing, sustain pedal, pitch
// bend, vibrato, tone and volume, rendered in stereo. Fixed storage only:
// nothing here allocates, locks or calls the system while rendering.
#pragma once

#include <cstdint>

#include "plugins/demo/dsp/EpVoice.h"
#include "plugins/demo/dsp/Smoother.h"

namespace PomaroDemo {

class EpSynth
{
public:
    static constexpr int kMaxVoices = 16;

    EpSynth();

    // Not realtime: sets the rate and silences every voice.
    void setup(double sampleRate);
    void reset();

    void noteOn(int channel, int pitch, float velocity);
    void noteOff(int channel, int pitch);
    void allNotesOff();

    // Normalized parameter values (see DemoParams.h for the mappings).
    void setVolume(double normalized);
    void setTone(double normalized);
    void setRelease(double normalized);
    void setVibrato(double normalized);
    void setPitchBend(double normalized);
    void setSustain(bool down);

    // Overwrites left and right with `frames` samples.
    void render(float* left, float* right, int frames);

    int activeVoices() const;
    bool isSounding(int pitch) const; // a voice plays or is about to play this key
    bool sustainDown() const { return sustain_; }

private:
    EpVoice* chooseVoice(int channel, int pitch);
    void controlTick();

    double sampleRate_ = 48000.0;
    EpVoice voices_[kMaxVoices];
    uint64_t ageCounter_ = 0;
    bool sustain_ = false;
    int samplesToControl_ = 0;

    VoiceControl control_;
    Smoother volume_;           // per sample
    Smoother tone_;             // per control block
    Smoother bend_;             // semitones, per control block
    float vibratoDepth_ = 0.0f; // semitones
    uint32_t lfoPhase_ = 0;
    uint32_t lfoInc_ = 0;
    float releaseSeconds_ = 0.0f;
};

// Unity below the knee, then bends smoothly towards +-1: keeps full chords
// from hard clipping without touching ordinary levels.
float softClip(float x);

} // namespace PomaroDemo
