#include "plugins/demo/dsp/DemoParams.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace PomaroDemo {
namespace {

constexpr double kReleaseMin = 0.02;
constexpr double kReleaseRatio = 150.0; // 20 ms * 150 = 3 s
constexpr double kMeterFloorDb = -60.0;

const ParamDesc kParams[kNumParams] = {
    {kParamVolume, "Volume", "Volume", "dB", 0.8, 0, false},
    {kParamTone, "Tone", "Tone", "%", 0.5, 0, false},
    {kParamRelease, "Release", "Release", "s", 0.4, 0, false},
    {kParamSustain, "Sustain Pedal", "Sustain", "", 0.0, 1, false},
    {kParamPitchBend, "Pitch Bend", "Bend", "st", 0.5, 0, false},
    {kParamVibrato, "Vibrato", "Vibrato", "ct", 0.0, 0, false},
    {kParamOutputLevel, "Output Level", "Level", "dB", 0.0, 0, true},
};

double clamp01(double v) { return std::isnan(v) ? 0.0 : std::min(1.0, std::max(0.0, v)); }

// Reads a leading number; rejects text with no digits or a non-finite value.
bool leadingNumber(const char* text, double& value)
{
    if (!text)
        return false;
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && std::isfinite(value);
}

} // namespace

const ParamDesc& paramDesc(uint32_t id) { return kParams[isValidParam(id) ? id : 0]; }
bool isValidParam(uint32_t id) { return id < kNumParams; }

double volumeGain(double normalized)
{
    const double n = clamp01(normalized);
    return n * n;
}

double releaseSeconds(double normalized)
{
    return kReleaseMin * std::pow(kReleaseRatio, clamp01(normalized));
}

double pitchBendSemitones(double normalized) { return (clamp01(normalized) - 0.5) * 4.0; }
double vibratoSemitones(double normalized) { return clamp01(normalized) * 0.5; }
bool sustainDown(double normalized) { return normalized >= 0.5; }

double levelToNormalized(double peak)
{
    if (!(peak > 0.0))
        return 0.0;
    const double db = 20.0 * std::log10(peak);
    return clamp01((db - kMeterFloorDb) / -kMeterFloorDb);
}

double normalizedToLevelDb(double normalized) { return kMeterFloorDb + clamp01(normalized) * -kMeterFloorDb; }

void formatParamValue(uint32_t id, double normalized, char* out, size_t size)
{
    if (!out || size == 0)
        return;
    const double n = clamp01(normalized);
    switch (id) {
    case kParamVolume: {
        const double g = volumeGain(n);
        if (g <= 1e-6)
            std::snprintf(out, size, "-inf");
        else
            std::snprintf(out, size, "%.1f", 20.0 * std::log10(g));
        break;
    }
    case kParamTone:
    case kParamVibrato:
        if (id == kParamVibrato)
            std::snprintf(out, size, "%.0f", vibratoSemitones(n) * 100.0);
        else
            std::snprintf(out, size, "%.0f", n * 100.0);
        break;
    case kParamRelease:
        std::snprintf(out, size, "%.2f", releaseSeconds(n));
        break;
    case kParamSustain:
        std::snprintf(out, size, "%s", sustainDown(n) ? "On" : "Off");
        break;
    case kParamPitchBend:
        std::snprintf(out, size, "%+.2f", pitchBendSemitones(n));
        break;
    case kParamOutputLevel:
        if (n <= 0.0)
            std::snprintf(out, size, "-inf");
        else
            std::snprintf(out, size, "%.1f", normalizedToLevelDb(n));
        break;
    default:
        out[0] = '\0';
        break;
    }
}

bool parseParamValue(uint32_t id, const char* text, double& normalized)
{
    if (!text || !isValidParam(id))
        return false;
    while (*text == ' ')
        ++text;
    const bool minusInf = std::strncmp(text, "-inf", 4) == 0;
    double v = 0.0;
    switch (id) {
    case kParamVolume:
        if (minusInf) {
            normalized = 0.0;
            return true;
        }
        if (!leadingNumber(text, v) || v > 0.0)
            return false;
        normalized = std::pow(10.0, v / 40.0); // gain = n^2
        return true;
    case kParamTone:
        if (!leadingNumber(text, v) || v < 0.0 || v > 100.0)
            return false;
        normalized = v / 100.0;
        return true;
    case kParamVibrato:
        if (!leadingNumber(text, v) || v < 0.0 || v > 50.0)
            return false;
        normalized = v / 50.0;
        return true;
    case kParamRelease:
        if (!leadingNumber(text, v) || v < kReleaseMin || v > kReleaseMin * kReleaseRatio)
            return false;
        normalized = std::log(v / kReleaseMin) / std::log(kReleaseRatio);
        return true;
    case kParamSustain:
        if (std::strncmp(text, "On", 2) == 0) {
            normalized = 1.0;
            return true;
        }
        if (std::strncmp(text, "Off", 3) == 0) {
            normalized = 0.0;
            return true;
        }
        return false;
    case kParamPitchBend:
        if (!leadingNumber(text, v) || v < -2.0 || v > 2.0)
            return false;
        normalized = v / 4.0 + 0.5;
        return true;
    case kParamOutputLevel:
        if (minusInf) {
            normalized = 0.0;
            return true;
        }
        if (!leadingNumber(text, v) || v > 0.0)
            return false;
        normalized = clamp01((v - kMeterFloorDb) / -kMeterFloorDb);
        return true;
    default:
        return false;
    }
}

} // namespace PomaroDemo
