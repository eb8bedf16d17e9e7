// Measurements on rendered signals shared by the engine tests.
#pragma once

#include <cfloat>
#include <cmath>
#include <vector>

namespace PomaroDemoTest {

constexpr double kPi = 3.14159265358979323846;

inline double rms(const std::vector<float>& x, size_t from = 0, size_t to = 0)
{
    if (to == 0 || to > x.size())
        to = x.size();
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

// Magnitude of one frequency in a Hann-windowed signal (Goertzel).
inline double magnitudeAt(const std::vector<float>& x, double hz, double rate)
{
    const double w = 2.0 * kPi * hz / rate;
    const double c = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; ++i) {
        const double win = 0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(n - 1));
        const double s0 = x[i] * win + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2);
}

// Frequency of the strongest component between lo and hi, to a fraction of a hertz.
inline double dominantFrequency(const std::vector<float>& x, double rate, double lo, double hi)
{
    const double step = 0.5;
    double best = lo, bestMag = -1.0;
    for (double f = lo; f <= hi; f += step) {
        const double m = magnitudeAt(x, f, rate);
        if (m > bestMag) {
            bestMag = m;
            best = f;
        }
    }
    // Parabolic refinement around the peak.
    const double a = magnitudeAt(x, best - step, rate);
    const double b = bestMag;
    const double c = magnitudeAt(x, best + step, rate);
    const double denom = a - 2.0 * b + c;
    return denom != 0.0 ? best + 0.5 * step * (a - c) / denom : best;
}

inline bool isCleanSample(float s) { return std::isfinite(s) && (s == 0.0f || std::fabs(s) >= FLT_MIN); }

} // namespace PomaroDemoTest
