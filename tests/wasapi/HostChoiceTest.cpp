// CHost's choice, preparation and restart of a WASAPI device against the test endpoint,
// read back from the program's own log (run in code page 932 so the lines stay exact).
#include "TestEndpointHarness.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/WasapiAudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace Kelvane;
using PomaroApp::CHost;

namespace {

int g_boxes = 0;
std::wstring g_lastBox;

int countBox(void*, const wchar_t* text, const wchar_t*, unsigned)
{
    ++g_boxes;
    g_lastBox = text ? text : L"";
    return IDOK;
}

std::wstring logFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"pomaro-wasapi-log-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
}

class HostChoiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        g_hInstance = GetModuleHandleW(nullptr);
        harness = std::make_unique<WasapiTest::TestEndpointHarness>();
        ASSERT_TRUE(harness->ready());
        DebugLogTesting::Reset();
        CreateDirectoryW(logFolder().c_str(), nullptr);
        DeleteFileW((logFolder() + L"PomaroApp.log").c_str());
        ASSERT_TRUE(DebugLog::Open(logFolder().c_str()));
        DebugLog::SetMessageBoxFunctionForTesting(countBox);
        g_boxes = 0;
        host = new CHost();
    }
    void TearDown() override
    {
        if (host)
            host->release();
        DebugLog::SetMessageBoxFunctionForTesting(nullptr);
        DebugLogTesting::Reset();
        DeleteFileW((logFolder() + L"PomaroApp.log").c_str());
        RemoveDirectoryW(logFolder().c_str());
        harness.reset();
        CoUninitialize();
    }

    // The log's bodies (time stamps cut) written since the last call.
    std::vector<std::wstring> newLines()
    {
        std::string bytes;
        if (std::FILE* f = _wfopen((logFolder() + L"PomaroApp.log").c_str(), L"rb")) {
            char chunk[4096];
            size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
                bytes.append(chunk, n);
            std::fclose(f);
        }
        std::wstring text(bytes.size(), L'\0');
        text.resize(size_t(
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &text[0], int(text.size()))));
        std::vector<std::wstring> lines;
        for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
            lines.push_back(text.substr(at + 13, end - at - 13));
        std::vector<std::wstring> fresh(lines.begin() + std::min(seen, lines.size()), lines.end());
        seen = lines.size();
        return fresh;
    }

    void configure(const std::string& endpoints) { harness->configure(endpoints); }

    std::unique_ptr<WasapiTest::TestEndpointHarness> harness;
    CHost* host = nullptr;
    size_t seen = 0;
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
    EXPECT_EQ(g_boxes, 0);
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
        g_boxes = 0;
        EXPECT_FALSE(host->openAudioDevice(DriverWasapi, L"Only"));
        EXPECT_EQ(newLines(), concat({L"オーディオドライバをロードします : Only", c.line}, unusable));
        EXPECT_EQ(host->pDevice, nullptr);
        EXPECT_EQ(g_boxes, 1);
        EXPECT_NE(g_lastBox.find(L"オーディオドライバが使用できません。"), std::wstring::npos);
    }
}

TEST_F(HostChoiceTest, NothingUsableEndsWithoutDevice)
{
    configure("[endpoint]\nname = Mute\nrates = 8000\n[endpoint]\nname = Gone\nfail = Activate\n");
    EXPECT_FALSE(host->openAudioDevice(DriverAuto, nullptr));
    EXPECT_EQ(newLines(), (Lines{L"オーディオドライバを列挙します。", L"Windowsドライバ : Mute",
                                 L"Windowsドライバ : Gone", L"オーディオドライバが使用できません。"}));
    EXPECT_EQ(host->pDevice, nullptr);
    EXPECT_EQ(g_boxes, 1);
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

TEST_F(HostChoiceTest, RestartThroughTheFrameReopensTheSameEndpointByName)
{
    configure("[endpoint]\nname = A\nrates = 44100\n[endpoint]\nname = B\nrates = 48000\n");
    ASSERT_TRUE(host->createFrameWindow());
    ASSERT_TRUE(host->openAudioDevice(DriverAuto, nullptr));
    EXPECT_STREQ(host->pDevice->getName(), L"B");
    newLines();
    ASSERT_TRUE(PostMessageW(host->hwndFrame, PomaroApp::WM_HOST_RESTART_AUDIO, 0, 0));
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    const Lines lines = newLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"オーディオドライバを再起動します。");
    EXPECT_EQ(lines[1], L"オーディオ出力を終了しました。");
    EXPECT_EQ(lines[2], L"オーディオドライバをロードします : B");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"オーディオドライバを列挙します。"), 0);
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"オーディオ出力を開始しました。"), lines.end());
    ASSERT_NE(host->pDevice, nullptr);
    EXPECT_STREQ(host->pDevice->getName(), L"B");
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
        EXPECT_EQ(g_boxes, 0);
        DestroyWindow(host->hwndFrame);
    }
}
