// The audio driver settings dialog on its real resource, driven through the messages its
// controls send when used, with fake device lists in the host. Switching drivers in the
// running program runs end to end (the dialog_switch row of tests/e2e/test_fault_matrix.py).
#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/WasapiAudioDeviceList.h"
#include "res/resource.h"
#include "tests/app/TestHost.h"
#include "tests/diag/DiagTestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace Kelvane;

namespace {

struct Shape
{
    std::wstring name;
    int32_t minFrames, maxFrames, granularity;
    bool panel = false, rangeKnown = true;
};

int g_calls = 0; // devices created and control panels shown

class FakeDevice final : public PomaroTest::StubDevice
{
public:
    FakeDevice(const Shape& shape, Kelvane::DriverType type, int32_t index)
        : shape(shape), type(type), index(index)
    {}
    int32_t getIndex() override { return index; }
    const wchar_t* getName() override { return shape.name.c_str(); }
    Kelvane::DriverType getDriverType() override { return type; }
    bool getBufferSizeRange(SampleRate, int32_t* lo, int32_t* hi, int32_t*, int32_t* step) override
    {
        if (shape.rangeKnown)
            *lo = shape.minFrames, *hi = shape.maxFrames, *step = shape.granularity;
        return shape.rangeKnown;
    }
    bool hasControlPanel() override { return shape.panel; }
    bool showControlPanel() override { return ++g_calls; }

    const Shape shape;
    const Kelvane::DriverType type;
    const int32_t index;
};

// Stands in for one driver family's list (the host holds the families by their own types).
template <class Family, Kelvane::DriverType Type> struct FakeList final : Family
{
    explicit FakeList(std::vector<Shape> list) : shapes(std::move(list)) {}
    int32_t getCount() override { return int32_t(shapes.size()); }
    const wchar_t* getName(int32_t i) override
    {
        return size_t(i) < shapes.size() ? shapes[i].name.c_str() : nullptr;
    }
    CAudioDevice* createDevice(int32_t i) override
    {
        return ++g_calls, getName(i) ? new FakeDevice(shapes[i], Type, i) : nullptr;
    }
    std::vector<Shape> shapes;
};

PomaroApp::CHost* host = nullptr;
HWND dialog = nullptr;

// The dialog as the menu handler opens it, on a device in use (type 0: none), but modeless so the test
// can look on.
void open(int32_t type = 0, int32_t index = 0, int32_t blockSize = 256)
{
    DestroyWindow(dialog);
    host->closeAudioDevice();
    if (type)
        host->pDevice = type == DriverAsio ? host->pAsioList->createDevice(index)
                                           : host->pWasapiList->createDevice(index);
    host->blockSize = blockSize;
    host->settingsDialog.host = host;
    dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_AUDIODRIVER), nullptr,
                                PomaroApp::CAudioDriverDialog::DialogProc,
                                reinterpret_cast<LPARAM>(&host->settingsDialog));
    ASSERT_NE(dialog, nullptr);
    g_calls = 0;
}

HWND item(int id) { return GetDlgItem(dialog, id); }
LRESULT send(int id, UINT m, WPARAM w = 0, LPARAM l = 0) { return SendMessageW(item(id), m, w, l); }
void click(int id) { send(id, BM_CLICK); }
void press(int id, UINT vk) { send(id, WM_KEYDOWN, vk, 1), send(id, WM_KEYUP, vk, 0xC0000001); }
bool checked(int id) { return send(id, BM_GETCHECK) == BST_CHECKED; }
bool enabled(int id) { return IsWindowEnabled(item(id)) != FALSE; }
std::wstring text(int id)
{
    wchar_t text[512]{};
    GetWindowTextW(item(id), text, 512);
    return text;
}
// The checked type (W, A or -), the list's selection, the size shown, the trackbar's position and last
// position, and 1 or 0 for OK, Apply and the control panel button enabled.
std::wstring glance()
{
    wchar_t s[128];
    std::swprintf(
        s, 128, L"%lc %d %ls @%d/%d %d%d%d", L"-WA"[checked(IDC_RADIO_WASAPI) + 2 * checked(IDC_RADIO_ASIO)],
        int(send(IDC_DRIVER_COMBO, CB_GETCURSEL)), text(IDC_BUFFER_SIZE_TEXT).c_str(),
        int(send(IDC_BUFFER_SIZE_TRACKBAR, TBM_GETPOS)), int(send(IDC_BUFFER_SIZE_TRACKBAR, TBM_GETRANGEMAX)),
        enabled(IDOK), enabled(IDC_APPLY), enabled(IDC_CONTROL_PANEL));
    return s;
}
// What the trackbar reports while its thumb is dragged: the new position, in 16 bits.
void track(int to, UINT request = TB_THUMBTRACK)
{
    send(IDC_BUFFER_SIZE_TRACKBAR, TBM_SETPOS, TRUE, to);
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(request, WORD(to)), LPARAM(item(IDC_BUFFER_SIZE_TRACKBAR)));
}

} // namespace

TEST(DriverDialog, ShowsTheDeviceInUseOnlyADragPicksASizeAndItIsAppliedOnlyForItsDevice)
{
    g_hInstance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    BoxRecorder boxes;
    host = new PomaroApp::CHost();
    host->pWasapiList =
        new FakeList<CWasapiAudioDeviceList, DriverWasapi>({{L"Speakers", 64, 1024, 32},
                                                            {L"Headphones", 64, 576, 0},
                                                            {L"Mute", 64, 1024, 32, false, false},
                                                            {L"Fine", 16, 100016, 1}});
    host->pAsioList = new FakeList<CAsioAudioDeviceList, DriverAsio>({{L"Test ASIO", 64, 1024, -1, true}});

    open();
    EXPECT_EQ(glance(), L"- -1 0 @0/100 000");
    open(DriverWasapi, 2, 300); // its range unknown: the trackbar stays as it was
    EXPECT_EQ(glance(), L"W 2 300 @0/100 000");

    open(DriverAsio, 0);
    click(IDC_CONTROL_PANEL);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(glance(), L"A 0 256 @2/4 001"); // opening the panel is no change of the choice

    open(DriverWasapi, 3, 480);                // more positions than a scroll message's 16 bits hold
    click(IDC_RADIO_WASAPI);                   // the type already listed: nothing changes
    press(IDC_BUFFER_SIZE_TRACKBAR, VK_RIGHT); // keys and clicks on the channel move the thumb alone
    EXPECT_EQ(glance(), L"W 3 480 @465/100000 000");
    track(70000);
    EXPECT_EQ(glance(), L"W 3 70016 @70000/100000 110");
    // The other type's list starts on its first entry; back on this type, on the device in use.
    click(IDC_RADIO_ASIO);
    EXPECT_EQ(glance(), L"A 0 70016 @70000/100000 110");
    click(IDC_RADIO_WASAPI);
    EXPECT_EQ(glance(), L"W 3 70016 @70000/100000 110");
    EXPECT_EQ(host->requestedBufferSize, 0); // nothing is taken before OK or Apply

    // Without a device the choice is applied, but not a size from a trackbar that stood for none.
    open();
    track(1);
    click(IDC_RADIO_ASIO);
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 0);
    EXPECT_EQ(text(IDC_CURRENT_DRIVER), L"ASIOドライバ：Test ASIO");

    open(DriverWasapi, 0);
    track(14, TB_THUMBPOSITION);
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 512);
    click(IDC_RADIO_ASIO);
    click(IDC_RADIO_WASAPI);
    click(IDC_APPLY); // without a drag the size stays
    EXPECT_EQ(host->requestedBufferSize, 512);

    track(10);
    press(IDC_DRIVER_COMBO, VK_DOWN);
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 0); // the other device starts from its own preferred size
    EXPECT_EQ(text(IDC_CURRENT_DRIVER), L"Windowsドライバ：Headphones");

    g_calls = 0;
    track(5);
    click(IDC_RADIO_ASIO);
    send(IDC_DRIVER_COMBO, CB_SETCURSEL, WPARAM(-1));
    click(IDC_APPLY); // nothing selected: only refreshes the dialog
    EXPECT_TRUE(checked(IDC_RADIO_WASAPI));
    track(5);
    click(IDC_RADIO_ASIO);
    click(IDCANCEL);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(host->requestedBufferSize, 0);
    DestroyWindow(dialog);
    host->release();
}
