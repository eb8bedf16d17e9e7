// The recorder's edit controller (four parameters, a MIDI mapping, a connection point) and its editor:
// a blank 400 x 200 view that announces its size from attached and, unless fixed, can be resized.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/common/pluginview.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

class View final : public CPluginView
{
public:
    View() : CPluginView(&kSize) {}

    tresult PLUGIN_API attached(void* parent, FIDString type) override
    {
        Call call("view", "attached");
        if (faultIs("attach_fails"))
            return call.done(kResultFalse);
        if (faultIs("crash_in_attached"))
            return call.done(readAddress0x10());
        if (faultIs("raise_in_attached"))
            RaiseException(0xE0501234, 0, 0, nullptr);
        if (!parent || !type || std::strcmp(type, kPlatformTypeHWND) != 0)
            return call.done(kInvalidArgument);
        // Real editors announce their size this way; a host that never asks getSize learns it only here.
        if (plugFrame && !faultIs("no_resize_call")) {
            ViewRect wanted = kSize;
            plugFrame->resizeView(this, &wanted);
        }
        return call.done(CPluginView::attached(parent, type));
    }
    tresult PLUGIN_API removed() override { return Call("view", "removed").done(CPluginView::removed()); }
    tresult PLUGIN_API setFrame(IPlugFrame* frame) override
    {
        return Call("view", "setFrame").done(CPluginView::setFrame(frame));
    }
    tresult PLUGIN_API canResize() override
    {
        return Call("view", "canResize").done(faultIs("fixed_size_view") ? kResultFalse : kResultTrue);
    }

private:
    static inline const ViewRect kSize{0, 0, 400, 200};
    Live live;
};

class Controller final : public EditController, public IMidiMapping
{
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (!faultIs("no_midimapping")) {
            QUERY_INTERFACE(iid, obj, IMidiMapping::iid, IMidiMapping)
        }
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) && faultIs("no_connection"))
            return kNoInterface;
        return EditController::queryInterface(iid, obj);
    }
    REFCOUNT_METHODS(EditController)

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        Call call("controller", "initialize");
        if (!context || faultIs("controller_init_fails") || EditController::initialize(context) != kResultOk)
            return call.done(kResultFalse);
        const TChar* names[kNumParams] = {STR16("Level"), STR16("Bend"), STR16("Mod"), STR16("Pressure")};
        for (int i = 0; i < kNumParams; ++i)
            parameters.addParameter(names[i], nullptr, 0, kDefaults[i], ParameterInfo::kCanAutomate, i);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API terminate() override
    {
        return Call("controller", "terminate").done(EditController::terminate());
    }
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        return Call("controller", "connect").done(EditController::connect(other));
    }
    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        Call call("controller", "setComponentState");
        int32 read = 0;
        double values[kNumParams];
        const bool whole = state && state->read(values, int32(sizeof(kDefaults)), &read) == kResultOk &&
                           read == int32(sizeof(kDefaults));
        return call.done(whole ? kResultOk : kResultFalse);
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) override
    {
        return Call("controller", "setComponentHandler").done(EditController::setComponentHandler(handler));
    }
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        const bool editor = name && std::strcmp(name, ViewType::kEditor) == 0 && !faultIs("null_view");
        Call("controller", "createView").doneText(editor ? "ptr" : "null");
        return editor ? new View : nullptr;
    }

    tresult PLUGIN_API getMidiControllerAssignment(int32 bus, int16, CtrlNumber number, ParamID& id) override
    {
        Call call = Call("controller", "getMidiControllerAssignment").add(" controller=%d", number);
        const CtrlNumber mapped[kNumParams] = {kCtrlVolume, kPitchBend, kCtrlModWheel, kAfterTouch};
        const CtrlNumber* found = std::find(mapped, mapped + kNumParams, number);
        if (bus != 0 || found == mapped + kNumParams)
            return call.done(kResultFalse);
        id = ParamID(found - mapped);
        return call.done(kResultOk);
    }

private:
    Live live;
};

} // namespace

FUnknown* createController(void*) { return static_cast<IEditController*>(new Controller); }

} // namespace Recorder
