// The host object and its frame: the interfaces the plug-in sees, the frame's sizing and the
// message loop. Where the editor and the strip sit, what the strip shows, the notes of keys,
// mouse and MIDI, the folders in a new profile and closing the frame are the end-to-end tests'.

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "public.sdk/source/common/pluginview.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <vector>

using namespace Steinberg;

namespace {

// An editor view that accepts sizes between 200 x 100 and 800 x 600.
struct FakeView : CPluginView
{
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override
    {
        rect->right = rect->left + std::clamp(rect->getWidth(), 200, 800);
        rect->bottom = rect->top + std::clamp(rect->getHeight(), 100, 600);
        return constrain ? kResultTrue : kResultFalse;
    }
    bool constrain = true;
};

// Counts every attempt to move or size the frame, even one that changes nothing.
WNDPROC hostProc = nullptr;
int positionChanges = 0;
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    positionChanges += message == WM_WINDOWPOSCHANGING;
    return CallWindowProcW(hostProc, hwnd, message, wParam, lParam);
}

struct Frame : ::testing::Test
{
    void SetUp() override
    {
        // The keyboard strip makes its imaging factory through COM, as in the program.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // The module handle for the host's window classes, as the entry point sets it;
        // then an empty queue (WM_QUIT included) for the thread.
        g_hInstance = GetModuleHandleW(nullptr);
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
        }
        host = new PomaroApp::CHost();
        ASSERT_TRUE(host->createFrameWindow());
        ASSERT_EQ(host->keyboard.create(host->hwndFrame), S_OK);
    }
    void TearDown() override
    {
        host->pView = nullptr; // the fake is not the host's to release
        host->pluginReady = false;
        host->release();
        CoUninitialize();
    }
    PomaroApp::CHost* host = nullptr;
    FakeView view;
};

TEST_F(Frame, TheHostHandsOutItsInterfacesAndCountsThem)
{
    const uint8_t volume[4] = {0xB0, 7, 127, 0}; // no controller is assigned before a plug-in says so
    EXPECT_FALSE(PomaroApp::decodeMidiMessage(host->midiCtrlMap, volume).hasParam);
    EXPECT_EQ(_mm_getcsr() & 0xFFC0u, 0x9FC0u); // flush-to-zero and denormals-are-zero where it was made
    void* const application = static_cast<Vst::IHostApplication*>(host);
    const std::pair<const TUID&, void*> expected[] = {
        {IPlugFrame::iid, static_cast<IPlugFrame*>(host)},
        {Vst::IComponentHandler::iid, static_cast<Vst::IComponentHandler*>(host)},
        {FUnknown::iid, application},
        {Vst::IHostApplication::iid, application},
        {Vst::IMidiMapping::iid, nullptr}, // null: refused
        {IPlugView::iid, nullptr},
    };
    for (const auto& [iid, pointer] : expected) {
        void* obj = &obj; // anything but null
        EXPECT_EQ(host->queryInterface(iid, &obj), pointer ? kResultOk : kResultFalse);
        EXPECT_EQ(obj, pointer);
    }
    EXPECT_EQ(host->queryInterface(IPlugFrame::iid, nullptr), kInvalidArgument);
    for (uint32 left = 5; left-- > 1;) // the last is the fixture's
        EXPECT_EQ(host->release(), left);
}

// Keys are posted to a window of the thread, exactly as the system delivers them; what
// each key does is for the key tests in AppLogicTest.cpp. Here the loop's part: bit 30 of
// lParam (the key was already down) and the listener, whose messages all reach the MIDI
// queue; and MIDI all notes off clears the strip.
TEST_F(Frame, AHeldKeyPlaysOnceAndAllNotesOffClearsTheStrip)
{
    host->pluginReady = true; // as after the loader attached the editor
    PomaroApp::initMidiRing(host->midiRing);
    host->keyboard.showNote(62, true);
    const uint8_t allNotesOff[4] = {0xB0, 123, 0, 0};
    host->onMidiData(allNotesOff);
    PostMessageW(host->hwndFrame, WM_KEYDOWN, 'C', 0x00000001);
    PostMessageW(host->hwndFrame, WM_KEYDOWN, 'C', 0x40000001);
    PostMessageW(host->hwndFrame, WM_KEYUP, 'C', static_cast<LPARAM>(0xC0000001u));
    PostQuitMessage(0);
    host->runMessageLoop();
    std::vector<uint32_t> queued;
    for (uint32_t m; host->midiRing.pop(m);)
        queued.push_back(m);
    EXPECT_EQ(queued, (std::vector<uint32_t>{0x7BB0, 0x643C90, 0x3C80}));
    EXPECT_EQ(std::count(std::begin(host->keyboard.keyShown), std::end(host->keyboard.keyShown), 0), 128);
}

// How the drag is fitted is for the layout test in AppLogicTest.cpp; here when the frame
// asks the view, and when it sizes itself and the editor.
TEST_F(Frame, TheSizingDragAndResizeViewFollowTheHostsViewAndResizeViewOnlyAChangedSize)
{
    RECT window{}, client{};
    GetWindowRect(host->hwndFrame, &window);
    GetClientRect(host->hwndFrame, &client);
    const LONG ncWidth = (window.right - window.left) - client.right;
    const LONG ncHeight = (window.bottom - window.top) - client.bottom;
    const RECT asDragged{100, 100, 100 + ncWidth + 50, 100 + ncHeight + 30 + 20};
    const RECT fitted{100, 100, 100 + 200 + ncWidth, 100 + 100 + ncHeight + 30};
    for (int c = 0; c < 3; ++c) { // no view; a view that refuses; one that accepts
        host->pView = c ? &view : nullptr;
        view.constrain = c == 2;
        RECT drag = asDragged;
        EXPECT_EQ(SendMessageW(host->hwndFrame, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag)),
                  TRUE);
        EXPECT_TRUE(EqualRect(&drag, c == 2 ? &fitted : &asDragged))
            << c << ": " << drag.right << " " << drag.bottom;
    }

    ViewRect size(0, 0, 400, 200), larger(0, 0, 500, 250);
    host->pView = nullptr;
    EXPECT_EQ(host->resizeView(&view, &size), kResultFalse); // not the host's view
    host->pView = &view; // and its child window, made as the loader makes it
    host->hwndVst = CreateWindowExW(0, L"VstWindow", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                    10, 10, host->hwndFrame, nullptr, GetModuleHandleW(nullptr), host);
    ASSERT_NE(host->hwndVst, nullptr);
    host->viewAttached = true; // as after a successful attached()
    ASSERT_EQ(host->resizeView(&view, &size), kResultOk);
    hostProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host->hwndFrame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProc)));
    positionChanges = 0;
    EXPECT_EQ(host->resizeView(&view, &size), kResultOk);
    EXPECT_EQ(positionChanges, 0);
    EXPECT_EQ(host->resizeView(&view, &larger), kResultOk);
    EXPECT_GT(positionChanges, 0);
    SetWindowLongPtrW(host->hwndFrame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hostProc));

    // Minimising does not resize the editor; restoring does.
    SendMessageW(host->hwndFrame, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    EXPECT_EQ(view.getRect().getWidth(), 500); // as resizeView left it
    SendMessageW(host->hwndFrame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 130));
    EXPECT_EQ(std::make_pair(view.getRect().getWidth(), view.getRect().getHeight()),
              std::make_pair(300, 100));
}

} // namespace
