// The edit side of the instrument: parameters with their display texts, the
// MIDI controller assignments, the component state, and the editor.
#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "plugins/demo/ui/EditorLayout.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace PomaroDemo {

class DemoEditor;

class DemoController : public Steinberg::Vst::EditController, public Steinberg::Vst::IMidiMapping
{
public:
    static Steinberg::FUnknown* createInstance(void*);

    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                     Steinberg::Vst::ParamValue value) SMTG_OVERRIDE;

    Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex,
                                                              Steinberg::int16 channel,
                                                              Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                              Steinberg::Vst::ParamID& id) SMTG_OVERRIDE;

    void editorAttached(Steinberg::Vst::EditorView* editor) SMTG_OVERRIDE;
    void editorRemoved(Steinberg::Vst::EditorView* editor) SMTG_OVERRIDE;

    // The editor's last size, so a reopened editor comes back as the user left it.
    EditorSize editorSize() const { return editorSize_; }
    void setEditorSize(EditorSize size) { editorSize_ = size; }

    OBJ_METHODS(DemoController, EditController)
    DEFINE_INTERFACES
    DEF_INTERFACE(IMidiMapping)
    END_DEFINE_INTERFACES(EditController)
    REFCOUNT_METHODS(EditController)

private:
    DemoEditor* editor_ = nullptr;
    EditorSize editorSize_ = kEditorDefault;
};

} // namespace PomaroDemo
