// The keyboard window inside a real host: creation, device resources, the notes the
// mouse plays, the keys the host reports back, and the end of the window.

#include "res/resource.h"
#include "tests/app/TestHost.h"

#include <d2d1.h>
#include <gtest/gtest.h>

#include <functional>
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

LPARAM point(int x, int y) { return MAKELPARAM(x, y); }

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
        if (host)
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

    std::vector<uint32_t> ringMessages()
    {
        std::vector<uint32_t> out;
        for (uint32_t m = 0; host->midiRing.pop(m);)
            out.push_back(m);
        return out;
    }

    PomaroTest::RecordingHost* host = nullptr;
};

// Notes can arrive from the MIDI ports before the loader makes the window.
TEST_F(KeyboardStrip, NotesBeforeTheWindowAreRecordedButNotPosted)
{
    host->keyboard.showNote(60, true);
    host->keyboard.showNote(128, true);
    host->keyboard.showNote(-1, true);
    EXPECT_EQ(host->keyboard.keyShown[60], 1);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_RELEASEALL, PM_REMOVE));
}

TEST_F(KeyboardStrip, CreateMakesFactoriesAndAChildStrip)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    EXPECT_NE(host->keyboard.d2dFactory, nullptr);
    EXPECT_NE(host->keyboard.wicFactory, nullptr);
    EXPECT_EQ(GetParent(strip), host->hwndFrame);
    wchar_t cls[32]{};
    GetClassNameW(strip, cls, 32);
    EXPECT_STREQ(cls, L"KeyboardWindow");
    RECT client{};
    GetClientRect(strip, &client);
    EXPECT_EQ(client.right, 591);
    EXPECT_EQ(client.bottom, 30);
    const LONG_PTR style = GetWindowLongPtrW(strip, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS);
    // A second call keeps the window it has.
    EXPECT_EQ(host->keyboard.create(host->hwndFrame), S_OK);
    EXPECT_EQ(host->keyboard.hwnd, strip);
}

TEST_F(KeyboardStrip, FirstPaintBuildsTheDeviceResources)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    InvalidateRect(strip, nullptr, FALSE);
    UpdateWindow(strip);
    PomaroApp::CKeyboardWindow& k = host->keyboard;
    ASSERT_NE(k.renderTarget, nullptr);
    ASSERT_NE(k.offscreenTarget, nullptr);
    ASSERT_NE(k.offscreenBitmap, nullptr);
    ASSERT_NE(k.keysBitmap, nullptr);
    ASSERT_NE(k.labelsBitmap, nullptr);
    const D2D1_SIZE_U keys = k.keysBitmap->GetPixelSize();
    EXPECT_EQ(keys.width, 142u);
    EXPECT_EQ(keys.height, 390u);
    const D2D1_SIZE_U labels = k.labelsBitmap->GetPixelSize();
    EXPECT_EQ(labels.width, 251u);
    EXPECT_EQ(labels.height, 30u);
    const D2D1_SIZE_U picture = k.offscreenBitmap->GetPixelSize();
    EXPECT_EQ(picture.width, 591u);
    EXPECT_EQ(picture.height, 30u);
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

TEST_F(KeyboardStrip, ClickPlaysDragSlidesReleaseStops)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    SendMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, point(282, 25)); // C, note 60
    EXPECT_EQ(GetCapture(), strip);
    EXPECT_TRUE(host->keyboard.mouseDown);
    SendMessageW(strip, WM_MOUSEMOVE, MK_LBUTTON, point(285, 22)); // still C
    SendMessageW(strip, WM_MOUSEMOVE, MK_LBUTTON, point(292, 25)); // D
    SendMessageW(strip, WM_LBUTTONUP, 0, point(292, 25));
    EXPECT_NE(GetCapture(), strip);
    EXPECT_FALSE(host->keyboard.mouseDown);
    EXPECT_EQ(host->keyboard.mouseNote, -1);
    const std::vector<PomaroTest::MidiBytes> expected{
        {0x90, 60, 100, 0}, {0x90, 62, 100, 0}, {0x80, 60, 0, 0}, {0x80, 62, 0, 0}};
    EXPECT_EQ(host->received, expected);
    // The same notes reached the audio thread's ring, status in the low byte.
    EXPECT_EQ(ringMessages(), (std::vector<uint32_t>{0x643C90, 0x643E90, 0x3C80, 0x3E80}));
    // The host reported them back: both keys were shown and are up again.
    pump();
    EXPECT_EQ(host->keyboard.keyShown[60], 0);
    EXPECT_EQ(host->keyboard.keyShown[62], 0);
}

TEST_F(KeyboardStrip, ShownKeysAreMarkedAndControlChange123ReleasesThemAll)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    UpdateWindow(strip);
    const uint8_t on60[4] = {0x90, 60, 90, 0}, on64[4] = {0x91, 64, 1, 0}, on120[4] = {0x90, 120, 1, 0};
    host->onMidiData(on60);
    host->onMidiData(on64);
    host->onMidiData(on120); // no drawn key, still recorded
    pump();
    EXPECT_EQ(host->keyboard.keyShown[60], 1);
    EXPECT_EQ(host->keyboard.keyShown[64], 1);
    EXPECT_EQ(host->keyboard.keyShown[120], 1);
    const uint8_t off64[4] = {0x80, 64, 0, 0};
    host->onMidiData(off64);
    pump();
    EXPECT_EQ(host->keyboard.keyShown[60], 1); // releasing one leaves the other pressed
    EXPECT_EQ(host->keyboard.keyShown[64], 0);
    const uint8_t allNotesOff[4] = {0xB0, 123, 0, 0};
    host->onMidiData(allNotesOff);
    pump();
    for (int n = 0; n < 128; ++n)
        ASSERT_EQ(host->keyboard.keyShown[n], 0) << n;
}

// What the screen shows of the strip at column x, on row 27: white keys only, below
// their labels. Note 60 is the C at x 281 to 289, note 64 the E at x 301 to 309.
COLORREF shownColour(HWND strip, int x)
{
    HDC dc = GetDC(strip);
    const COLORREF c = GetPixel(dc, x, 27);
    ReleaseDC(strip, dc);
    return c;
}
constexpr int kNote60 = 285, kNote64 = 305;

bool pumpUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 400 && !done(); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        pump();
    }
    return done();
}

const COLORREF kPressed = RGB(0xFF, 0x64, 0x64), kReleased = RGB(0xFF, 0xFF, 0xFF);

// A MIDI port's callback thread floods the strip: one posted message stands for all
// the changes until the next frame, which shows every key's latest state; a change
// after that frame posts again.
TEST_F(KeyboardStrip, AFloodFromAnotherThreadIsShownInFramesOfTheLatestState)
{
    HWND strip = createStrip();
    ASSERT_NE(strip, nullptr);
    UpdateWindow(strip);
    pump();
    ASSERT_EQ(shownColour(strip, kNote60), kReleased);
    std::thread port([this] {
        for (int i = 0; i < 10000; ++i)
            host->keyboard.showNote(60, i % 2 == 0); // ends released
        host->keyboard.showNote(64, true);           // stays down
        host->keyboard.showNote(200, true);
    });
    port.join();
    MSG msg;
    int posted = 0;
    while (PeekMessageW(&msg, strip, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_SHOWNOTE, PM_REMOVE)) {
        ++posted;
        DispatchMessageW(&msg);
    }
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(pumpUntil([&] { return shownColour(strip, kNote64) == kPressed; }));
    EXPECT_EQ(shownColour(strip, kNote60), kReleased);

    std::thread([this] { host->keyboard.showNote(64, false); }).join();
    EXPECT_TRUE(pumpUntil([&] { return shownColour(strip, kNote64) == kReleased; }));
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
    EXPECT_EQ(host->keyboard.hwnd, nullptr);
    EXPECT_EQ(host->keyboard.renderTarget, nullptr);
    EXPECT_EQ(host->keyboard.offscreenBitmap, nullptr);
    EXPECT_EQ(host->keyboard.labelsBitmap, nullptr);
    pump();
    host->keyboard.showNote(60, true); // nothing to post to, nothing breaks
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_KEYBOARD_SHOWNOTE, WM_KEYBOARD_SHOWNOTE, PM_REMOVE))
        << msg.hwnd << " " << msg.wParam << " " << msg.lParam;
    host->keyboard.destroy();
    EXPECT_EQ(host->keyboard.d2dFactory, nullptr);
    EXPECT_EQ(host->keyboard.wicFactory, nullptr);
}

} // namespace
