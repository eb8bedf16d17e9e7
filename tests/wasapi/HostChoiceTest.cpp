// CHost's choice, preparation and restart of a WASAPI device against the test endpoint,
// read back from the program's own log (run in code page 932 so the lines stay exact).
#include "TestEndpointHarness.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/WasapiAudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Kelvane;
using namespace PomaroApp;

namespace {

using Lines = std::vector<std::wstring>;

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

    // A configuration the host has not listed yet: its devices go before their list.
    void configure(const std::string& endpoints)
    {
        host->closeAudioDevice();
        delete host->pWasapiList;
        host->pWasapiList = nullptr;
        harness->configure(endpoints);
        log.newLines();
        BoxRecorder::Boxes().clear();
    }
    size_t boxes() const { return BoxRecorder::Boxes().size(); }

    LogCapture log;
    BoxRecorder boxRecorder;
    std::unique_ptr<WasapiTest::TestEndpointHarness> harness;
    CHost* host = nullptr;
};

const wchar_t kListing[] = L"オーディオドライバを列挙します。";
const wchar_t kUnusable[] = L"オーディオドライバが使用できません。";
const wchar_t kStarted[] = L"オーディオ出力を開始しました。";

} // namespace

TEST_F(HostChoiceTest, ChoiceScoresEveryEndpointAndPrefersTheFirstBest)
{
    const struct
    {
        const char* endpoints;
        Kelvane::DriverType type;
        const wchar_t *name, *chosen;
        int score;
        Lines lines; // empty: not compared
    } cases[] = {
        {"[endpoint]\nname = Slow\nrates = 44100\n[endpoint]\nname = None\nrates = 8000\n"
         "[endpoint]\nname = First48\nrates = 44100, 48000\n[endpoint]\nname = Second48\nrates = 48000\n"
         "[endpoint]\nname = Broken\nfail = Activate\n",
         DriverAuto,
         nullptr,
         L"First48",
         120,
         {kListing, L"Windowsドライバ : Slow", L"Windowsドライバ : None", L"Windowsドライバ : First48",
          L"Windowsドライバ : Second48", L"Windowsドライバ : Broken",
          L"オーディオドライバをロードします : First48", L"サンプルレート : 48.0kHz",
          L"バッファ長 : 480 (10.000msec)", L"フォーマット：Int 16bit", kStarted}},
        {"[endpoint]\nname = Mute\nrates = 8000\n[endpoint]\nname = Gone\nfail = Activate\n",
         DriverAuto,
         nullptr,
         nullptr,
         0,
         {kListing, L"Windowsドライバ : Mute", L"Windowsドライバ : Gone", kUnusable}},
        // No ASIO driver here: a WASAPI endpoint scores 0 + 20 for its 48 kHz, and 96 kHz alone is not enough.
        {"[endpoint]\nname = A\nrates = 96000\n[endpoint]\nname = B\nrates = 48000\n",
         DriverAsio,
         L"NoSuchDriver",
         L"B",
         20,
         {}},
        {"[endpoint]\nname = A\nrates = 96000\n", DriverAsio, nullptr, nullptr, 0, {}},
        // A name no entry has, or one that differs in case, falls back to the scoring.
        {"[endpoint]\nname = A\nrates = 48000\n[endpoint]\nname = B\nrates = 44100\n",
         DriverWasapi,
         L"b",
         L"A",
         120,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoints);
        configure(c.endpoints);
        EXPECT_EQ(host->openAudioDevice(c.type, c.name), c.chosen != nullptr);
        const Lines lines = log.newLines();
        if (!c.lines.empty()) {
            EXPECT_EQ(lines, c.lines);
            EXPECT_EQ(boxes(), c.chosen ? 0u : 1u);
        }
        EXPECT_EQ(std::wstring(host->pDevice ? host->pDevice->getName() : L"-"), c.chosen ? c.chosen : L"-");
        EXPECT_EQ(c.chosen ? host->bestDeviceScore : 0, c.score);
    }
    EXPECT_EQ(host->blockSize, 480); // 144 preferred, raised to 10 ms
    EXPECT_EQ(host->sampleRate, 48000.0);
}

TEST_F(HostChoiceTest, ChoiceByNameSkipsTheEnumerationAndTakesTheAskedSize)
{
    configure("[endpoint]\nname = A\nrates = 48000\n[endpoint]\nname = B\nrates = 44100\n");
    host->requestedBufferSize = 500;
    ASSERT_TRUE(host->openAudioDevice(DriverWasapi, L"B"));
    EXPECT_EQ(log.newLines(),
              (Lines{L"オーディオドライバをロードします : B", L"サンプルレート : 44.1kHz",
                     L"バッファ長 : 496 (11.247msec)", L"フォーマット：Int 16bit", kStarted}));
}

TEST_F(HostChoiceTest, FailureLinesInOrder)
{
    const struct
    {
        const char* endpoint;
        const wchar_t* line;
    } cases[] = {
        {"fail = Activate\n", L"ロード失敗。"},
        {"rates = 8000\n", L"サンプルレートが不明です。"},
        {"fail = GetDevicePeriod\n", L"バッファ長が不明です。"},
        {"fail = Initialize\n", L"オーディオ出力を開始できませんでした。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint);
        configure(std::string("[endpoint]\nname = Only\nrates = 48000\n") + c.endpoint);
        EXPECT_FALSE(host->openAudioDevice(DriverWasapi, L"Only"));
        EXPECT_EQ(log.newLines(), (Lines{L"オーディオドライバをロードします : Only", c.line,
                                         L"オーディオ出力を終了しました。", kUnusable}));
        EXPECT_EQ(host->pDevice, nullptr);
        ASSERT_EQ(boxes(), 1u);
        EXPECT_NE(BoxRecorder::Boxes().back().text.find(kUnusable), std::wstring::npos);
    }
}

TEST_F(HostChoiceTest, LostEndpointIsLoggedAndTheSameEndpointReopened)
{
    // The endpoint goes away mid-stream (device invalidated) at either buffer call.
    for (const std::string call : {"GetBuffer", "ReleaseBuffer"}) {
        SCOPED_TRACE(call);
        configure("[endpoint]\nname = USB\nrates = 48000\nfail = " + call + "#6:0x88890004\n");
        ASSERT_TRUE(host->createFrameWindow());
        ASSERT_TRUE(host->openAudioDevice(DriverWasapi, L"USB"));
        log.newLines();
        ASSERT_TRUE(host->pDevice->start()); // without a plug-in every period goes out silent
        MSG msg{};
        for (const ULONGLONG end = GetTickCount64() + 5000;
             msg.message != WM_HOST_RESTART_AUDIO && GetTickCount64() < end;)
            if (!PeekMessageW(&msg, host->hwndFrame, 0, 0, PM_REMOVE))
                Sleep(5);
        ASSERT_EQ(msg.message, WM_HOST_RESTART_AUDIO) << "no restart asked for";
        DispatchMessageW(&msg);
        const Lines lines = log.newLines();
        ASSERT_GE(lines.size(), 4u);
        const std::wstring failure = L"CWasapiAudioDevice::StaticThreadProc() : IAudioRenderClient::" +
                                     std::wstring(call.begin(), call.end()) + L"() : 0x88890004";
        EXPECT_EQ(lines[0].substr(0, failure.size()), failure);
        EXPECT_EQ(Lines(lines.begin() + 1, lines.begin() + 4),
                  (Lines{L"オーディオドライバを再起動します。", L"オーディオ出力を終了しました。",
                         L"オーディオドライバをロードします : USB"}));
        EXPECT_STREQ(host->pDevice->getName(), L"USB");
        EXPECT_EQ(boxes(), 0u);
        DestroyWindow(host->hwndFrame);
    }
}
