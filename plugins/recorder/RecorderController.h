// The recorder's edit controller: five parameters, a MIDI mapping for four of them,
// a connection point and the editor view.
#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "plugins/recorder/Ids.h"
#include "plugins/recorder/RefCounted.h"

namespace Recorder {

class RecorderView;

class RecorderController final : public Steinberg::Vst::IEditController,
                                 public Steinberg::Vst::IMidiMapping,
                                 public Steinberg::Vst::IConnectionPoint
{
public:
    RecorderController();

    Steinberg::tresult castTo(const Steinberg::TUID iid, void** obj);

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return refs.add(); }
    Steinberg::uint32 PLUGIN_API release() override;

    // IPluginBase
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
    Steinberg::tresult PLUGIN_API terminate() override;

    // IEditController
    Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;
    Steinberg::int32 PLUGIN_API getParameterCount() override;
    Steinberg::tresult PLUGIN_API getParameterInfo(Steinberg::int32 paramIndex,
                                                   Steinberg::Vst::ParameterInfo& info) override;
    Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID id,
                                                        Steinberg::Vst::ParamValue valueNormalized,
                                                        Steinberg::Vst::String128 string) override;
    Steinberg::tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID id,
                                                        Steinberg::Vst::TChar* string,
                                                        Steinberg::Vst::ParamValue& valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API
    normalizedParamToPlain(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API
    plainParamToNormalized(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue plainValue) override;
    Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                     Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API setComponentHandler(Steinberg::Vst::IComponentHandler* handler) override;
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

    // IMidiMapping
    Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex,
                                                              Steinberg::int16 channel,
                                                              Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                              Steinberg::Vst::ParamID& id) override;

    // IConnectionPoint
    Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) override;

    // For the view (user-interface thread).
    double value(Steinberg::Vst::ParamID id) const
    {
        return id < Steinberg::Vst::ParamID(kNumParams) ? values[id] : 0.0;
    }
    void editFromView(Steinberg::Vst::ParamID id, double value); // beginEdit, performEdit, endEdit
    void restartFromView(Steinberg::int32 flags);
    void viewGone(RecorderView* view);

private:
    ~RecorderController();
    void releaseHostObjects();

    RefCount refs;
    Steinberg::FUnknown* hostContext{nullptr};
    Steinberg::Vst::IComponentHandler* handler{nullptr};
    Steinberg::Vst::IConnectionPoint* peer{nullptr};
    RecorderView* view{nullptr}; // not owned: the view holds the controller
    bool initialized{false};
    double values[kNumParams];
};

} // namespace Recorder
