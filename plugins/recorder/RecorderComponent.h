// The recorder's audio module: component, audio processor and connection point in one
// object, with one stereo output bus and one event input bus. It plays a sine per
// note-on (SineVoice) and records every call.
#pragma once

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "plugins/recorder/Ids.h"
#include "plugins/recorder/RefCounted.h"
#include "plugins/recorder/SineVoice.h"

#include <atomic>

namespace Recorder {

class RecorderComponent final : public Steinberg::Vst::IComponent,
                                public Steinberg::Vst::IAudioProcessor,
                                public Steinberg::Vst::IConnectionPoint
{
public:
    RecorderComponent();

    // Without logging: used by the factory for the interface the host asked for.
    Steinberg::tresult castTo(const Steinberg::TUID iid, void** obj);

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return refs.add(); }
    Steinberg::uint32 PLUGIN_API release() override;

    // IPluginBase
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
    Steinberg::tresult PLUGIN_API terminate() override;

    // IComponent
    Steinberg::tresult PLUGIN_API getControllerClassId(Steinberg::TUID classId) override;
    Steinberg::tresult PLUGIN_API setIoMode(Steinberg::Vst::IoMode mode) override;
    Steinberg::int32 PLUGIN_API getBusCount(Steinberg::Vst::MediaType type,
                                            Steinberg::Vst::BusDirection dir) override;
    Steinberg::tresult PLUGIN_API getBusInfo(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                             Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
    Steinberg::tresult PLUGIN_API getRoutingInfo(Steinberg::Vst::RoutingInfo& inInfo,
                                                 Steinberg::Vst::RoutingInfo& outInfo) override;
    Steinberg::tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type,
                                              Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                              Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;

    // IAudioProcessor
    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) override;
    Steinberg::tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                                    Steinberg::Vst::SpeakerArrangement& arr) override;
    Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
    Steinberg::uint32 PLUGIN_API getLatencySamples() override;
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
    Steinberg::uint32 PLUGIN_API getTailSamples() override;

    // IConnectionPoint
    Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) override;

private:
    ~RecorderComponent();
    void writeProcessSummary();
    void faultAtFirstNoteOn(uint32_t processSeq); // the process faults of the variants
    void releaseHostObjects();
    Steinberg::int32 outputBusCount() const;

    RefCount refs;
    Steinberg::FUnknown* hostContext{nullptr};
    Steinberg::Vst::IConnectionPoint* peer{nullptr};
    bool initialized{false};
    bool active{false};
    bool holdsFlusher{false};
    int setupCount{0};
    Steinberg::int32 maxSamplesPerBlock{0};
    Steinberg::int32 sampleSize{Steinberg::Vst::kSample32};

    // Read by process on the audio thread, written by the user-interface thread.
    std::atomic<bool> processing{false};
    std::atomic<double> params[kNumParams];

    // Audio thread only (reset while inactive).
    SineVoice voice;
    bool noteOnFaultDone{false}; // for the life of the component

    // Written by the audio thread, read for the summary after processing stopped.
    std::atomic<int64_t> processCalls{0};
    std::atomic<int64_t> droppedRecords{0};
    std::atomic<int64_t> noteOns{0};
    std::atomic<int64_t> soundingBlocks{0};
};

} // namespace Recorder
