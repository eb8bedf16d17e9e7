// Peak meter with a falling needle: rises instantly, falls 20 dB in about 0.7 s,
// and drops to exactly zero below -80 dB so it rests at silence.
#pragma once

#include <cmath>

namespace PomaroDemo {

class LevelMeter
{
public:
    void setup(double sampleRate)
    {
        // 20 dB (factor 10) in 0.7 s.
        fallPerSample_ = std::log(0.1) / (0.7 * sampleRate);
        value_ = 0.0;
    }
    void reset() { value_ = 0.0; }

    // Feeds one block; returns the meter's value (linear peak) after it.
    double process(const float* left, const float* right, int frames)
    {
        float peak = 0.0f;
        for (int i = 0; i < frames; ++i) {
            const float l = std::fabs(left[i]);
            const float r = std::fabs(right[i]);
            if (l > peak)
                peak = l;
            if (r > peak)
                peak = r;
        }
        value_ *= std::exp(fallPerSample_ * frames);
        if (peak > value_)
            value_ = peak;
        if (value_ < 1e-4)
            value_ = 0.0;
        return value_;
    }
    double value() const { return value_; }

private:
    double fallPerSample_ = 0.0;
    double value_ = 0.0;
};

} // namespace PomaroDemo
