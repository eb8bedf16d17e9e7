// Class ids and parameter ids shared by the recorder's component, controller and view.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/vsttypes.h"

namespace Recorder {

// Random ids, fixed so that a host may recognise them across builds.
static const Steinberg::FUID kComponentUid(0x5B1E2A41, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);
static const Steinberg::FUID kControllerUid(0x5B1E2A42, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);

enum ParamId : Steinberg::Vst::ParamID
{
    kLevel = 0,    // output gain, CC 7
    kBend = 1,     // pitch bend
    kMod = 2,      // modulation wheel, CC 1
    kPressure = 3, // channel pressure
    kLastNote = 4, // read-only: the processor reports pitch / 127 of each note-on
};
constexpr int kNumParams = 5;

constexpr double kDefaults[kNumParams] = {0.5, 0.5, 0.0, 0.0, 0.0};

// The component's state: this tag, then the first four parameter values as doubles.
constexpr char kStateTag[4] = {'P', 'R', 'S', '1'};
constexpr int kStateParams = 4;
constexpr int kStateBytes = 4 + kStateParams * 8;

constexpr int kViewWidth = 400;
constexpr int kViewHeight = 200;
constexpr int kViewMinWidth = 200;
constexpr int kViewMinHeight = 100;

} // namespace Recorder
