// The frame window around the editor: resizeView, the sizing drag, the layout of the
// editor and the keyboard strip, and the notes of the computer keyboard and of MIDI in
// its message loop. Closing the frame and what the strip shows are the end-to-end tests'.

#include "TestHost.h"
#include "res/resource.h"

#include "public.sdk/source/common/pluginview.h"

#include <d2d1.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <thread>

using namespace PomaroTest;
using namespace Steinberg;

namespace {

// An editor view that accepts sizes between 200 x 100 and 800 x 600.
class FakeView : public CPluginView
{
public:
    tresult PLUGIN_API onSize(ViewRect* newSize) override
    {
        return ++sizeCalls, CPluginView::onSize(newSize);
    }
    tresult PLUGIN_API canResize() override { return kResultTrue; }
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override
    {
        if (!constrain)
            return kResultFalse;
        rect->right = rect->left + std::clamp(rect->getWidth(), 200, 800);
        rect->bottom = rect->top + std::clamp(rect->getHeight(), 100, 600);
        return kResultTrue;
    }
    bool constrain = true;
    int sizeCalls = 0;
};

// Counts every attempt to move or size the frame, even one that changes nothing.
WNDPROC hostProc = nullptr;
int positionChanges = 0;
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    positionChanges += message == WM_WINDOWPOSCHANGING;
    return CallWindowProcW(hostProc, hwnd, message, wParam, lParam);
}

RECT rectIn(HWND frame, HWND w)
{
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, frame, reinterpret_cast<POINT*>(&r), 2);
    return r;
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
        RECT window{}, client{};
        GetWindowRect(host->hwndFrame, &window);
        GetClientRect(host->hwndFrame, &client);
        ncWidth = (window.right - window.left) - client.right;
        ncHeight = (window.bottom - window.top) - client.bottom;
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
        ASSERT_EQ(host->keyboard.create(host->hwndFrame), S_OK);
        host->viewAttached = true; // as after a successful attached()
    }
    void post(UINT message, WPARAM vk, LPARAM flags) { PostMessageW(host->hwndFrame, message, vk, flags); }

    RecordingHost* host = nullptr;
    FakeView view;
    int ncWidth = 0, ncHeight = 0;
};

} // namespace

TEST_F(Frame, StartsHiddenAtFiftyByFiftyWithItsTimerAndMenuAndWithoutAPluginLeavesTheKeys)
{
    RECT window{};
    GetWindowRect(host->hwndFrame, &window);
    // Asked for 50 x 50; the system keeps a captioned window at its minimum tracking size.
    EXPECT_EQ(window.right - window.left, std::max(50, GetSystemMetrics(SM_CXMINTRACK)));
    EXPECT_EQ(window.bottom - window.top, std::max(50, GetSystemMetrics(SM_CYMINTRACK)));
    EXPECT_FALSE(IsWindowVisible(host->hwndFrame));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(host->hwndFrame, GWL_STYLE)) & 0x02CA0000u, 0x02CA0000u);
    EXPECT_EQ(host->timerId, PomaroApp::kFrameTimerId);
    EXPECT_NE(GetMenu(host->hwndFrame), nullptr); // the class brings menu 103
    HWND first = host->hwndFrame;
    EXPECT_TRUE(host->createFrameWindow());
    EXPECT_EQ(host->hwndFrame, first);

    post(WM_KEYDOWN, 'C', 0x00000001);
    host->runMessageLoop(); // returns at once
    EXPECT_TRUE(host->received.empty());
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, host->hwndFrame, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE));
}

// Keys are posted to a window of the thread, exactly as the system delivers them. What
// each key does is KeyboardInputTest's; here the loop's part: bit 30 of lParam (the key
// was already down), the listener and the ring. MIDI notes first: a flood from a port's
// thread posts one message for all its changes; at the end all notes off clears every key.
TEST_F(Frame, KeysAndMidiNotesPlayThroughTheListenerTheRingAndTheStrip)
{
    attachView();
    std::thread([this] {
        const uint8_t on120[4] = {0x91, 120, 1, 0}; // no drawn key, still recorded
        for (int i = 0; i < 10000; ++i)
            host->keyboard.showNote(64, i % 2 == 0); // ends released
        host->keyboard.showNote(62, true);
        host->onMidiData(on120);
    }).join();
    MSG msg;
    int posted = 0;
    for (; PeekMessageW(&msg, host->keyboard.hwnd, PomaroApp::WM_KEYBOARD_SHOWNOTE,
                        PomaroApp::WM_KEYBOARD_SHOWNOTE, PM_REMOVE);
         ++posted)
        DispatchMessageW(&msg);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(std::vector<int>(
                  {host->keyboard.keyShown[62], host->keyboard.keyShown[64], host->keyboard.keyShown[120]}),
              std::vector<int>({1, 0, 1}));
    host->received.clear();

    host->pluginReady = true; // as after the loader attached the editor
    PomaroApp::initMidiRing(host->midiRing);
    post(WM_KEYDOWN, 'C', 0x00000001);
    post(WM_KEYDOWN, 'C', 0x40000001); // held: no second note
    post(WM_KEYDOWN, VK_PRIOR, 0x00000001);
    post(WM_KEYDOWN, VK_PRIOR, 0x40000001); // held octave keys keep stepping
    post(WM_KEYUP, 'C', static_cast<LPARAM>(0xC0000001u));
    PostQuitMessage(0);
    host->runMessageLoop();
    EXPECT_EQ(host->received, (std::vector<MidiBytes>{{0x90, 60, 100, 0}, {0x80, 60, 0, 0}}));
    EXPECT_EQ(host->keyboard.octave, 7);
    EXPECT_EQ(host->midiRing.count(), 2); // what the audio thread will find
    const uint8_t allNotesOff[4] = {0xB0, 123, 0, 0};
    host->onMidiData(allNotesOff);
    PostQuitMessage(0);
    host->runMessageLoop();
    for (int n = 0; n < 128; ++n)
        ASSERT_EQ(host->keyboard.keyShown[n], 0) << n;
}

// The strip's Direct2D resources: made at its first paint, the two images each from its
// own resource, made again in one go after they were given up (as after a lost device),
// and gone with the frame, after which a note has nowhere to be posted.
TEST_F(Frame, TheStripsDeviceResourcesAreMadeAtPaintRemadeAndGoWithTheFrame)
{
    PomaroApp::CKeyboardWindow& k = host->keyboard;
    ASSERT_EQ(k.create(host->hwndFrame), S_OK);
    SetWindowPos(host->hwndFrame, nullptr, 0, 0, 700, 300, SWP_NOZORDER | SWP_NOMOVE);
    ShowWindow(host->hwndFrame, SW_SHOWNOACTIVATE);
    UpdateWindow(host->hwndFrame);
    ASSERT_TRUE(k.renderTarget && k.offscreenBitmap && k.keysBitmap && k.labelsBitmap);
    RECT client{};
    GetClientRect(k.hwnd, &client);
    const D2D1_SIZE_U sizes[] = {k.keysBitmap->GetPixelSize(), k.labelsBitmap->GetPixelSize(),
                                 k.offscreenBitmap->GetPixelSize()};
    EXPECT_EQ(std::vector<UINT32>({sizes[0].width, sizes[0].height, sizes[1].width, sizes[1].height,
                                   sizes[2].width, sizes[2].height}),
              std::vector<UINT32>({142, 390, 251, 30, UINT32(client.right), UINT32(client.bottom)}));
    k.releaseDeviceResources();
    EXPECT_FALSE(k.renderTarget || k.offscreenBitmap || k.keysBitmap || k.labelsBitmap);
    EXPECT_EQ(k.createDeviceResources(k.hwnd), S_OK);
    EXPECT_TRUE(k.renderTarget && k.offscreenBitmap && k.keysBitmap && k.labelsBitmap);
    ID2D1Bitmap* out = nullptr;
    EXPECT_EQ(k.loadPngResource(IDR_PNG_KEYS, nullptr), E_POINTER);
    EXPECT_TRUE(FAILED(k.loadPngResource(999, &out)));
    EXPECT_EQ(out, nullptr);

    HWND strip = k.hwnd;
    DestroyWindow(host->hwndFrame);
    host->hwndFrame = nullptr;
    EXPECT_FALSE(IsWindow(strip));
    EXPECT_FALSE(k.hwnd || k.renderTarget || k.offscreenBitmap || k.labelsBitmap);
    drainThreadQueue();
    k.showNote(60, true);
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, PomaroApp::WM_KEYBOARD_SHOWNOTE, PomaroApp::WM_KEYBOARD_SHOWNOTE,
                              PM_REMOVE));
}

TEST_F(Frame, ResizeViewGivesTheEditorItsOwnSizeAboveTheCentredStrip)
{
    ViewRect size(0, 0, 400, 200);
    EXPECT_EQ(host->resizeView(nullptr, &size), kInvalidArgument);
    EXPECT_EQ(host->resizeView(&view, nullptr), kInvalidArgument);
    EXPECT_EQ(host->resizeView(&view, &size), kResultFalse); // not the host's view
    RecordingHost frameless;
    frameless.pView = &view;
    EXPECT_EQ(frameless.resizeView(&view, &size), kResultFalse);
    frameless.pView = nullptr;
    attachView();
    ASSERT_EQ(host->resizeView(&view, &size), kResultOk);
    RECT client{};
    GetClientRect(host->hwndFrame, &client);
    EXPECT_EQ(std::vector<LONG>({client.right, client.bottom}), std::vector<LONG>({400, 230}));
    // The view hears of its size through the editor window, not from resizeView.
    EXPECT_EQ(std::vector<int>({view.getRect().getWidth(), view.getRect().getHeight()}),
              std::vector<int>({400, 200}));
    const RECT strip = rectIn(host->hwndFrame, host->keyboard.hwnd); // cut on both sides
    EXPECT_EQ(std::vector<LONG>({strip.left, strip.top, strip.right, strip.bottom}),
              std::vector<LONG>({(400 - 591) / 2, 200, (400 - 591) / 2 + 591, 230}));

    // The same size again leaves the frame alone.
    hostProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host->hwndFrame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProc)));
    positionChanges = 0;
    EXPECT_EQ(host->resizeView(&view, &size), kResultOk);
    EXPECT_EQ(positionChanges, 0);
    ViewRect larger(0, 0, 500, 250);
    EXPECT_EQ(host->resizeView(&view, &larger), kResultOk);
    EXPECT_GT(positionChanges, 0);
    SetWindowLongPtrW(host->hwndFrame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hostProc));

    // Minimising does not resize the editor; restoring does.
    const int before = view.sizeCalls;
    SendMessageW(host->hwndFrame, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    EXPECT_EQ(view.sizeCalls, before);
    SendMessageW(host->hwndFrame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 130));
    EXPECT_EQ(std::vector<int>({view.getRect().getWidth(), view.getRect().getHeight()}),
              std::vector<int>({300, 100}));
}

TEST_F(Frame, SizingDragIsFittedToWhatTheViewAccepts)
{
    const RECT asDragged{100, 100, 100 + ncWidth + 50, 100 + ncHeight + 30 + 20};
    const struct
    {
        bool view, constrain;
        RECT drag, fitted;
    } cases[] = {
        {false, true, asDragged, asDragged}, // without a view the drag stays as the user made it
        {true, true, asDragged, {100, 100, 100 + 200 + ncWidth, 100 + 100 + ncHeight + 30}},
        {true, true, {0, 0, ncWidth + 2000, ncHeight + 30 + 300}, {0, 0, 800 + ncWidth, 300 + ncHeight + 30}},
        {true, false, asDragged, asDragged}, // a view that does not answer kResultTrue changes nothing
    };
    for (const auto& c : cases) {
        host->pView = c.view ? &view : nullptr;
        view.constrain = c.constrain;
        RECT drag = c.drag;
        EXPECT_EQ(SendMessageW(host->hwndFrame, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag)),
                  TRUE);
        EXPECT_TRUE(EqualRect(&drag, &c.fitted))
            << drag.left << " " << drag.top << " " << drag.right << " " << drag.bottom;
    }
}

TEST_F(Frame, DriverResetRequestIsPostedAndRunOnTheFrameThread)
{
    static DWORD deletedOn; // outlives the test body: the host may delete the device in TearDown
    deletedOn = 0;
    auto* running = new CountingDevice(*host);
    running->deletedOn = &deletedOn;
    host->pDevice = running;
    // Three requests from a driver's thread: nothing happens there, one message waits.
    std::thread driver([this] {
        for (int i = 0; i < 3; ++i)
            host->onResetRequest();
    });
    driver.join();
    EXPECT_EQ(deletedOn, 0u);
    EXPECT_EQ(host->pDevice, running);
    EXPECT_EQ(host->pWasapiList, nullptr);
    MSG msg, second;
    ASSERT_TRUE(PeekMessageW(&msg, host->hwndFrame, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&second, host->hwndFrame, WM_USER, WM_USER, PM_NOREMOVE))
        << "one message per restart";
    // Dispatched here, it closes the running device here and looks for one again.
    DispatchMessageW(&msg);
    EXPECT_EQ(deletedOn, GetCurrentThreadId());
    EXPECT_NE(host->pWasapiList, nullptr);
    EXPECT_NE(host->pAsioList, nullptr);
}
