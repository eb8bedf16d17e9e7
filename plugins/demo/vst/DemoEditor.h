// The instrument's editor: a Win32 child window with a slider, name and
// value per parameter and the output level meter, resizable within limits.
#pragma once

#include <windows.h>

#include "plugins/demo/ui/EditorLayout.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace PomaroDemo {

class DemoController;

// Owns one GDI object and deletes it with the editor.
template <typename Handle> class GdiObject
{
public:
    GdiObject() = default;
    ~GdiObject() { reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    void reset(Handle h = nullptr)
    {
        if (handle_)
            DeleteObject(handle_);
        handle_ = h;
    }
    Handle get() const { return handle_; }

private:
    Handle handle_ = nullptr;
};

class DemoEditor : public Steinberg::Vst::EditorView
{
public:
    explicit DemoEditor(DemoController* controller);
    ~DemoEditor() override;

    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API removed() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API canResize() SMTG_OVERRIDE { return Steinberg::kResultTrue; }
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) SMTG_OVERRIDE;

    // The controller's value of `id` changed (UI thread).
    void parameterChanged(Steinberg::Vst::ParamID id);

    HWND window() const { return hwnd_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    DemoController* demoController() const;
    void createControls();
    void applyLayout(EditorSize size);
    void showValue(HWND label, Steinberg::Vst::ParamID id);
    void updateRow(int row);
    void onSlider(HWND slider, int code);
    void endOpenEdits();
    void paint();
    void releaseWindowClass();

    HWND hwnd_ = nullptr;
    bool classHeld_ = false;
    HWND labels_[kEditorRows] = {};
    HWND sliders_[kEditorRows] = {};
    HWND values_[kEditorRows] = {};
    HWND meterLabel_ = nullptr;
    HWND meterValue_ = nullptr;
    bool editing_[kEditorRows] = {};
    EditorLayout layout_;
    double meterLevel_ = 0.0;
    GdiObject<HFONT> font_;
    GdiObject<HFONT> titleFont_;
    GdiObject<HBRUSH> background_;
};

} // namespace PomaroDemo
