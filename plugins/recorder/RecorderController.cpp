// The recorder's edit controller (four parameters, a MIDI mapping, a connection point) and its
// editor: a real Win32 child window of 400 x 200 pixels that announces its size from attached.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/common/pluginview.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <windows.h>

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

constexpr int kViewMinWidth = 200, kViewMinHeight = 100;
const wchar_t kClassName[] = L"PomaroRecorderView";

class View final : public CPluginView
{
public:
    View() : CPluginView(&kSize) {}

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
        if (hwnd || !parent || isPlatformTypeSupported(type) != kResultTrue)
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
        if (plugFrame && !faultIs(Fault::NoResizeCall)) {
            ViewRect wanted = kSize;
            plugFrame->resizeView(this, &wanted);
        }
        return call.done(CPluginView::attached(parent, type));
    }
    tresult PLUGIN_API removed() override
    {
        Call call("view", "removed");
        if (!hwnd)
            return call.done(kResultFalse);
        destroyWindow();
        return call.done(CPluginView::removed());
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
    tresult PLUGIN_API setFrame(IPlugFrame* frame) override
    {
        return Call("view", "setFrame").done(CPluginView::setFrame(frame));
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
            *r = ViewRect(r->left, r->top, r->left + kSize.getWidth(), r->top + kSize.getHeight());
            return kResultFalse;
        }
        r->right = r->left + (r->getWidth() < kViewMinWidth ? kViewMinWidth : r->getWidth());
        r->bottom = r->top + (r->getHeight() < kViewMinHeight ? kViewMinHeight : r->getHeight());
        return kResultTrue;
    }

private:
    ~View() override { destroyWindow(); }
    void destroyWindow()
    {
        if (hwnd)
            DestroyWindow(hwnd);
        hwnd = nullptr;
    }

    static inline const ViewRect kSize{0, 0, 400, 200};
    Live live;
    HWND hwnd{nullptr};
};

class Controller final : public EditController, public IMidiMapping
{
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, IMidiMapping::iid) && !faultIs(Fault::NoMidiMapping)) {
            *obj = static_cast<IMidiMapping*>(this);
            addRef();
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, IMidiMapping::iid) ||
            (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) && faultIs(Fault::NoConnection)))
            return kNoInterface;
        return EditController::queryInterface(iid, obj);
    }
    REFCOUNT_METHODS(EditController)

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        Call call("controller", "initialize");
        if (!context || faultIs(Fault::ControllerInitFails) ||
            EditController::initialize(context) != kResultOk)
            return call.done(kResultFalse);
        const TChar* names[kNumParams] = {STR16("Level"), STR16("Bend"), STR16("Mod"), STR16("Pressure")};
        for (int i = 0; i < kNumParams; ++i)
            parameters.addParameter(names[i], nullptr, 0, kDefaults[i], ParameterInfo::kCanAutomate, i);
        logHostName(context);
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
        double v[kNumParams];
        if (!state || state->read(v, kStateBytes, &read) != kResultOk || read != kStateBytes)
            return call.done(kResultFalse);
        for (int i = 0; i < kNumParams; ++i)
            setParamNormalized(ParamID(i), v[i]);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) override
    {
        return Call("controller", "setComponentHandler").done(EditController::setComponentHandler(handler));
    }
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        Call call("controller", "createView");
        const bool editor = name && std::strcmp(name, ViewType::kEditor) == 0 && !faultIs(Fault::NullView);
        call.doneText(editor ? "ptr" : "null");
        return editor ? new View : nullptr;
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
    Live live;
};

} // namespace

FUnknown* createController(void*) { return static_cast<IEditController*>(new Controller); }

} // namespace Recorder
