// The frame window around the editor: resizeView, the sizing drag, the strip's device
// resources and its message loop. Where the editor and the strip sit, what the strip
// shows, the notes of keys, mouse and MIDI and closing the frame are the end-to-end tests'.

#include "TestHost.h"

#include "public.sdk/source/common/pluginview.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>

using namespace PomaroTest;
using namespace Steinberg;

namespace {

// An editor view that accepts sizes between 200 x 100 and 800 x 600.
class FakeView : public CPluginView
{
public:
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override
    {
        if (!constrain)
            return kResultFalse;
        rect->right = rect->left + std::clamp(rect->getWidth(), 200, 800);
        rect->bottom = rect->top + std::clamp(rect->getHeight(), 100, 600);
        return kResultTrue;
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

class Frame : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The keyboard strip makes its imaging factory through COM, as in the program.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        useTestModule();
        drainThreadQueue();
        host = new RecordingHost();
        ASSERT_TRUE(host->createFrameWindow());
        ASSERT_EQ(host->keyboard.create(host->hwndFrame), S_OK);
    }
    void TearDown() override
    {
        host->pView = nullptr; // the fake is not the host's to release
        host->pluginReady = false;
        host->release();
        drainThreadQueue();
        CoUninitialize();
    }
    // The editor's child window, made as the loader makes it.
    void attachView()
    {
        host->pView = &view;
        host->hwndVst = CreateWindowExW(0, L"VstWindow", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0,
                                        0, 10, 10, host->hwndFrame, nullptr, GetModuleHandleW(nullptr), host);
        ASSERT_NE(host->hwndVst, nullptr);
        host->viewAttached = true; // as after a successful attached()
    }
    RecordingHost* host = nullptr;
    FakeView view;
};

} // namespace

// Keys are posted to a window of the thread, exactly as the system delivers them; what
// each key does is KeyboardInputTest's. Here the loop's part: bit 30 of lParam (the key
// was already down) and the listener; then MIDI all notes off clears the strip.
TEST_F(Frame, AHeldKeyPlaysOnceAndAllNotesOffClearsTheStrip)
{
    attachView();
    host->pluginReady = true; // as after the loader attached the editor
    PostMessageW(host->hwndFrame, WM_KEYDOWN, 'C', 0x00000001);
    PostMessageW(host->hwndFrame, WM_KEYDOWN, 'C', 0x40000001);
    PostMessageW(host->hwndFrame, WM_KEYUP, 'C', static_cast<LPARAM>(0xC0000001u));
    host->keyboard.showNote(62, true);
    PostQuitMessage(0);
    host->runMessageLoop();
    EXPECT_EQ(host->received, (std::vector<MidiBytes>{{0x90, 60, 100, 0}, {0x80, 60, 0, 0}}));
    ASSERT_EQ(host->keyboard.keyShown[62], 1);
    const uint8_t allNotesOff[4] = {0xB0, 123, 0, 0};
    host->onMidiData(allNotesOff);
    PostQuitMessage(0);
    host->runMessageLoop();
    EXPECT_EQ(std::count(std::begin(host->keyboard.keyShown), std::end(host->keyboard.keyShown), 0), 128);
}

// Made again in one go after they were given up, as after a lost device.
TEST_F(Frame, TheStripsDeviceResourcesAreRemadeTogether)
{
    PomaroApp::CKeyboardWindow& k = host->keyboard;
    SetWindowPos(host->hwndFrame, nullptr, 0, 0, 700, 300, SWP_NOZORDER | SWP_NOMOVE);
    ShowWindow(host->hwndFrame, SW_SHOWNOACTIVATE);
    UpdateWindow(host->hwndFrame);
    ASSERT_TRUE(k.renderTarget && k.offscreenBitmap && k.keysBitmap && k.labelsBitmap);
    k.releaseDeviceResources();
    EXPECT_FALSE(k.renderTarget || k.offscreenBitmap || k.keysBitmap || k.labelsBitmap);
    EXPECT_EQ(k.createDeviceResources(k.hwnd), S_OK);
    EXPECT_TRUE(k.renderTarget && k.offscreenBitmap && k.keysBitmap && k.labelsBitmap);
}

TEST_F(Frame, ResizeViewSizesTheFrameOnlyForTheHostsViewAndOnlyWhenTheSizeChanges)
{
    ViewRect size(0, 0, 400, 200), larger(0, 0, 500, 250);
    EXPECT_EQ(host->resizeView(nullptr, &size), kInvalidArgument);
    EXPECT_EQ(host->resizeView(&view, nullptr), kInvalidArgument);
    EXPECT_EQ(host->resizeView(&view, &size), kResultFalse); // not the host's view
    RecordingHost frameless;
    frameless.pView = &view;
    EXPECT_EQ(frameless.resizeView(&view, &size), kResultFalse);
    frameless.pView = nullptr;
    attachView();
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

TEST_F(Frame, SizingDragIsFittedToWhatTheViewAccepts)
{
    RECT window{}, client{};
    GetWindowRect(host->hwndFrame, &window);
    GetClientRect(host->hwndFrame, &client);
    const LONG ncWidth = (window.right - window.left) - client.right;
    const LONG ncHeight = (window.bottom - window.top) - client.bottom;
    const RECT asDragged{100, 100, 100 + ncWidth + 50, 100 + ncHeight + 30 + 20};
    const struct
    {
        bool view, constrain;
        RECT fitted;
    } cases[] = {
        {false, true, asDragged}, // without a view the drag stays as the user made it
        {true, true, {100, 100, 100 + 200 + ncWidth, 100 + 100 + ncHeight + 30}},
        {true, false, asDragged}, // a view that does not answer kResultTrue changes nothing
    };
    for (const auto& c : cases) {
        host->pView = c.view ? &view : nullptr;
        view.constrain = c.constrain;
        RECT drag = asDragged;
        EXPECT_EQ(SendMessageW(host->hwndFrame, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag)),
                  TRUE);
        EXPECT_TRUE(EqualRect(&drag, &c.fitted))
            << drag.left << " " << drag.top << " " << drag.right << " " << drag.bottom;
    }
}
