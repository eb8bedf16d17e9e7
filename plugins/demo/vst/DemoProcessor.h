// The audio side of the instrument: turns note events and parameter changes
// into the electric piano's stereo output and reports its output level back.
#pragma once

#include <atomic>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/EpSynth.h"
#include "plugins/demo/dsp/LevelMeter.h"
#include "plugins/demo/dsp/StateCodec.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "public.sdk/source/vst/vstaudioeffect.h"

namespace PomaroDemo {

class DemoProcessor : public Steinberg::Vst::AudioEffect
{
public:
    DemoProcessor();
    static Steinberg::FUnknown* createInstance(void*);

    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) SMTG_OVERRIDE;

private:
    void applyParam(Steinberg::Vst::ParamID id, double value);
    void takePendingState();
    void handleEvent(const Steinberg::Vst::Event& e);
    void reportLevel(Steinberg::Vst::ProcessData& data, double level);

    EpSynth synth_;
    LevelMeter meter_;

    // Written by the audio thread as changes arrive, read by getState on the UI thread.
    std::atomic<double> values_[kNumParams];
    // A state loaded on the UI thread waits here until the next process call picks it up.
    std::atomic<double> pendingState_[4];
    std::atomic<uint32_t> stateSerial_{0};
    uint32_t appliedSerial_ = 0;
    // Stopping asks the audio thread to let go of every note before the next block.
    std::atomic<bool> releaseAll_{false};
};

} // namespace PomaroDemo
