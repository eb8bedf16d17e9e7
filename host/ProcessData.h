#pragma once
// What the host hands to IAudioProcessor::process for every block.

#include "pluginterfaces/vst/ivstaudioprocessor.h"

namespace PomaroApp {

// Parameter change lists, event list and output buffers join this structure when
// processing is built; until then it holds the bare ProcessData.
struct CProcessData
{
    CProcessData()
    {
        data.processMode = Steinberg::Vst::kRealtime;
        data.symbolicSampleSize = Steinberg::Vst::kSample32;
        data.numSamples = 0;
        data.numInputs = 0;
        data.numOutputs = 1;
    }
    CProcessData(const CProcessData&) = delete;
    CProcessData& operator=(const CProcessData&) = delete;

    Steinberg::Vst::ProcessData data;
};

} // namespace PomaroApp
