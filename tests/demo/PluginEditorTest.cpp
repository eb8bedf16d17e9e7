// The instrument's editor in a host-like child window: it announces its size
// through resizeView from attached, follows onSize, keeps within its limits,
// and turns slider drags into begin/perform/end edits.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"
#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/ui/EditorLayout.h"
#include "tests/demo/PluginHarness.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace PomaroDemo;
using namespace PomaroDemoTest;

namespace {

// Host side: a frame window with a child that passes its size to the view,
// and an IPlugFrame that moves the child as the host's frame would.
class HostFrame : public FObject, public IPlugFrame
{
public:
    HostFrame()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &HostFrame::childProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"DemoTestVstWindow";
        RegisterClassW(&wc);
        frame = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800, 700,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        child = CreateWindowExW(0, L"DemoTestVstWindow", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                10, 10, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
        current = this;
    }
    ~HostFrame() override
    {
        if (frame)
            DestroyWindow(frame);
        current = nullptr;
    }

    tresult PLUGIN_API resizeView(IPlugView* v, ViewRect* r) SMTG_OVERRIDE
    {
        if (!v || !r)
            return kInvalidArgument;
        ++resizeCalls;
        requested = *r;
        MoveWindow(child, 0, 0, r->getWidth(), r->getHeight(), TRUE); // WM_SIZE tells the view
        return kResultOk;
    }

    static LRESULT CALLBACK childProc(HWND h, UINT m, WPARAM w, LPARAM l)
    {
        if (m == WM_SIZE && current && current->view) {
            ViewRect r(0, 0, LOWORD(l), HIWORD(l));
            current->view->onSize(&r);
        }
        return DefWindowProcW(h, m, w, l);
    }

    HWND frame = nullptr;
    HWND child = nullptr;
    IPlugView* view = nullptr;
    int resizeCalls = 0;
    ViewRect requested;
    static HostFrame* current;

    OBJ_METHODS(HostFrame, FObject)
    DEFINE_INTERFACES
    DEF_INTERFACE(IPlugFrame)
    END_DEFINE_INTERFACES(FObject)
    REFCOUNT_METHODS(FObject)
};
HostFrame* HostFrame::current = nullptr;

std::vector<HWND> childrenOfClass(HWND parent, const wchar_t* cls)
{
    struct Search
    {
        const wchar_t* cls;
        std::vector<HWND> found;
    } search{cls, {}};
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[64] = {};
            GetClassNameW(h, name, 64);
            if (lstrcmpiW(name, s->cls) == 0)
                s->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool hasWindowText(HWND parent, const std::wstring& text)
{
    for (HWND h : childrenOfClass(parent, L"Static")) {
        wchar_t t[128] = {};
        GetWindowTextW(h, t, 128);
        if (text == t)
            return true;
    }
    return false;
}

SIZE clientSize(HWND h)
{
    RECT r = {};
    GetClientRect(h, &r);
    return SIZE{r.right, r.bottom};
}

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

class DemoEditorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module.load(pluginPath()));
        ASSERT_EQ(plugin.create(module.factory()), "");
        handler = owned(new RecordingHandler);
        plugin.controller->setComponentHandler(handler);
        hostFrame = owned(new HostFrame);
        ASSERT_NE(hostFrame->child, nullptr);
        view = owned(plugin.controller->createView("editor"));
        ASSERT_TRUE(view);
        hostFrame->view = view;
    }
    void TearDown() override
    {
        if (hostFrame) {
            DestroyWindow(hostFrame->frame); // the host's child dies first, then the view is told
            hostFrame->frame = nullptr;
            hostFrame->view = nullptr;
        }
        if (view)
            view->removed();
        view = nullptr;
        hostFrame = nullptr;
        plugin.destroy();
        module.unload();
    }
    // As the host's loader does it: placeholder size first, then frame and attach.
    void attach()
    {
        ViewRect placeholder(0, 0, 10, 10);
        view->onSize(&placeholder);
        view->setFrame(hostFrame);
        ShowWindow(hostFrame->frame, SW_SHOW);
        ASSERT_EQ(view->attached(hostFrame->child, kPlatformTypeHWND), kResultOk);
        editor = GetWindow(hostFrame->child, GW_CHILD);
        ASSERT_NE(editor, nullptr);
        pump();
    }

    PluginModule module;
    LoadedPlugin plugin;
    IPtr<RecordingHandler> handler;
    IPtr<HostFrame> hostFrame;
    IPtr<IPlugView> view;
    HWND editor = nullptr;
};

} // namespace

TEST_F(DemoEditorTest, AnnouncesItsSizeFromAttachedAndKeepsWithinItsLimits)
{
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    EXPECT_NE(view->isPlatformTypeSupported("NSView"), kResultTrue);
    EXPECT_NE(view->attached(hostFrame->child, "NSView"), kResultOk);
    EXPECT_EQ(GetWindow(hostFrame->child, GW_CHILD), nullptr);
    EXPECT_EQ(view->canResize(), kResultTrue);
    attach();
    EXPECT_EQ(hostFrame->resizeCalls, 1);
    EXPECT_EQ(hostFrame->requested.getWidth(), kEditorDefault.width);
    EXPECT_EQ(hostFrame->requested.getHeight(), kEditorDefault.height);
    const SIZE size = clientSize(editor);
    EXPECT_EQ(size.cx, kEditorDefault.width);
    EXPECT_EQ(size.cy, kEditorDefault.height);
    EXPECT_NE(view->attached(hostFrame->child, kPlatformTypeHWND), kResultOk); // a second attach

    ViewRect tooSmall(5, 5, 105, 55), tooBig(0, 0, 5000, 5000);
    EXPECT_EQ(view->checkSizeConstraint(&tooSmall), kResultTrue);
    EXPECT_EQ(tooSmall.left, 5);
    EXPECT_EQ(tooSmall.getWidth(), kEditorMin.width);
    EXPECT_EQ(tooSmall.getHeight(), kEditorMin.height);
    EXPECT_EQ(view->checkSizeConstraint(&tooBig), kResultTrue);
    EXPECT_EQ(tooBig.getWidth(), kEditorMax.width);
    EXPECT_EQ(tooBig.getHeight(), kEditorMax.height);
    EXPECT_EQ(view->checkSizeConstraint(nullptr), kInvalidArgument);
}

TEST_F(DemoEditorTest, HasASliderPerParameterAndTheMeter)
{
    attach();
    EXPECT_EQ(childrenOfClass(editor, TRACKBAR_CLASSW).size(), size_t(kEditorRows));
    EXPECT_TRUE(hasWindowText(editor, L"Volume"));
    EXPECT_TRUE(hasWindowText(editor, L"Output Level"));
    EXPECT_TRUE(hasWindowText(editor, L"-3.9 dB")); // default volume 0.8: gain 0.64

    plugin.controller->setParamNormalized(kParamOutputLevel, 0.5);
    EXPECT_TRUE(hasWindowText(editor, L"-30.0 dB"));
    plugin.controller->setParamNormalized(kParamTone, 0.25);
    EXPECT_TRUE(hasWindowText(editor, L"25 %"));
    const HWND toneSlider = childrenOfClass(editor, TRACKBAR_CLASSW)[editorRowOfParam(kParamTone)];
    EXPECT_EQ(SendMessageW(toneSlider, TBM_GETPOS, 0, 0), 250);
}

TEST_F(DemoEditorTest, FollowsTheHostsSizeAndRemembersIt)
{
    attach();
    MoveWindow(hostFrame->child, 0, 0, 700, 400, TRUE);
    const SIZE size = clientSize(editor);
    EXPECT_EQ(size.cx, 700);
    EXPECT_EQ(size.cy, 400);
    // The sliders stretch with the width.
    RECT slider = {};
    GetWindowRect(childrenOfClass(editor, TRACKBAR_CLASSW)[0], &slider);
    EXPECT_EQ(slider.right - slider.left, layoutEditor({700, 400}).rows[0].slider.width());

    // A new editor from the same controller opens at the size the user left.
    view->removed();
    IPtr<IPlugView> second = owned(plugin.controller->createView("editor"));
    ASSERT_TRUE(second);
    HostFrame* frame = hostFrame;
    frame->view = second;
    second->setFrame(frame);
    ASSERT_EQ(second->attached(frame->child, kPlatformTypeHWND), kResultOk);
    EXPECT_EQ(frame->requested.getWidth(), 700);
    EXPECT_EQ(frame->requested.getHeight(), 400);
    second->removed();
    frame->view = nullptr;
    view = nullptr;
}

TEST_F(DemoEditorTest, DraggingASliderEditsThroughTheHost)
{
    attach();
    const HWND slider = childrenOfClass(editor, TRACKBAR_CLASSW)[editorRowOfParam(kParamRelease)];
    SendMessageW(slider, TBM_SETPOS, TRUE, 100);
    SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 100), reinterpret_cast<LPARAM>(slider));
    SendMessageW(slider, TBM_SETPOS, TRUE, 250);
    SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 250), reinterpret_cast<LPARAM>(slider));
    SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 250), reinterpret_cast<LPARAM>(slider));
    SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(handler->log, "b2 p2=0.100 p2=0.250 e2 ");
    EXPECT_EQ(handler->open, 0);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(kParamRelease), 0.25);
    EXPECT_TRUE(hasWindowText(editor, L"0.07 s"));
}

TEST_F(DemoEditorTest, AnEditInProgressIsClosedWhenTheEditorGoes)
{
    attach();
    const HWND slider = childrenOfClass(editor, TRACKBAR_CLASSW)[editorRowOfParam(kParamSustain)];
    SendMessageW(slider, TBM_SETPOS, TRUE, 1);
    SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 1), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(handler->open, 1);
    view->removed();
    EXPECT_EQ(handler->open, 0);
    EXPECT_EQ(handler->log, "b3 p3=1.000 e3 ");
    EXPECT_FALSE(IsWindow(editor));
    hostFrame->view = nullptr;
    view = nullptr;
}

TEST_F(DemoEditorTest, SurvivesItsParentBeingDestroyedFirst)
{
    attach();
    DestroyWindow(hostFrame->frame);
    hostFrame->frame = nullptr;
    hostFrame->view = nullptr;
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(view->removed(), kResultOk);
    // The class can be registered again: a later editor opens normally.
    view = owned(plugin.controller->createView("editor"));
    hostFrame = owned(new HostFrame);
    hostFrame->view = view;
    attach();
}
