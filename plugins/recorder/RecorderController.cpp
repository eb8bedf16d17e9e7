// The recorder's edit controller (four parameters, a MIDI mapping, a connection point) and its
// editor: a real Win32 child window of 400 x 200 pixels that announces its size from attached.
#include "plugins/recorder/Recorder.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <windows.h>

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

constexpr int kViewWidth = 400, kViewHeight = 200, kViewMinWidth = 200, kViewMinHeight = 100;
const wchar_t kClassName[] = L"PomaroRecorderView";

class View final : public IPlugView
{
public:
    View() { liveObjects().fetch_add(1); }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPlugView::iid)) {
            *obj = static_cast<IPlugView*>(this);
            addRef();
        }
        return *obj ? kResultOk : kNoInterface;
    }
    RECORDER_REFCOUNT

    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override
    {
        return type && std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void* parent, FIDString type) override
    {
        Call call("view", "attached");
        if (faultIs(Fault::AttachFails))
            return call.done(kResultFalse);
        if (faultIs(Fault::CrashInAttached))
            return call.done(readAddress0x10());
        if (faultIs(Fault::RaiseInAttached))
            RaiseException(0xE0501234, 0, 0, nullptr);
        if (hwnd || !parent || !type || std::strcmp(type, kPlatformTypeHWND) != 0)
            return call.done(kInvalidArgument);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = static_cast<HINSTANCE>(moduleInstance());
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
        wc.lpszClassName = kClassName;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return call.done(kInternalError);
        hwnd = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                               rect.getWidth(), rect.getHeight(), static_cast<HWND>(parent), nullptr,
                               wc.hInstance, nullptr);
        if (!hwnd)
            return call.done(kInternalError);
        // Real editors announce their size this way; a host that never asks getSize learns it only here.
        if (frame && !faultIs(Fault::NoResizeCall)) {
            ViewRect wanted(0, 0, kViewWidth, kViewHeight);
            frame->resizeView(this, &wanted);
        }
        return call.done(kResultOk);
    }
    tresult PLUGIN_API removed() override
    {
        Call call("view", "removed");
        if (!hwnd)
            return call.done(kResultFalse);
        destroyWindow();
        return call.done(kResultOk);
    }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize(ViewRect* size) override
    {
        if (!size)
            return kInvalidArgument;
        *size = rect;
        return kResultOk;
    }
    tresult PLUGIN_API onSize(ViewRect* newSize) override
    {
        if (!newSize)
            return kInvalidArgument;
        rect = *newSize;
        if (hwnd)
            MoveWindow(hwnd, 0, 0, rect.getWidth(), rect.getHeight(), TRUE);
        return kResultOk;
    }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame* newFrame) override
    {
        frame = newFrame;
        return Call("view", "setFrame").done(kResultOk);
    }
    tresult PLUGIN_API canResize() override
    {
        return Call("view", "canResize").done(faultIs(Fault::FixedSizeView) ? kResultFalse : kResultTrue);
    }
    tresult PLUGIN_API checkSizeConstraint(ViewRect* r) override
    {
        if (!r)
            return kInvalidArgument;
        if (faultIs(Fault::FixedSizeView)) {
            *r = ViewRect(r->left, r->top, r->left + kViewWidth, r->top + kViewHeight);
            return kResultFalse;
        }
        r->right = r->left + (r->getWidth() < kViewMinWidth ? kViewMinWidth : r->getWidth());
        r->bottom = r->top + (r->getHeight() < kViewMinHeight ? kViewMinHeight : r->getHeight());
        return kResultTrue;
    }

private:
    ~View()
    {
        destroyWindow();
        liveObjects().fetch_sub(1);
    }
    void destroyWindow()
    {
        if (hwnd)
            DestroyWindow(hwnd);
        hwnd = nullptr;
    }

    IPlugFrame* frame{nullptr}; // not owned: the frame outlives the view
    ViewRect rect{0, 0, kViewWidth, kViewHeight};
    HWND hwnd{nullptr};
};

class Controller final : public IEditController, public IMidiMapping, public Half
{
public:
    Controller() : Half("controller")
    {
        for (int i = 0; i < kNumParams; ++i)
            values[i] = kDefaults[i];
        liveObjects().fetch_add(1);
    }

    tresult castTo(const TUID iid, void** obj)
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
            FUnknownPrivate::iidEqual(iid, IEditController::iid))
            *obj = static_cast<IEditController*>(this);
        else if (FUnknownPrivate::iidEqual(iid, IMidiMapping::iid) && !faultIs(Fault::NoMidiMapping))
            *obj = static_cast<IMidiMapping*>(this);
        else if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) && !faultIs(Fault::NoConnection))
            *obj = static_cast<IConnectionPoint*>(this);
        if (!*obj)
            return kNoInterface;
        addRef();
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override { return castTo(iid, obj); }
    RECORDER_REFCOUNT

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        return initializeHalf(context, faultIs(Fault::ControllerInitFails));
    }
    tresult PLUGIN_API terminate() override
    {
        Call call("controller", "terminate");
        releaseHeld(handler);
        return call.done(releaseHost());
    }

    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        Call call("controller", "setComponentState");
        int32 read = 0;
        double v[kNumParams];
        if (!state || state->read(v, kStateBytes, &read) != kResultOk || read != kStateBytes)
            return call.done(kResultFalse);
        std::memcpy(values, v, sizeof(values));
        return call.done(kResultOk);
    }
    // The controller keeps no state of its own beyond what the component holds.
    tresult PLUGIN_API setState(IBStream*) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream*) override { return kResultOk; }
    int32 PLUGIN_API getParameterCount() override { return kNumParams; }
    // The host shows no parameter list; it reaches the parameters through the MIDI mapping.
    tresult PLUGIN_API getParameterInfo(int32, ParameterInfo&) override { return kNotImplemented; }
    tresult PLUGIN_API getParamStringByValue(ParamID, ParamValue, String128) override { return kResultFalse; }
    tresult PLUGIN_API getParamValueByString(ParamID, TChar*, ParamValue&) override { return kResultFalse; }
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID, ParamValue v) override { return v; }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID, ParamValue v) override { return v; }
    ParamValue PLUGIN_API getParamNormalized(ParamID id) override
    {
        return id < ParamID(kNumParams) ? values[id] : 0.0;
    }
    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue v) override
    {
        if (id >= ParamID(kNumParams) || !(v >= 0.0 && v <= 1.0))
            return kInvalidArgument;
        values[id] = v;
        return kResultOk;
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* newHandler) override
    {
        if (newHandler)
            newHandler->addRef();
        releaseHeld(handler);
        handler = newHandler;
        return Call("controller", "setComponentHandler").done(kResultOk);
    }
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        Call call("controller", "createView");
        const bool editor = name && std::strcmp(name, ViewType::kEditor) == 0;
        call.doneText(editor && !faultIs(Fault::NullView) ? "ptr" : "null");
        return editor && !faultIs(Fault::NullView) ? new View : nullptr;
    }

    tresult PLUGIN_API getMidiControllerAssignment(int32 bus, int16, CtrlNumber number, ParamID& id) override
    {
        Call call("controller", "getMidiControllerAssignment");
        call.w().kvInt("controller", number);
        const CtrlNumber mapped[kNumParams] = {kCtrlVolume, kPitchBend, kCtrlModWheel, kAfterTouch};
        for (int i = 0; i < kNumParams; ++i)
            if (bus == 0 && number == mapped[i]) {
                id = ParamID(i);
                return call.done(kResultOk);
            }
        return call.done(kResultFalse);
    }

private:
    ~Controller()
    {
        releaseHeld(handler);
        releaseHost();
        liveObjects().fetch_sub(1);
    }

    IComponentHandler* handler{nullptr};
    double values[kNumParams];
};

} // namespace

tresult createController(const TUID iid, void** obj)
{
    auto* object = new Controller;
    const tresult r = object->castTo(iid, obj);
    object->release();
    return r;
}

} // namespace Recorder
