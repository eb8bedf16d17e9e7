// The recorder's sound: one sine voice, so a test can tell from the output that a
// note-on went through the whole audio path. The last note-on wins; its note-off or
// the length cap ends it, so a lost note-off cannot leave a tone running.
#pragma once

#include <cstdint>

namespace Recorder {

class SineVoice
{
public:
    static constexpr double kMaxSeconds = 2.0;

    void reset();
    void setSampleRate(double hz) { sampleRate = hz > 0 ? hz : 44100.0; }
    // VST 3 pitch numbering: 69 is A at 440 Hz.
    void noteOn(int pitch, float velocity);
    void noteOff(int pitch);
    // Adds nothing, it writes: left and right get the same samples, silence when idle.
    void render(float* left, float* right, int32_t frames, float level);
    bool active() const { return remaining > 0; }
    int pitch() const { return currentPitch; }

private:
    double sampleRate{44100.0};
    double phase{0.0};
    double increment{0.0};
    float amplitude{0.f};
    int64_t remaining{0};
    int currentPitch{-1};
};

} // namespace Recorder
