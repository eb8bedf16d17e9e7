// The recorder's editor: a real Win32 child window of 400 x 200 pixels that shows the
// variant and the level. A left click sets the level from the x position through the
// host's component handler; a right click asks the host to restart the component.
#pragma once

#include "pluginterfaces/gui/iplugview.h"
#include "plugins/recorder/RefCounted.h"

namespace Recorder {

class RecorderController;

class RecorderView final : public Steinberg::IPlugView
{
public:
    explicit RecorderView(RecorderController* controller);

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return refs.add(); }
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API removed() override;
    Steinberg::tresult PLUGIN_API onWheel(float distance) override;
    Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                            Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                                          Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
    Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override;
    Steinberg::tresult PLUGIN_API canResize() override;
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;

    void refresh(); // repaint after a parameter change
    void* window() const { return hwnd; }

    // Window procedure helpers.
    void paint();
    void click(int x, bool right);

private:
    ~RecorderView();
    void destroyWindow();

    RefCount refs;
    RecorderController* controller;        // owned reference
    Steinberg::IPlugFrame* frame{nullptr}; // not owned: the frame outlives the view
    Steinberg::ViewRect rect;
    void* hwnd{nullptr};
};

} // namespace Recorder
