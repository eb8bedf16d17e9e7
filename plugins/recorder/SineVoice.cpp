#include "plugins/recorder/SineVoice.h"

#include <cmath>

namespace Recorder {

namespace {
constexpr double kTwoPi = 6.283185307179586476925;
}

void SineVoice::reset()
{
    phase = 0.0;
    remaining = 0;
    currentPitch = -1;
}

void SineVoice::noteOn(int pitch, float velocity)
{
    const double hz = 440.0 * std::pow(2.0, (pitch - 69) / 12.0);
    increment = kTwoPi * hz / sampleRate;
    phase = 0.0;
    amplitude = velocity;
    currentPitch = pitch;
    remaining = int64_t(kMaxSeconds * sampleRate);
}

void SineVoice::noteOff(int pitch)
{
    if (pitch == currentPitch) {
        remaining = 0;
        currentPitch = -1;
    }
}

void SineVoice::render(float* left, float* right, int32_t frames, float level)
{
    const float gain = amplitude * level;
    for (int32_t i = 0; i < frames; ++i) {
        float s = 0.f;
        if (remaining > 0) {
            s = gain * float(std::sin(phase));
            phase += increment;
            if (phase >= kTwoPi)
                phase -= kTwoPi;
            if (--remaining == 0)
                currentPitch = -1;
        }
        if (left)
            left[i] = s;
        if (right)
            right[i] = s;
    }
}

} // namespace Recorder
