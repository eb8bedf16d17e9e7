// The audio driver settings dialog on its real resource, driven through the messages its
// controls send, with fake device lists in the host.

#include "DialogDriver.h"
#include "FakeAudio.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "tests/diag/DiagTestSupport.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

using namespace PomaroApp;

using namespace PomaroTest;
using PomaroApp::CAudioDriverDialog;
using PomaroApp::CHost;

namespace {

FakeDeviceSpec spec(const wchar_t* name, int32_t minFrames, int32_t maxFrames, int32_t granularity,
                    bool panel = false)
{
    FakeDeviceSpec s;
    s.name = name;
    s.minFrames = minFrames;
    s.maxFrames = maxFrames;
    s.preferredFrames = minFrames;
    s.granularity = granularity;
    s.controlPanel = panel;
    return s;
}

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
            new FakeWasapiList({spec(L"Speakers", 64, 1024, 32), spec(L"Headphones", 64, 576, 0)}, journal);
        host->pAsioList = new FakeAsioList(
            {spec(L"Test ASIO", 64, 1024, -1, true), spec(L"Second ASIO", 128, 2048, -1)}, journal);
    }

    void TearDown() override
    {
        if (dialog)
            DestroyWindow(dialog);
        host->release();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void useDevice(Kelvane::CAudioDeviceList* list, int32_t index, int32_t blockSize)
    {
        host->pDevice = list->createDevice(index);
        host->blockSize = blockSize;
        journal.clear();
    }

    // The dialog as the menu handler opens it, but modeless so the test can look on.
    void open()
    {
        host->settingsDialog.host = host;
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_AUDIODRIVER), nullptr,
                                    CAudioDriverDialog::DialogProc,
                                    reinterpret_cast<LPARAM>(&host->settingsDialog));
        ASSERT_NE(dialog, nullptr);
    }

    HWND item(int id) { return GetDlgItem(dialog, id); }
    bool checked(int id) { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool enabled(int id) { return IsWindowEnabled(item(id)) != FALSE; }
    int comboCount() { return static_cast<int>(SendMessageW(item(IDC_DRIVER_COMBO), CB_GETCOUNT, 0, 0)); }
    int comboSelection()
    {
        return static_cast<int>(SendMessageW(item(IDC_DRIVER_COMBO), CB_GETCURSEL, 0, 0));
    }
    std::wstring comboText(int index)
    {
        wchar_t text[256]{};
        SendMessageW(item(IDC_DRIVER_COMBO), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::wstring shownSize() { return windowText(item(IDC_BUFFER_SIZE_TEXT)); }
    HWND trackbar() { return item(IDC_BUFFER_SIZE_TRACKBAR); }
    // Picks another combo entry with the arrow key, as a user would.
    void selectNextDevice() { pressKey(item(IDC_DRIVER_COMBO), VK_DOWN); }

    // What the log got since the last call, one line each.
    std::wstring logSince()
    {
        std::wstring text;
        for (const std::wstring& line : log.newLines())
            text += line + L"\n";
        return text;
    }

    LogCapture log;
    BoxRecorder boxes;
    FakeJournal journal;
    CHost* host = nullptr;
    HWND dialog = nullptr;
    FakeWasapiList* wasapi() { return static_cast<FakeWasapiList*>(host->pWasapiList); }
    FakeAsioList* asio() { return static_cast<FakeAsioList*>(host->pAsioList); }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// What the dialog shows when it opens

TEST_F(DriverDialog, OpensOnTheAsioDeviceWithItsPanelButton)
{
    useDevice(asio(), 1, 512);
    open();
    EXPECT_TRUE(checked(IDC_RADIO_ASIO));
    EXPECT_FALSE(checked(IDC_RADIO_WASAPI));
    EXPECT_EQ(comboSelection(), 1);
    EXPECT_EQ(windowText(item(IDC_CURRENT_DRIVER)), L"ASIOドライバ：Second ASIO");
    EXPECT_EQ(shownSize(), L"512");
    EXPECT_FALSE(enabled(IDC_CONTROL_PANEL)); // "Second ASIO" has none

    DestroyWindow(dialog);
    host->closeAudioDevice();
    useDevice(asio(), 0, 256);
    open();
    ASSERT_TRUE(enabled(IDC_CONTROL_PANEL));
    click(item(IDC_CONTROL_PANEL));
    EXPECT_EQ(journal.events, std::vector<std::wstring>{L"panel Test ASIO"});
    EXPECT_FALSE(enabled(IDC_APPLY)); // opening the panel is no change of the choice
}

TEST_F(DriverDialog, WithoutDeviceShowsNoneAndZeroAndStillAppliesAChoice)
{
    open();
    EXPECT_FALSE(checked(IDC_RADIO_WASAPI));
    EXPECT_FALSE(checked(IDC_RADIO_ASIO));
    EXPECT_EQ(comboCount(), 0);
    EXPECT_EQ(windowText(item(IDC_CURRENT_DRIVER)), L"（なし）");
    EXPECT_EQ(shownSize(), L"0");
    EXPECT_FALSE(enabled(IDC_APPLY));

    // A size dragged on a trackbar that stands for no device is not taken.
    host->requestedBufferSize = 0;
    dragThumbPastEnd(trackbar());
    click(item(IDC_RADIO_ASIO));
    EXPECT_EQ(comboCount(), 2);
    EXPECT_EQ(comboSelection(), 0);
    ASSERT_TRUE(enabled(IDC_APPLY));
    logSince();
    click(item(IDC_APPLY));
    const std::wstring log = logSince();
    EXPECT_NE(log.find(L"オーディオドライバを変更します。"), std::wstring::npos) << log;
    EXPECT_NE(log.find(L"--------"), std::wstring::npos) << log;
    EXPECT_EQ(host->requestedBufferSize, 0);
    EXPECT_TRUE(journal.contains(L"create 2:0"));
    EXPECT_NE(log.find(L"オーディオドライバをロードします : Test ASIO"), std::wstring::npos) << log;
    // Refreshed on the new device.
    EXPECT_EQ(windowText(item(IDC_CURRENT_DRIVER)), L"ASIOドライバ：Test ASIO");
    EXPECT_FALSE(enabled(IDC_APPLY));
}

TEST_F(DriverDialog, UnknownRangeLeavesTheTrackbarAndShowsTheSizeInUse)
{
    delete host->pWasapiList;
    FakeDeviceSpec mute = spec(L"Mute", 64, 1024, 32);
    mute.rangeKnown = false;
    host->pWasapiList = new FakeWasapiList({mute}, journal);
    useDevice(wasapi(), 0, 300);
    open();
    const int defaultMax = trackbarMax(trackbar());
    EXPECT_EQ(shownSize(), L"300");
    EXPECT_EQ(windowText(item(IDC_CURRENT_DRIVER)), L"Windowsドライバ：Mute");
    EXPECT_EQ(trackbarMax(trackbar()), defaultMax);
    EXPECT_EQ(host->settingsDialog.granularity, 1);
}

// ---------------------------------------------------------------------------------------------
// The trackbar

TEST_F(DriverDialog, DraggingTheThumbShowsTheSizeAndEnablesOkAndApply)
{
    useDevice(wasapi(), 0, 256);
    open();
    // Speakers: 64..1024 in steps of 32, 256 in use.
    EXPECT_EQ(comboSelection(), 0);
    EXPECT_EQ(SendMessageW(trackbar(), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(trackbarMax(trackbar()), 30);
    EXPECT_EQ(trackbarPos(trackbar()), 6);
    ASSERT_TRUE(dragThumbTo(trackbar(), 7));
    EXPECT_EQ(shownSize(), L"288");
    EXPECT_EQ(host->settingsDialog.selectedFrames, 288);
    EXPECT_TRUE(enabled(IDOK));
    EXPECT_TRUE(enabled(IDC_APPLY));
    dragThumbPastEnd(trackbar());
    EXPECT_EQ(trackbarPos(trackbar()), 30);
    EXPECT_EQ(shownSize(), L"1024");
    EXPECT_EQ(host->requestedBufferSize, 0); // nothing is taken before OK or Apply
}

TEST_F(DriverDialog, KeysAndChannelClicksMoveTheThumbButPickNoSize)
{
    useDevice(wasapi(), 0, 256);
    open();
    pressKey(trackbar(), VK_RIGHT);
    EXPECT_EQ(trackbarPos(trackbar()), 7);
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_PAGEDOWN, 0), reinterpret_cast<LPARAM>(trackbar()));
    EXPECT_EQ(shownSize(), L"256");
    EXPECT_EQ(host->settingsDialog.selectedFrames, 0);
    EXPECT_FALSE(enabled(IDC_APPLY));
    // A drag reported by another control is not the buffer size's.
    EXPECT_EQ(SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 3),
                           reinterpret_cast<LPARAM>(item(IDC_DRIVER_COMBO))),
              FALSE);
    EXPECT_EQ(shownSize(), L"256");
}

TEST_F(DriverDialog, GranularityZeroGivesEightStepsOfAnEighth)
{
    useDevice(wasapi(), 1, 256); // Headphones: 64..576, any size
    open();
    EXPECT_EQ(host->settingsDialog.granularity, 64);
    EXPECT_EQ(trackbarMax(trackbar()), 8);
    EXPECT_EQ(trackbarPos(trackbar()), 3);
    ASSERT_TRUE(dragThumbTo(trackbar(), 1));
    EXPECT_EQ(shownSize(), L"128");
    dragThumbPastEnd(trackbar());
    EXPECT_EQ(shownSize(), L"576");
}

TEST_F(DriverDialog, TrackbarLongerThanSixteenBitsReadsItsOwnPosition)
{
    delete host->pWasapiList;
    host->pWasapiList = new FakeWasapiList({spec(L"Fine", 16, 100016, 1)}, journal);
    useDevice(wasapi(), 0, 480);
    open();
    ASSERT_EQ(trackbarMax(trackbar()), 100000);
    EXPECT_EQ(trackbarPos(trackbar()), 464);
    // The message's 16 bits hold 70000 - 65536; the size comes from the thumb itself.
    SendMessageW(trackbar(), TBM_SETPOS, TRUE, 70000);
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(70000 & 0xFFFF)),
                 reinterpret_cast<LPARAM>(trackbar()));
    EXPECT_EQ(shownSize(), L"70016");
}

// ---------------------------------------------------------------------------------------------
// Changing the choice and applying it

TEST_F(DriverDialog, RadioButtonsListTheOtherTypeOnlyOnce)
{
    useDevice(wasapi(), 1, 256);
    open();
    EXPECT_EQ(comboSelection(), 1);
    click(item(IDC_RADIO_WASAPI)); // already listed: nothing at all
    EXPECT_FALSE(enabled(IDC_APPLY));
    EXPECT_EQ(comboSelection(), 1);

    click(item(IDC_RADIO_ASIO));
    EXPECT_TRUE(checked(IDC_RADIO_ASIO));
    EXPECT_FALSE(checked(IDC_RADIO_WASAPI));
    ASSERT_EQ(comboCount(), 2);
    EXPECT_EQ(comboText(0), L"Test ASIO");
    EXPECT_EQ(comboSelection(), 0); // the device in use is not of this type
    EXPECT_TRUE(enabled(IDOK));
    EXPECT_TRUE(enabled(IDC_APPLY));

    click(item(IDC_RADIO_WASAPI));
    EXPECT_EQ(comboText(0), L"Speakers");
    EXPECT_EQ(comboSelection(), 1); // back on the type in use: its device is selected
}

TEST_F(DriverDialog, SizePickedForAnotherDeviceIsDiscarded)
{
    useDevice(wasapi(), 0, 256);
    open();
    ASSERT_TRUE(dragThumbTo(trackbar(), 10));
    EXPECT_EQ(shownSize(), L"384");
    selectNextDevice();
    click(item(IDC_APPLY));
    EXPECT_EQ(host->requestedBufferSize, 0);
    // Headphones at their own preferred size (64, raised to 10 ms at 48 kHz).
    EXPECT_TRUE(journal.contains(L"prepare Headphones 480"));
    EXPECT_EQ(windowText(item(IDC_CURRENT_DRIVER)), L"Windowsドライバ：Headphones");
}

TEST_F(DriverDialog, SizeForTheSameDeviceIsKeptUntilTheDeviceChanges)
{
    useDevice(wasapi(), 0, 256);
    open();
    ASSERT_TRUE(dragThumbTo(trackbar(), 14));
    click(item(IDC_APPLY));
    EXPECT_EQ(host->requestedBufferSize, 512);
    EXPECT_TRUE(journal.contains(L"prepare Speakers 512"));
    EXPECT_EQ(host->settingsDialog.selectedFrames, 0); // refreshed after Apply

    // Applied again without a drag: the earlier size stays.
    journal.clear();
    host->blockSize = 512;
    click(item(IDC_RADIO_ASIO));
    click(item(IDC_RADIO_WASAPI));
    click(item(IDC_APPLY));
    EXPECT_EQ(host->requestedBufferSize, 512);
    EXPECT_TRUE(journal.contains(L"prepare Speakers 512"));
}

TEST_F(DriverDialog, ApplyWithNothingSelectedDoesNothing)
{
    useDevice(wasapi(), 0, 256);
    open();
    click(item(IDC_RADIO_ASIO));
    SendMessageW(item(IDC_DRIVER_COMBO), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    logSince();
    host->settingsDialog.apply();
    EXPECT_TRUE(enabled(IDC_APPLY)); // not even the buttons change
    click(item(IDC_APPLY));          // only refreshes the dialog
    EXPECT_EQ(logSince(), L"");
    EXPECT_TRUE(journal.events.empty());
    EXPECT_EQ(comboText(0), L"Speakers");
}

TEST_F(DriverDialog, CancelAppliesNothing)
{
    useDevice(wasapi(), 0, 256);
    open();
    ASSERT_TRUE(dragThumbTo(trackbar(), 12));
    click(item(IDC_RADIO_ASIO));
    logSince();
    click(item(IDCANCEL));
    EXPECT_EQ(logSince(), L"");
    EXPECT_EQ(host->requestedBufferSize, 0);
    EXPECT_TRUE(journal.events.empty());
}
