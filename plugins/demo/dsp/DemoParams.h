// Parameters of the demo electric piano: ids, defaults and the mappings
// between normalized values, engine values and display text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace PomaroDemo {

enum ParamId : uint32_t
{
    kParamVolume = 0,
    kParamTone = 1,
    kParamRelease = 2,
    kParamSustain = 3,
    kParamPitchBend = 4,
    kParamVibrato = 5,
    kParamOutputLevel = 6,
    kNumParams = 7
};

struct ParamDesc
{
    ParamId id;
    const char* title;
    const char* shortTitle;
    const char* units;
    double defaultValue; // normalized
    int32_t stepCount;   // 0 = continuous
    bool readOnly;
};

// In id order; paramDesc(id) is the entry with that id.
const ParamDesc& paramDesc(uint32_t id);
bool isValidParam(uint32_t id);

// Engine values from normalized ones.
double volumeGain(double normalized);         // linear gain, square law
double releaseSeconds(double normalized);     // 20 ms .. 3 s, exponential
double pitchBendSemitones(double normalized); // -2 .. +2
double vibratoSemitones(double normalized);   // 0 .. 0.5 (half a semitone)
bool sustainDown(double normalized);

// Peak meter: -60 dB .. 0 dB mapped linearly in dB to 0 .. 1.
double levelToNormalized(double peak);
double normalizedToLevelDb(double normalized);

// Writes the display text of a value (without units) into out.
void formatParamValue(uint32_t id, double normalized, char* out, size_t size);
// Parses what formatParamValue writes (units may follow). False for text
// that is not a number in the parameter's range.
bool parseParamValue(uint32_t id, const char* text, double& normalized);

} // namespace PomaroDemo
