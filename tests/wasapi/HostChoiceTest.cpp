// CHost's choice, preparation and restart of a WASAPI device against the test endpoint,
// read back from the program's own log (run in code page 932 so the lines stay exact).
#include "TestEndpointHarness.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/WasapiAudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace PomaroApp;

using namespace Kelvane;
using PomaroApp::CHost;

namespace {

class HostChoiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        g_hInstance = GetModuleHandleW(nullptr);
        harness = std::make_unique<WasapiTest::TestEndpointHarness>();
        ASSERT_TRUE(harness->ready());
        host = new CHost();
    }
    void TearDown() override
    {
        if (host)
            host->release();
        harness.reset();
        CoUninitialize();
    }

    std::vector<std::wstring> newLines() { return log.newLines(); }
    void configure(const std::string& endpoints) { harness->configure(endpoints); }
    size_t boxes() const { return BoxRecorder::Boxes().size(); }

    LogCapture log;
    BoxRecorder boxRecorder;
    std::unique_ptr<WasapiTest::TestEndpointHarness> harness;
    CHost* host = nullptr;
};

using Lines = std::vector<std::wstring>;

const Lines kPrepared480 = {L"サンプルレート : 48.0kHz", L"バッファ長 : 480 (10.000msec)",
                            L"フォーマット：Int 16bit", L"オーディオ出力を開始しました。"};

Lines concat(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(HostChoiceTest, AutomaticChoiceScoresEveryEndpointAndPrefersTheFirstBest)
{
    configure("[endpoint]\nname = Slow\nrates = 44100\n"
              "[endpoint]\nname = None\nrates = 8000\n"
              "[endpoint]\nname = First48\nrates = 44100, 48000\n"
              "[endpoint]\nname = Second48\nrates = 48000\n"
              "[endpoint]\nname = Broken\nfail = Activate\n");
    ASSERT_TRUE(host->openAudioDevice(DriverAuto, nullptr));
    EXPECT_EQ(newLines(),
              concat({L"オーディオドライバを列挙します。", L"Windowsドライバ : Slow",
                      L"Windowsドライバ : None", L"Windowsドライバ : First48", L"Windowsドライバ : Second48",
                      L"Windowsドライバ : Broken", L"オーディオドライバをロードします : First48"},
                     kPrepared480));
    ASSERT_NE(host->pDevice, nullptr);
    EXPECT_STREQ(host->pDevice->getName(), L"First48");
    EXPECT_EQ(host->bestDeviceScore, 120);
    EXPECT_EQ(host->blockSize, 480); // 144 preferred, raised to 10 ms
    EXPECT_EQ(host->sampleRate, 48000.0);
    EXPECT_EQ(boxes(), 0u);
}

TEST_F(HostChoiceTest, ChoiceByNameSkipsTheEnumeration)
{
    configure("[endpoint]\nname = A\nrates = 48000\n[endpoint]\nname = B\nrates = 44100\n");
    host->requestedBufferSize = 500;
    ASSERT_TRUE(host->openAudioDevice(DriverWasapi, L"B"));
    EXPECT_EQ(newLines(), (Lines{L"オーディオドライバをロードします : B", L"サンプルレート : 44.1kHz",
                                 L"バッファ長 : 496 (11.247msec)", L"フォーマット：Int 16bit",
                                 L"オーディオ出力を開始しました。"}));
    // A name no entry has, or a name that differs in case, falls back to the scoring.
    ASSERT_TRUE(host->openAudioDevice(DriverWasapi, L"b"));
    const Lines lines = newLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"オーディオ出力を終了しました。");
    EXPECT_EQ(lines[1], L"オーディオドライバを列挙します。");
    EXPECT_STREQ(host->pDevice->getName(), L"A");
}

TEST_F(HostChoiceTest, FailureLinesInOrder)
{
    const Lines unusable = {L"オーディオ出力を終了しました。", L"オーディオドライバが使用できません。"};
    struct Case
    {
        const char* endpoint;
        const wchar_t* line;
    } cases[] = {
        {"fail = Activate\n", L"ロード失敗。"},
        {"rates = 8000\n", L"サンプルレートが不明です。"},
        {"fail = GetDevicePeriod\n", L"バッファ長が不明です。"},
        {"fail = Initialize\n", L"オーディオ出力を開始できませんでした。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint);
        configure(std::string("[endpoint]\nname = Only\nrates = 48000\n") + c.endpoint);
        delete host->pWasapiList; // a fresh snapshot of this configuration
        host->pWasapiList = nullptr;
        BoxRecorder::Boxes().clear();
        EXPECT_FALSE(host->openAudioDevice(DriverWasapi, L"Only"));
        EXPECT_EQ(newLines(), concat({L"オーディオドライバをロードします : Only", c.line}, unusable));
        EXPECT_EQ(host->pDevice, nullptr);
        EXPECT_EQ(boxes(), 1u);
        EXPECT_NE(BoxRecorder::Boxes().back().text.find(L"オーディオドライバが使用できません。"),
                  std::wstring::npos);
    }
}

TEST_F(HostChoiceTest, NothingUsableEndsWithoutDevice)
{
    configure("[endpoint]\nname = Mute\nrates = 8000\n[endpoint]\nname = Gone\nfail = Activate\n");
    EXPECT_FALSE(host->openAudioDevice(DriverAuto, nullptr));
    EXPECT_EQ(newLines(), (Lines{L"オーディオドライバを列挙します。", L"Windowsドライバ : Mute",
                                 L"Windowsドライバ : Gone", L"オーディオドライバが使用できません。"}));
    EXPECT_EQ(host->pDevice, nullptr);
    EXPECT_EQ(boxes(), 1u);
}

TEST_F(HostChoiceTest, AsioRequestStillTakesAWasapiEndpointWithAGoodRate)
{
    // No ASIO driver here: a WASAPI endpoint scores 0 + 20 and is chosen.
    configure("[endpoint]\nname = A\nrates = 96000\n[endpoint]\nname = B\nrates = 48000\n");
    ASSERT_TRUE(host->openAudioDevice(DriverAsio, L"NoSuchDriver"));
    EXPECT_STREQ(host->pDevice->getName(), L"B");
    EXPECT_EQ(host->bestDeviceScore, 20);
    // 96 kHz alone scores 0 for a family not asked for: not enough.
    configure("[endpoint]\nname = A\nrates = 96000\n");
    host->closeAudioDevice(); // devices go before their list
    delete host->pWasapiList;
    host->pWasapiList = nullptr;
    EXPECT_FALSE(host->openAudioDevice(DriverAsio, nullptr));
}

TEST_F(HostChoiceTest, LostEndpointIsLoggedAndTheSameEndpointReopened)
{
    // The endpoint goes away mid-stream (device invalidated) at either buffer call.
    for (const char* call : {"GetBuffer", "ReleaseBuffer"}) {
        SCOPED_TRACE(call);
        configure(std::string("[endpoint]\nname = USB\nrates = 48000\nfail = ") + call + "#6:0x88890004\n");
        host->closeAudioDevice();
        delete host->pWasapiList;
        host->pWasapiList = nullptr;
        ASSERT_TRUE(host->createFrameWindow());
        ASSERT_TRUE(host->openAudioDevice(DriverWasapi, L"USB"));
        newLines();
        ASSERT_TRUE(host->pDevice->start()); // without a plug-in every period goes out silent
        MSG msg{};
        const ULONGLONG end = GetTickCount64() + 5000;
        while (msg.message != PomaroApp::WM_HOST_RESTART_AUDIO && GetTickCount64() < end)
            if (!PeekMessageW(&msg, host->hwndFrame, 0, 0, PM_REMOVE))
                Sleep(5);
        ASSERT_EQ(msg.message, PomaroApp::WM_HOST_RESTART_AUDIO) << "no restart asked for";
        DispatchMessageW(&msg);
        const Lines lines = newLines();
        ASSERT_GE(lines.size(), 4u);
        const std::wstring failure =
            std::wstring(L"CWasapiAudioDevice::StaticThreadProc() : IAudioRenderClient::") +
            (call[0] == 'G' ? L"GetBuffer()" : L"ReleaseBuffer()") + L" : 0x88890004";
        EXPECT_EQ(lines[0].substr(0, failure.size()), failure);
        EXPECT_EQ(lines[1], L"オーディオドライバを再起動します。");
        EXPECT_EQ(lines[2], L"オーディオ出力を終了しました。");
        EXPECT_EQ(lines[3], L"オーディオドライバをロードします : USB");
        EXPECT_STREQ(host->pDevice->getName(), L"USB");
        EXPECT_EQ(boxes(), 0u);
        DestroyWindow(host->hwndFrame);
    }
}
