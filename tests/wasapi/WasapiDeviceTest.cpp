// The WASAPI endpoint list and device, and CHost's choice, preparation and restart of
// them, against the test endpoint under Wine. The host is read back from its own log
// (run in code page 932 so the lines stay exact).
#include "FakeProvider.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "audio/WasapiAudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"
#include "tests/diag/DiagTestSupport.h"

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace Kelvane;
using namespace PomaroApp;

namespace {

using Lines = std::vector<std::wstring>;
const std::wstring kUnusable = L"オーディオドライバが使用できません。";

std::string ep(const char* name, const char* rates, const char* more = "")
{
    return std::string("[endpoint]\nname = ") + name + "\nrates = " + rates + "\n" + more;
}

class WasapiTest : public ::testing::Test
{
protected:
    // The test endpoint in place of the system's device enumerator, for this process only.
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        g_hInstance = GetModuleHandleW(nullptr);
        // The DLL stays loaded: a stream thread of a failed test may still wind down.
        const HMODULE dll = LoadLibraryW(BesideExe(L"PomaroTestEndpoint.dll").c_str());
        const auto get = reinterpret_cast<decltype(&DllGetClassObject)>(
            reinterpret_cast<void*>(dll ? GetProcAddress(dll, "DllGetClassObject") : nullptr));
        Microsoft::WRL::ComPtr<IUnknown> factory;
        ASSERT_TRUE(get && SUCCEEDED(get(__uuidof(MMDeviceEnumerator), IID_PPV_ARGS(&factory))))
            << "PomaroTestEndpoint.dll missing beside the test";
        ASSERT_TRUE(SUCCEEDED(CoRegisterClassObject(__uuidof(MMDeviceEnumerator), factory.Get(),
                                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)));
    }
    void TearDown() override
    {
        if (host)
            host->release();
        CoRevokeClassObject(cookie); // none when 0
        CoUninitialize();
    }

    // Every enumerator made from now on reads these endpoints.
    void configure(const std::string& endpoints)
    {
        DeleteFileW(wav.c_str());
        DeleteFileW((wav + L".stats.txt").c_str());
        std::ofstream(config.c_str(), std::ios::binary) << "wav = " << Narrow(wav) << "\n" << endpoints;
        SetEnvironmentVariableW(L"POMARO_TEST_ENDPOINT_CONFIG", config.c_str());
    }
    // A host on endpoints it has not listed yet: its devices go before their list.
    CHost& hostOn(const std::string& endpoints)
    {
        host = host ? host : new CHost();
        host->closeAudioDevice();
        delete host->pWasapiList;
        host->pWasapiList = nullptr;
        configure(endpoints);
        log.newLines();
        BoxRecorder::Boxes().clear();
        return *host;
    }

    static bool waitFor(const std::atomic<int>& value, int atLeast)
    {
        for (int waited = 0; value.load() < atLeast && waited < 3000; waited += 5)
            Sleep(5);
        return value.load() >= atLeast;
    }
    DWORD cookie = 0;
    TempFolder folder;
    std::wstring config = folder.File(L"endpoint.ini"), wav = folder.File(L"render.wav");
    LogCapture log;
    BoxRecorder boxRecorder;
    CHost* host = nullptr;
};

} // namespace

TEST_F(WasapiTest, OpenPrepareStartStopAndTheWaysRenderingEnds)
{
    // The endpoint's buffer comes out larger than asked: it is announced and every period filled whole.
    configure(ep("Speakers (Test)", "44100, 48000", "extra_frames = 32\n"));
    auto list = std::make_unique<CWasapiAudioDeviceList>(); // goes after its device
    std::unique_ptr<CWasapiAudioDevice> device(static_cast<CWasapiAudioDevice*>(list->createDevice(0)));
    FakeProvider provider;
    const auto rendersStayAt = [&](int n) { return Sleep(60), provider.renders.load() == n; };
    const auto reopen = [&] {
        return device->close() && device->open(nullptr) && device->prepare(Rate48000, 480, &provider);
    };
    int32_t range[4] = {};
    ASSERT_TRUE(device->open(nullptr) && device->open(nullptr)); // opening again changes nothing
    EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);
    ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &range[0], &range[1], &range[2], &range[3]));
    EXPECT_EQ(std::vector<int32_t>(range, range + 4), (std::vector<int32_t>{144, 960, 144, 16}));
    provider.acceptPrepare = false;
    EXPECT_FALSE(device->start() || device->prepare(Rate48000, 0, &provider) ||
                 device->prepare(RateNone, 480, &provider) || device->prepare(Rate96000, 480, &provider) ||
                 device->prepare(Rate48000, 480, nullptr) || device->prepare(Rate48000, 480, &provider) ||
                 device->start());
    EXPECT_EQ(provider.prepares, 1); // the bad requests never reached it
    EXPECT_EQ(device->currentState(), DeviceOpen);

    // An initialised client is never initialised again: the host reopens the device.
    provider.acceptPrepare = true;
    ASSERT_TRUE(reopen());
    EXPECT_EQ(provider.prepared(), std::make_tuple(2, SampleFormatInt16, Rate48000, 512, true));
    EXPECT_EQ(device->getBufferFrames(), 512);
    EXPECT_TRUE(device->stop()); // never started
    ASSERT_TRUE(device->start() && !device->start());
    EXPECT_EQ(device->currentState(), DeviceRunning);
    ASSERT_TRUE(waitFor(provider.renders, 3));
    EXPECT_TRUE(device->stop() && device->stop());
    EXPECT_EQ(device->currentState(), DevicePrepared);
    EXPECT_FALSE(provider.onMainThread.load() || provider.lastRight.load());
    const int after = provider.renders.load();
    EXPECT_TRUE(rendersStayAt(after));
    const std::string bytes = ReadBytes(wav);
    ASSERT_GE(bytes.size(), 44 + 4 * 512u * after);
    for (size_t i = 0; i < 512u * after; ++i) { // after the pre-roll, the provider's frame counter
        int16_t left = 0;
        std::memcpy(&left, bytes.data() + 44 + 4 * i, 2);
        ASSERT_EQ(left, i < 512 ? 0 : int16_t((i - 512) % 30000 + 1)) << "frame " << i;
    }

    // Started again, it renders until the provider refuses, and nothing is asked after that.
    provider.refuseFrom = after + 3;
    ASSERT_TRUE(device->start() && waitFor(provider.renders, after + 4));
    EXPECT_TRUE(rendersStayAt(after + 4));
    EXPECT_EQ(device->currentState(), DeviceRenderRefused);
    EXPECT_TRUE(device->stop() && device->unprepare());
    EXPECT_EQ(device->currentState(), DeviceOpen);

    // Deleting a running device ends its rendering and gives every interface back in order.
    provider.refuseFrom = -1;
    ASSERT_TRUE(reopen() && device->start() && waitFor(provider.renders, after + 8));
    device.reset();
    EXPECT_TRUE(rendersStayAt(provider.renders.load()));
    list.reset();
    EXPECT_EQ(ReadBytes(wav + L".stats.txt"), "misuse=0\n") << "calls out of the endpoint's order";
}

TEST_F(WasapiTest, HostChoosesTheFirstBestEndpointAndLogsEveryStep)
{
    const auto listed = [](std::initializer_list<const wchar_t*> names) {
        std::wstring lines = L"オーディオドライバを列挙します。\n";
        for (const wchar_t* name : names)
            lines += L"Windowsドライバ : " + std::wstring(name) + L"\n";
        return lines;
    };
    const auto opened = [](const wchar_t* name, const wchar_t* rate, const wchar_t* size) {
        return L"オーディオドライバをロードします : " + std::wstring(name) + L"\nサンプルレート : " + rate +
               L"\nバッファ長 : " + size + L"\nフォーマット：Int 16bit\nオーディオ出力を開始しました。";
    };
    struct Case
    {
        std::string endpoints;
        Kelvane::DriverType type;
        const wchar_t* name; // asked for by name
        int32_t size;        // asked for in the dialog
        const wchar_t* chosen;
        std::wstring lines; // empty: not compared (the end-to-end run reads a whole choice)
    };
    // Each step that fails by name says so, and nothing opens.
    const auto failing = [](const char* rates, const char* more, const wchar_t* step) {
        return Case{ep("Only", rates, more),
                    DriverWasapi,
                    L"Only",
                    0,
                    nullptr,
                    L"オーディオドライバをロードします : Only\n" + std::wstring(step) +
                        L"\nオーディオ出力を終了しました。\n" + kUnusable};
    };
    const Case cases[] = {
        // Every endpoint is listed by its name (none readable: empty).
        {ep("Slow", "44100") + ep("None", "8000") + ep("First48", "44100, 48000") + ep("Second48", "48000") +
             ep("Broken", "48000", "fail = Activate\n") + "[endpoint]\nrates = 8000\n" +
             ep("スピーカー", "8000"),
         DriverAuto, nullptr, 0, L"First48",
         listed({L"Slow", L"None", L"First48", L"Second48", L"Broken", L"", L"スピーカー"}) +
             opened(L"First48", L"48.0kHz", L"480 (10.000msec)")},
        {"fail = EnumAudioEndpoints\n" + ep("A", "48000"), DriverAuto, nullptr, 0, nullptr,
         listed({}) + kUnusable},
        {ep("A", "48000", "fail = GetDevice\n"), DriverWasapi, L"A", 0, nullptr, listed({L"A"}) + kUnusable},
        // An unaligned request is retried at the size the endpoint names, which is announced.
        {ep("A", "48000", "not_aligned = 480\naligned = 512\n"), DriverWasapi, L"A", 480, L"A",
         opened(L"A", L"48.0kHz", L"512 (10.667msec)")},
        // No ASIO driver here: a WASAPI endpoint scores 0 + 20 for its 48 kHz, and 96 kHz alone is not enough.
        {ep("A", "96000") + ep("B", "48000"), DriverAsio, L"NoSuchDriver", 0, L"B", L""},
        {ep("A", "96000"), DriverAsio, nullptr, 0, nullptr, L""},
        // A name no entry has, or one that differs in case, falls back to the scoring.
        {ep("A", "48000") + ep("B", "44100"), DriverWasapi, L"b", 0, L"A", L""},
        // By name, no enumeration; the size asked for is cut to the granularity.
        {ep("A", "48000") + ep("B", "44100, 96000"), DriverWasapi, L"B", 500, L"B",
         opened(L"B", L"44.1kHz", L"496 (11.247msec)")},
        failing("48000", "fail = Activate\n", L"ロード失敗。"),
        failing("8000", "", L"サンプルレートが不明です。"),
        failing("48000", "fail = GetDevicePeriod\n", L"バッファ長が不明です。"),
        failing("48000", "fail = Initialize\n", L"オーディオ出力を開始できませんでした。"),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoints);
        CHost& h = hostOn(c.endpoints);
        h.requestedBufferSize = c.size;
        EXPECT_EQ(h.openAudioDevice(c.type, c.name), c.chosen != nullptr);
        std::wstring lines;
        for (const std::wstring& line : log.newLines())
            lines += (lines.empty() ? L"" : L"\n") + line;
        if (!c.lines.empty()) {
            EXPECT_EQ(lines, c.lines);
            ASSERT_EQ(BoxRecorder::Boxes().size(), c.chosen ? 0u : 1u);
            EXPECT_TRUE(c.chosen || BoxRecorder::Boxes()[0].text.find(kUnusable) != std::wstring::npos);
        }
        EXPECT_EQ(std::wstring(h.pDevice ? h.pDevice->getName() : L"-"), c.chosen ? c.chosen : L"-");
    }
}

TEST_F(WasapiTest, HostLogsALostEndpointAndReopensTheSameOne)
{
    // The endpoint goes away mid-stream (device invalidated); the end-to-end run loses it at GetBuffer.
    CHost& h = hostOn("[endpoint]\nname = USB\nrates = 48000\nfail = ReleaseBuffer#6:0x88890004\n");
    ASSERT_TRUE(h.createFrameWindow() && h.openAudioDevice(DriverWasapi, L"USB"));
    log.newLines();
    ASSERT_TRUE(h.pDevice->start()); // without a plug-in every period goes out silent
    MSG msg{};
    for (const ULONGLONG end = GetTickCount64() + 5000; msg.message != WM_HOST_RESTART_AUDIO;)
        ASSERT_TRUE(PeekMessageW(&msg, h.hwndFrame, 0, 0, PM_REMOVE) || (Sleep(5), GetTickCount64() < end))
            << "no restart asked for";
    DispatchMessageW(&msg);
    const Lines lines = log.newLines();
    ASSERT_GE(lines.size(), 4u);
    const std::wstring failure =
        L"CWasapiAudioDevice::StaticThreadProc() : IAudioRenderClient::ReleaseBuffer() : 0x88890004";
    EXPECT_EQ(lines[0].substr(0, failure.size()), failure);
    EXPECT_EQ(Lines(lines.begin() + 1, lines.begin() + 4),
              (Lines{L"オーディオドライバを再起動します。", L"オーディオ出力を終了しました。",
                     L"オーディオドライバをロードします : USB"}));
    EXPECT_STREQ(h.pDevice->getName(), L"USB");
    EXPECT_EQ(BoxRecorder::Boxes().size(), 0u);
    DestroyWindow(h.hwndFrame);
}
