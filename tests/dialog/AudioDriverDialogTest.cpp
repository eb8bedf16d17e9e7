// The audio driver settings dialog on its real resource, driven through the messages its
// controls send when used (clicks, a drag of the trackbar's thumb, keys), with fake device
// lists in the host.
#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/WasapiAudioDeviceList.h"
#include "res/resource.h"
#include "tests/diag/DiagTestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace Kelvane;
using PomaroApp::CHost;
using Events = std::vector<std::wstring>;

namespace {

struct Shape
{
    std::wstring name;
    int32_t minFrames, maxFrames, granularity; // the preferred size is the minimum
    bool panel = false, rangeKnown = true;
};

// What was asked of the fakes: "create <type>:<index>", "delete <name>", "prepare <name>
// <frames>", "panel <name>". Global, so it outlives the devices the host deletes.
Events g_events;
bool happened(const std::wstring& event) { return std::count(g_events.begin(), g_events.end(), event) > 0; }

class FakeDevice final : public CAudioDevice
{
public:
    FakeDevice(Kelvane::DriverType type, int32_t index, const Shape& shape)
        : type(type), index(index), shape(shape)
    {}
    ~FakeDevice() override { g_events.push_back(L"delete " + shape.name); }
    int32_t getIndex() override { return index; }
    const wchar_t* getName() override { return shape.name.c_str(); }
    bool isInterleaved() override { return true; }
    Kelvane::DriverType getDriverType() override { return type; }
    SampleFormat getSampleFormat() override { return SampleFormatFloat32; }
    SampleRate getSampleRate() override { return Rate48000; }
    int32_t getSupportedSampleRates() override { return Rate48000; }
    bool getBufferSizeRange(SampleRate, int32_t* lo, int32_t* hi, int32_t* preferred, int32_t* step) override
    {
        const int32_t values[] = {shape.minFrames, shape.maxFrames, shape.minFrames, shape.granularity};
        int32_t* outs[] = {lo, hi, preferred, step};
        for (int i = 0; i < 4 && shape.rangeKnown; ++i)
            if (outs[i])
                *outs[i] = values[i];
        return shape.rangeKnown;
    }
    bool open(HWND) override { return true; }
    bool close() override { return true; }
    bool prepare(SampleRate, int32_t frames, IDataProvider*) override
    {
        return g_events.push_back(L"prepare " + shape.name + L" " + std::to_wstring(frames)), true;
    }
    bool unprepare() override { return true; }
    bool start() override { return true; }
    bool stop() override { return true; }
    bool hasControlPanel() override { return shape.panel; }
    bool showControlPanel() override { return g_events.push_back(L"panel " + shape.name), true; }

private:
    Kelvane::DriverType type;
    int32_t index;
    Shape shape;
};

// Stands in for one driver family's list (the host holds the families by their own types).
template <class Family, Kelvane::DriverType Type> class FakeList final : public Family
{
public:
    explicit FakeList(std::vector<Shape> shapes) : shapes(std::move(shapes)) {}
    int32_t getCount() override { return static_cast<int32_t>(shapes.size()); }
    bool has(int32_t i) { return i >= 0 && i < getCount(); }
    const wchar_t* getName(int32_t i) override { return has(i) ? shapes[i].name.c_str() : nullptr; }
    CAudioDevice* createDevice(int32_t i) override
    {
        g_events.push_back(L"create " + std::to_wstring(Type) + L":" + std::to_wstring(i));
        return has(i) ? new FakeDevice(Type, i, shapes[i]) : nullptr;
    }

private:
    std::vector<Shape> shapes;
};

class DriverDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(nullptr);
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&icc));
        host = new CHost();
        host->pWasapiList =
            new FakeList<CWasapiAudioDeviceList, DriverWasapi>({{L"Speakers", 64, 1024, 32},
                                                                {L"Headphones", 64, 576, 0},
                                                                {L"Mute", 64, 1024, 32, false, false},
                                                                {L"Fine", 16, 100016, 1}});
        host->pAsioList = new FakeList<CAsioAudioDeviceList, DriverAsio>(
            {{L"Test ASIO", 64, 1024, -1, true}, {L"Second ASIO", 128, 2048, -8}});
        g_events.clear();
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        host->release();
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
        }
    }

    // The dialog as the menu handler opens it, on a device in use (type 0: none), but
    // modeless so the test can look on.
    void open(int32_t type = 0, int32_t index = 0, int32_t blockSize = 256)
    {
        DestroyWindow(dialog);
        host->closeAudioDevice();
        if (type == DriverWasapi || type == DriverAsio)
            host->pDevice = type == DriverAsio ? host->pAsioList->createDevice(index)
                                               : host->pWasapiList->createDevice(index);
        host->blockSize = blockSize;
        host->settingsDialog.host = host;
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_AUDIODRIVER), nullptr,
                                    PomaroApp::CAudioDriverDialog::DialogProc,
                                    reinterpret_cast<LPARAM>(&host->settingsDialog));
        ASSERT_NE(dialog, nullptr);
        g_events.clear();
        log.newLines();
    }

    HWND item(int id) { return GetDlgItem(dialog, id); }
    LRESULT send(int id, UINT message, WPARAM w = 0, LPARAM l = 0)
    {
        return SendMessageW(item(id), message, w, l);
    }
    void click(int id) { send(id, BM_CLICK); }
    void press(int id, UINT vk) { send(id, WM_KEYDOWN, vk, 1), send(id, WM_KEYUP, vk, 0xC0000001); }
    bool checked(int id) { return send(id, BM_GETCHECK) == BST_CHECKED; }
    bool enabled(int id) { return IsWindowEnabled(item(id)) != FALSE; }
    std::wstring text(int id, UINT message = WM_GETTEXT, WPARAM w = 512)
    {
        wchar_t text[512]{};
        send(id, message, w, reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::wstring comboText(int index) { return text(IDC_DRIVER_COMBO, CB_GETLBTEXT, index); }
    int comboSelection() { return int(send(IDC_DRIVER_COMBO, CB_GETCURSEL)); }
    int position() { return int(send(IDC_BUFFER_SIZE_TRACKBAR, TBM_GETPOS)); }
    int last() { return int(send(IDC_BUFFER_SIZE_TRACKBAR, TBM_GETRANGEMAX)); }
    // Presses the thumb, moves it pixel by pixel until the trackbar shows target, lets go.
    bool dragThumbTo(int target)
    {
        HWND trackbar = item(IDC_BUFFER_SIZE_TRACKBAR);
        RECT thumb{}, client{};
        SendMessageW(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        GetClientRect(trackbar, &client);
        const int y = (thumb.top + thumb.bottom) / 2, dir = target >= position() ? 1 : -1;
        SendMessageW(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
        int x = (thumb.left + thumb.right) / 2;
        for (; position() != target && x >= 0 && x < client.right; x += dir)
            SendMessageW(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        return position() == target;
    }
    std::wstring logSince()
    {
        std::wstring text;
        for (const std::wstring& line : log.newLines())
            text += line + L"\n";
        return text;
    }

    LogCapture log;
    BoxRecorder boxes;
    CHost* host = nullptr;
    HWND dialog = nullptr;
};

} // namespace

TEST_F(DriverDialog, OpensOnTheDeviceInUseAndOnlyADragPicksASize)
{
    const struct
    {
        int32_t type, index, blockSize;
        const wchar_t* name;
        int last, position; // -1: the trackbar as the resource left it
        bool panel;
        int dragTo; // then the size shown there and at the end
        const wchar_t *dragged, *atEnd;
    } cases[] = {
        {DriverWasapi, 0, 256, L"Speakers", 30, 6, false, 12, L"448", L"1024"},
        {DriverWasapi, 1, 256, L"Headphones", 8, 3, false, 1, L"128", L"576"}, // any size: eight steps
        {DriverWasapi, 2, 300, L"Mute", -1, -1, false, -1, L"", L""},          // range unknown
        {DriverWasapi, 3, 480, L"Fine", 100000, 464, false, -1, L"", L""},     // more than 16 bits
        {DriverAsio, 0, 256, L"Test ASIO", 4, 2, true, 3, L"512", L"1024"},    // powers of two
        {DriverAsio, 1, 512, L"Second ASIO", 4, 2, false, 0, L"128", L"2048"},
        {0, 0, 256, nullptr, -1, -1, false, -1, L"", L""},
    };
    open();
    const int untouched = last();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type * 10 + c.index);
        open(c.type, c.index, c.blockSize);
        EXPECT_EQ(checked(IDC_RADIO_WASAPI), c.type == DriverWasapi);
        EXPECT_EQ(checked(IDC_RADIO_ASIO), c.type == DriverAsio);
        EXPECT_EQ(comboSelection(), c.type ? c.index : -1);
        EXPECT_EQ(text(IDC_CURRENT_DRIVER), !c.name ? L"（なし）"
                                            : c.type == DriverAsio
                                                ? L"ASIOドライバ：" + std::wstring(c.name)
                                                : L"Windowsドライバ：" + std::wstring(c.name));
        EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), std::to_wstring(c.type ? c.blockSize : 0));
        EXPECT_EQ(last(), c.last < 0 ? untouched : c.last);
        EXPECT_EQ(send(IDC_BUFFER_SIZE_TRACKBAR, TBM_GETRANGEMIN), 0);
        if (c.position >= 0)
            EXPECT_EQ(position(), c.position);
        else
            EXPECT_EQ(host->settingsDialog.granularity, 1);
        EXPECT_EQ(enabled(IDC_CONTROL_PANEL), c.panel);
        EXPECT_FALSE(enabled(IDOK) || enabled(IDC_APPLY));
        // Keys and clicks on the channel move the thumb, but pick no size.
        const int before = position();
        press(IDC_BUFFER_SIZE_TRACKBAR, VK_RIGHT);
        EXPECT_EQ(position(), std::min(before + 1, last()));
        SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_PAGEDOWN, 0), LPARAM(item(IDC_BUFFER_SIZE_TRACKBAR)));
        EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), std::to_wstring(c.type ? c.blockSize : 0));
        EXPECT_EQ(host->settingsDialog.selectedFrames, 0);
        EXPECT_FALSE(enabled(IDC_APPLY));
        if (c.panel) {
            click(IDC_CONTROL_PANEL);
            EXPECT_EQ(g_events, Events{L"panel Test ASIO"});
            EXPECT_FALSE(enabled(IDC_APPLY)); // opening the panel is no change of the choice
        }
        if (c.dragTo < 0)
            continue;
        ASSERT_TRUE(dragThumbTo(c.dragTo));
        EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), c.dragged);
        EXPECT_EQ(std::to_wstring(host->settingsDialog.selectedFrames), c.dragged);
        EXPECT_TRUE(enabled(IDOK) && enabled(IDC_APPLY));
        ASSERT_TRUE(dragThumbTo(last()));
        EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), c.atEnd);
        EXPECT_EQ(host->requestedBufferSize, 0); // nothing is taken before OK or Apply
    }
    // A drag reported by another control is not the buffer size's.
    EXPECT_EQ(SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 3), LPARAM(item(IDC_DRIVER_COMBO))),
              FALSE);
    // The message's 16 bits hold 70000 - 65536; the size comes from the thumb itself.
    open(DriverWasapi, 3, 480);
    send(IDC_BUFFER_SIZE_TRACKBAR, TBM_SETPOS, TRUE, 70000);
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, WORD(70000 & 0xFFFF)),
                 LPARAM(item(IDC_BUFFER_SIZE_TRACKBAR)));
    EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), L"70016");
}

TEST_F(DriverDialog, WithoutDeviceAChoiceIsStillAppliedButNoSize)
{
    open();
    EXPECT_EQ(send(IDC_DRIVER_COMBO, CB_GETCOUNT), 0);
    dragThumbTo(last()); // on a trackbar that stands for no device
    click(IDC_RADIO_ASIO);
    EXPECT_EQ(send(IDC_DRIVER_COMBO, CB_GETCOUNT), 2);
    EXPECT_EQ(comboSelection(), 0);
    ASSERT_TRUE(enabled(IDC_APPLY));
    click(IDC_APPLY);
    const std::wstring log = logSince();
    EXPECT_NE(log.find(L"オーディオドライバを変更します。"), std::wstring::npos) << log;
    EXPECT_NE(log.find(L"--------"), std::wstring::npos) << log;
    EXPECT_NE(log.find(L"オーディオドライバをロードします : Test ASIO"), std::wstring::npos) << log;
    EXPECT_EQ(host->requestedBufferSize, 0);
    EXPECT_TRUE(happened(L"create 2:0"));
    // Refreshed on the new device.
    EXPECT_EQ(text(IDC_CURRENT_DRIVER), L"ASIOドライバ：Test ASIO");
    EXPECT_FALSE(enabled(IDC_APPLY));
}

TEST_F(DriverDialog, RadioButtonsListTheOtherTypeOnlyOnce)
{
    open(DriverWasapi, 1);
    click(IDC_RADIO_WASAPI); // already listed: nothing at all
    EXPECT_FALSE(enabled(IDC_APPLY));
    EXPECT_EQ(comboSelection(), 1);
    click(IDC_RADIO_ASIO);
    EXPECT_TRUE(checked(IDC_RADIO_ASIO) && !checked(IDC_RADIO_WASAPI));
    EXPECT_EQ(comboText(0), L"Test ASIO");
    EXPECT_EQ(comboSelection(), 0); // the device in use is not of this type
    EXPECT_TRUE(enabled(IDOK) && enabled(IDC_APPLY));
    click(IDC_RADIO_WASAPI);
    EXPECT_EQ(comboText(0), L"Speakers");
    EXPECT_EQ(comboSelection(), 1); // back on the type in use: its device is selected
}

TEST_F(DriverDialog, ASizeIsKeptForItsDeviceAndDiscardedForAnother)
{
    open(DriverWasapi, 0);
    ASSERT_TRUE(dragThumbTo(14));
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 512);
    EXPECT_TRUE(happened(L"prepare Speakers 512"));
    EXPECT_EQ(host->settingsDialog.selectedFrames, 0); // refreshed after Apply

    // Applied again without a drag: the earlier size stays.
    g_events.clear();
    host->blockSize = 512;
    click(IDC_RADIO_ASIO);
    click(IDC_RADIO_WASAPI);
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 512);
    EXPECT_TRUE(happened(L"prepare Speakers 512"));

    ASSERT_TRUE(dragThumbTo(10));
    EXPECT_EQ(text(IDC_BUFFER_SIZE_TEXT), L"384");
    press(IDC_DRIVER_COMBO, VK_DOWN);
    click(IDC_APPLY);
    EXPECT_EQ(host->requestedBufferSize, 0);
    // Headphones at their own preferred size (64, raised to 10 ms at 48 kHz).
    EXPECT_TRUE(happened(L"prepare Headphones 480"));
    EXPECT_EQ(text(IDC_CURRENT_DRIVER), L"Windowsドライバ：Headphones");
}

TEST_F(DriverDialog, NothingIsAppliedWithNothingSelectedOrOnCancel)
{
    open(DriverWasapi, 0);
    ASSERT_TRUE(dragThumbTo(12));
    click(IDC_RADIO_ASIO);
    send(IDC_DRIVER_COMBO, CB_SETCURSEL, WPARAM(-1));
    host->settingsDialog.apply();
    EXPECT_TRUE(enabled(IDC_APPLY)); // not even the buttons change
    click(IDC_APPLY);                // only refreshes the dialog
    EXPECT_EQ(comboText(0), L"Speakers");

    ASSERT_TRUE(dragThumbTo(12));
    click(IDC_RADIO_ASIO);
    click(IDCANCEL);
    EXPECT_EQ(logSince(), L"");
    EXPECT_EQ(host->requestedBufferSize, 0);
    EXPECT_EQ(g_events, Events{});
}
