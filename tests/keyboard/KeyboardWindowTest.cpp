// The keyboard window inside a real host: creation, device resources, the keys the host
// reports back, a flood from another thread, and the end of the window. What the strip
// shows for the mouse, the MIDI ports and a flood is the end-to-end test's.

#include "res/resource.h"
#include "tests/app/TestHost.h"

#include <d2d1.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using PomaroApp::WM_KEYBOARD_RELEASEALL;
using PomaroApp::WM_KEYBOARD_SHOWNOTE;

namespace {

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class KeyboardStrip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        PomaroTest::useTestModule();
        pump();
        host = new PomaroTest::RecordingHost();
        PomaroApp::initMidiRing(host->midiRing);
        ASSERT_TRUE(host->createFrameWindow());
    }
    void TearDown() override
    {
        host->release();
        pump();
        CoUninitialize();
    }
    HWND createStrip()
    {
        EXPECT_EQ(host->keyboard.create(host->hwndFrame), S_OK);
        SetWindowPos(host->hwndFrame, nullptr, 0, 0, 700, 300, SWP_NOZORDER | SWP_NOMOVE);
        ShowWindow(host->hwndFrame, SW_SHOWNOACTIVATE);
        UpdateWindow(host->hwndFrame);
        return host->keyboard.hwnd;
    }
    std::vector<int> shown(std::vector<int> notes)
    {
        for (int& n : notes)
            n = host->keyboard.keyShown[n];
        return notes;
    }

    PomaroTest::RecordingHost* host = nullptr;
};

TEST_F(KeyboardStrip, CreateMakesAChildStripWhoseFirstPaintBuildsTheDeviceResources)
{
    // Notes can arrive from the MIDI ports before the loader makes the window.
    host->keyboard.showNote(60, true);
    host->keyboard.showNote(128, true);
    host->keyboard.showNote(-1, true);
    EXPECT_EQ(host->keyboard.keyShown[60], 1);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_RELEASEALL, PM_REMOVE));

    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    PomaroApp::CKeyboardWindow& k = host->keyboard;
    EXPECT_TRUE(k.d2dFactory && k.wicFactory);
    EXPECT_EQ(GetParent(strip), host->hwndFrame);
    wchar_t cls[32]{};
    GetClassNameW(strip, cls, 32);
    EXPECT_STREQ(cls, L"KeyboardWindow");
    RECT client{};
    GetClientRect(strip, &client);
    EXPECT_EQ(std::vector<LONG>({client.right, client.bottom}), std::vector<LONG>({591, 30}));
    const LONG_PTR style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    EXPECT_EQ(GetWindowLongPtrW(strip, GWL_STYLE) & style, style);
    EXPECT_EQ(k.create(host->hwndFrame), S_OK); // a second call keeps the window it has
    EXPECT_EQ(k.hwnd, strip);

    InvalidateRect(strip, nullptr, FALSE);
    UpdateWindow(strip);
    ASSERT_TRUE(k.renderTarget && k.offscreenTarget && k.offscreenBitmap && k.keysBitmap && k.labelsBitmap);
    const D2D1_SIZE_U sizes[] = {k.keysBitmap->GetPixelSize(), k.labelsBitmap->GetPixelSize(),
                                 k.offscreenBitmap->GetPixelSize()};
    EXPECT_EQ(std::vector<UINT32>({sizes[0].width, sizes[0].height, sizes[1].width, sizes[1].height,
                                   sizes[2].width, sizes[2].height}),
              std::vector<UINT32>({142, 390, 251, 30, 591, 30}));
    // Nothing left to paint, and a repaint keeps what exists.
    EXPECT_FALSE(GetUpdateRect(strip, nullptr, FALSE));
    ID2D1Bitmap* before = k.offscreenBitmap;
    InvalidateRect(strip, nullptr, FALSE);
    UpdateWindow(strip);
    EXPECT_EQ(k.offscreenBitmap, before);
    // Given up resources are made again, in one go.
    k.releaseDeviceResources();
    EXPECT_EQ(k.renderTarget, nullptr);
    EXPECT_EQ(k.createDeviceResources(strip), S_OK);
    EXPECT_NE(k.offscreenBitmap, nullptr);
    ID2D1Bitmap* out = nullptr;
    EXPECT_EQ(k.loadPngResource(IDR_PNG_KEYS, nullptr), E_POINTER);
    EXPECT_TRUE(FAILED(k.loadPngResource(999, &out)));
    EXPECT_EQ(out, nullptr);
}

TEST_F(KeyboardStrip, ShownKeysAreMarkedAndControlChange123ReleasesThemAll)
{
    ASSERT_NE(createStrip(), nullptr);
    const uint8_t on[3][4] = {{0x90, 60, 90, 0}, {0x91, 64, 1, 0}, {0x90, 120, 1, 0}};
    for (const auto& message : on)
        host->onMidiData(message); // 120: no drawn key, still recorded
    pump();
    EXPECT_EQ(shown({60, 64, 120}), std::vector<int>({1, 1, 1}));
    const uint8_t off64[4] = {0x80, 64, 0, 0};
    host->onMidiData(off64);
    pump();
    EXPECT_EQ(shown({60, 64}), std::vector<int>({1, 0})); // releasing one leaves the other pressed
    const uint8_t allNotesOff[4] = {0xB0, 123, 0, 0};
    host->onMidiData(allNotesOff);
    pump();
    for (int n = 0; n < 128; ++n)
        ASSERT_EQ(host->keyboard.keyShown[n], 0) << n;
}

// What the screen shows of the strip at column x, on row 27: white keys only, below their
// labels (note 60 at x 281 to 289, note 64 at 301 to 309).
COLORREF shownColour(HWND strip, int x)
{
    HDC dc = GetDC(strip);
    const COLORREF c = GetPixel(dc, x, 27);
    ReleaseDC(strip, dc);
    return c;
}

bool pumpUntil(HWND strip, int x, COLORREF colour)
{
    for (int i = 0; i < 400 && shownColour(strip, x) != colour; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        pump();
    }
    return shownColour(strip, x) == colour;
}

// A MIDI port's callback thread floods the strip: one posted message stands for all the
// changes until the next frame, which shows every key's latest state.
TEST_F(KeyboardStrip, AFloodFromAnotherThreadIsShownInFramesOfTheLatestState)
{
    const COLORREF pressed = RGB(0xFF, 0x64, 0x64), released = RGB(0xFF, 0xFF, 0xFF);
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    UpdateWindow(strip);
    pump();
    ASSERT_EQ(shownColour(strip, 285), released);
    std::thread([this] {
        for (int i = 0; i < 10000; ++i)
            host->keyboard.showNote(60, i % 2 == 0); // ends released
        host->keyboard.showNote(64, true);           // stays down
        host->keyboard.showNote(200, true);
    }).join();
    MSG msg;
    int posted = 0;
    for (; PeekMessageW(&msg, strip, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_SHOWNOTE, PM_REMOVE); ++posted)
        DispatchMessageW(&msg);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(pumpUntil(strip, 305, pressed));
    EXPECT_EQ(shownColour(strip, 285), released);
    std::thread([this] { host->keyboard.showNote(64, false); }).join();
    EXPECT_TRUE(pumpUntil(strip, 305, released));
}

TEST_F(KeyboardStrip, TheStripGoesWithItsParent)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    UpdateWindow(strip);
    ASSERT_NE(host->keyboard.renderTarget, nullptr);
    DestroyWindow(host->hwndFrame);
    host->hwndFrame = nullptr;
    EXPECT_FALSE(IsWindow(strip));
    EXPECT_FALSE(host->keyboard.hwnd || host->keyboard.renderTarget || host->keyboard.offscreenBitmap ||
                 host->keyboard.labelsBitmap);
    pump();
    host->keyboard.showNote(60, true); // nothing to post to, nothing breaks
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_SHOWNOTE, PM_REMOVE));
    host->keyboard.destroy();
    EXPECT_FALSE(host->keyboard.d2dFactory || host->keyboard.wicFactory);
}

} // namespace
