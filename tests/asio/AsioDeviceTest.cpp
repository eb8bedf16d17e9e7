// The installed-driver list from registry keys of the test's own, and the ASIO device
// against the test driver: what it asks the driver, what it tells the provider, and that
// no callback outlives the prepared device.
#include "audio/AsioAudioDevice.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/AsioDriverRegistry.h"
#include "testdrivers/asio/TestAsioApi.h"
#include "tests/diag/DiagTestSupport.h"
#include "tests/wasapi/FakeProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Kelvane;

namespace {

const std::wstring kDll = BesideExe(L"PomaroTestAsio.dll");
const std::wstring kTestClass = POMARO_TEST_ASIO_CLSID_TEXT;
const wchar_t* const kClass = L"{11111111-2222-3333-4444-55555555AAAA}";
// Keys under HKEY_CURRENT_USER whose "asio" and "clsid" keys play the parts of the
// machine's driver list and class keys.
const std::wstring kRoot = L"Software\\PomaroAsioTest\\" + std::to_wstring(GetCurrentProcessId());

// A text value under root\path; an empty text makes the key only.
void setText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (!text.empty())
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       DWORD((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Keys enumerate sorted: the test driver's entries "Test Driver A" and "B" come first,
// then "Broken", whose class id is none, then what the driver list walk is to make of
// values of every kind (the type and terminator of a text are the registry text rules').
const struct
{
    const wchar_t* key;
    std::wstring clsid, description, listedAs; // empty: no such value; left out
} kDrivers[] = {
    {L"0 A", kTestClass, L"Test Driver A", L"Test Driver A"},
    {L"0 B", kTestClass, L"Test Driver B", L"Test Driver B"},
    {L"0 C", L"{NOT-A-CLASS-ID}", L"Broken", L"Broken"},
    {L"1 First", kClass, L"First Driver", L"First Driver"},
    {L"2 No Description", kClass, L"", L"2 No Description"},
    {L"3 Long", kClass, std::wstring(200, L'L'), std::wstring(127, L'L')},
    {L"4 Longer Than The Read", kClass, std::wstring(300, L'M'), L"4 Longer Than The Read"},
    {L"5 Lower Text", L"{11111111-2222-3333-4444-55555555cccc}", L"upper key", L"upper key"},
    {L"6 Folder", L"{22222222-0000-0000-0000-000000000000}", L"Folder", L""},
    {L"7 No Server", L"{33333333-0000-0000-0000-000000000000}", L"No Server", L""},
    {L"8 Unregistered", L"{44444444-0000-0000-0000-000000000000}", L"Unknown", L""},
    {L"9 Missing File", L"{55555555-0000-0000-0000-000000000000}", L"Missing", L""},
    {L"A No Class", L"", L"No clsid", L""},
    {L"B Path Too Long", L"{77777777-0000-0000-0000-000000000000}", L"Too long", L""},
};
// Class keys and the files their servers name (empty: no server key).
const std::pair<std::wstring, std::wstring> kServers[] = {
    {kTestClass, kDll},
    {L"{not-a-class-id}", kDll},
    {L"{11111111-2222-3333-4444-55555555aaaa}", kDll}, // lower-case key, upper-case texts
    {L"{11111111-2222-3333-4444-55555555CCCC}", kDll}, // and the other way round
    {L"{22222222-0000-0000-0000-000000000000}", L"C:\\windows"},
    {L"{33333333-0000-0000-0000-000000000000}", L""},
    {L"{55555555-0000-0000-0000-000000000000}", L"C:\\nowhere\\missing-driver.dll"},
    {L"{77777777-0000-0000-0000-000000000000}", kDll + std::wstring(600, L'x')},
};

// Waits up to timeoutMs for predicate; true when it held.
template <typename F> bool waitFor(F predicate, DWORD timeoutMs)
{
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; !predicate(); Sleep(2))
        if (GetTickCount64() > end)
            return false;
    return true;
}

class AsioDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        setText(HKEY_CLASSES_ROOT, L"CLSID\\" + kTestClass + L"\\InprocServer32", nullptr, kDll);
        setText(HKEY_CLASSES_ROOT, L"CLSID\\" + kTestClass + L"\\InprocServer32", L"ThreadingModel",
                L"Apartment");
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str());
        for (const auto& [key, path] : kServers)
            setText(HKEY_CURRENT_USER,
                    kRoot + L"\\clsid\\" + key + (path.empty() ? L"" : L"\\InprocServer32"), nullptr, path);
        for (const auto& d : kDrivers) {
            setText(HKEY_CURRENT_USER, kRoot + L"\\asio\\" + d.key, L"clsid", d.clsid);
            setText(HKEY_CURRENT_USER, kRoot + L"\\asio\\" + d.key, L"description", d.description);
        }
        HKEY asio = nullptr, clsid = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, (kRoot + L"\\asio").c_str(), 0, KEY_READ, &asio);
        RegOpenKeyExW(HKEY_CURRENT_USER, (kRoot + L"\\clsid").c_str(), 0, KEY_READ, &clsid);
        auto* registry = new AsioDriverRegistry;
        registry->loadForTesting(asio, clsid);
        RegCloseKey(asio);
        RegCloseKey(clsid);
        ASSERT_NE(module, nullptr); // the copy COM loads, so the hooks reach its instances
        configure("");
        list = std::make_unique<CAsioAudioDeviceList>(registry);
    }
    void TearDown() override
    {
        list.reset();
        configure("");
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str());
        CoUninitialize();
    }

    template <typename Fn> Fn hook(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    // Configures the driver objects made from now on and clears the counters.
    void configure(const std::string& text) const
    {
        hook<PomaroTestAsioConfigureFn>("PomaroTestAsioConfigure")(text.c_str());
    }
    bool alive() const { return hook<HRESULT(__stdcall*)()>("DllCanUnloadNow")() != S_OK; } // a driver object
    CAsioAudioDevice* make(int32_t number = 0)
    {
        return static_cast<CAsioAudioDevice*>(list->createDevice(number));
    }

    HMODULE module = LoadLibraryW(kDll.c_str());
    std::unique_ptr<CAsioAudioDeviceList> list;
};

} // namespace

TEST_F(AsioDeviceTest, DriverListNamesFitTheirFieldAndUnusableDriversAreLeftOut)
{
    std::vector<std::wstring> expected, listed;
    for (const auto& d : kDrivers)
        if (!d.listedAs.empty())
            expected.push_back(d.listedAs);
    const AsioDriverRegistry* registry = list->registry();
    for (const AsioDriverEntry* e = registry->pHead; e; e = e->pNext) {
        EXPECT_EQ(e->number, int32_t(listed.size()));
        EXPECT_EQ(std::wstring(e->dllPath), kDll);
        listed.push_back(e->name);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(registry->count, int32_t(expected.size()));
    EXPECT_EQ(registry->find(registry->count), nullptr);
}

TEST_F(AsioDeviceTest, OpensPreparesAndStreamsDriversOfEveryShape)
{
    // How the stream ends: stopped; refused by the provider while the driver calls on;
    // with switches after stop returned, which get silence; by deleting the running
    // device while the driver's stop fails and it calls on until it is released.
    enum End
    {
        NotOpened,
        Stopped,
        Refused,
        SwitchesAfterStop,
        Deleted
    };
    const struct
    {
        const char* config;
        SampleFormat format;
        End end;
        int resets = 0;               // asked for from the driver's thread
        const wchar_t* log = nullptr; // of a refused open
    } cases[] = {
        {"type = 16", SampleFormatInt16, Stopped},
        {"type = 16", SampleFormatInt16, Refused},
        {"type = 16\nafter_stop = 6", SampleFormatInt16, SwitchesAfterStop},
        {"fail = stop, disposeBuffers#2", SampleFormatInt32, Deleted},
        {"type = 19\nreset_after = 3", SampleFormatFloat32, Stopped, 1},
        {"type = 17\nsize_change_after = 3", SampleFormatUnknown, Stopped, 0}, // to the current size
        {"fail = getChannelInfo\nsize_change_after = 3\nsize_change_to = 128", SampleFormatUnknown, Stopped,
         1},
        {"init_error = Hardware not found", SampleFormatUnknown, NotOpened, 0,
         L"ASIO Error : Hardware not found"},
        {"outputs = 1", SampleFormatUnknown, NotOpened},
    };
    for (const auto& c : cases) {
        LogCapture log;
        configure(std::string(c.config) + "\nrates = 44100, 48000\nmin = 64\nmax = 2048\ngranularity = -1\n");
        std::unique_ptr<CAsioAudioDevice> device(make(1)), twin(make(1)), other(make(0));
        FakeProvider provider, second;
        provider.refuseFrom = c.end == Refused ? 0 : -1;
        provider.renderDelayMs = 2; // stop comes while a call is inside, now and then
        int32_t range[4] = {};
        EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &range[0], &range[1], &range[2], &range[3]));
        EXPECT_FALSE(device->prepare(Rate48000, 1024, &provider)) << "not open";
        ASSERT_EQ(device->open(nullptr), c.end != NotOpened) << c.config;
        EXPECT_EQ(alive(), c.end != NotOpened) << c.config;
        EXPECT_EQ(device->getSampleFormat(), c.format) << c.config;
        EXPECT_EQ(log.lines(), c.log ? std::vector<std::wstring>{c.log} : std::vector<std::wstring>{});
        EXPECT_FALSE(twin->open(nullptr)) << "one instance per driver entry";
        if (c.end != NotOpened) {
            EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);
            ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &range[0], &range[1], &range[2], &range[3]));
            EXPECT_EQ(std::vector<int32_t>(range, range + 4), std::vector<int32_t>({64, 2048, 480, -1}));
            const std::tuple<SampleRate, int32_t, FakeProvider*> refused[] = {
                {Rate48000, 0, &provider},   {Rate48000, -4, &provider},   {RateNone, 1024, &provider},
                {Rate48000, 1024, nullptr},  {Rate48000, 1000, &provider}, // not a power of two
                {Rate96000, 1024, &provider}};                             // a rate the driver refuses
            for (const auto& [rate, frames, to] : refused)
                EXPECT_FALSE(device->prepare(rate, frames, to)) << rate << "/" << frames;
            EXPECT_EQ(provider.prepares, 0);
            provider.acceptPrepare = false;
            EXPECT_FALSE(device->prepare(Rate48000, 1024, &provider));
            EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
            provider.acceptPrepare = true; // the buffers the provider refused were given back
            ASSERT_TRUE(device->prepare(Rate48000, 1024, &provider));
            EXPECT_EQ(provider.prepared(), std::make_tuple(2, c.format, Rate48000, 1024, false));
            EXPECT_EQ(CAsioAudioDevice::current(), device.get());
            ASSERT_TRUE(other->open(nullptr));
            EXPECT_FALSE(other->prepare(Rate48000, 1024, &second)) << "one prepared device at a time";

            ASSERT_TRUE(device->start());
            // A driver may use the time-info callback though the host did not ask for it;
            // the clock's first switch is a period away.
            std::thread([] { CAsioAudioDevice::bufferSwitchTimeInfo(nullptr, 0, 1); }).join();
            EXPECT_GE(provider.renders.load(), 1) << c.config;
            ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 5; }, 3000)) << c.config;
            EXPECT_EQ(device->deviceState(), c.end == Refused ? DeviceRenderRefused : DeviceRunning);
            void *left = provider.lastLeft.load(), *right = provider.lastRight.load();
            EXPECT_TRUE(left && right && left != right) << "both channels, each its own half";
            EXPECT_EQ(provider.resets.load(), c.resets) << c.config;
            if (c.end == Deleted)
                device.reset();
            else
                ASSERT_TRUE(device->stop());
            EXPECT_FALSE(provider.inside.load()) << c.config;
            provider.ended = true;
            // A driver that switches on after stop returned plays silence, not the last block.
            const auto* half = static_cast<const int16_t*>(left);
            const auto silent = [&] { return std::all_of(half, half + 1024, [](int16_t v) { return !v; }); };
            if (device && c.format == SampleFormatInt16) { // the halves are the driver's, while it lives
                EXPECT_EQ(waitFor(silent, 300), c.end == SwitchesAfterStop) << c.config;
            }
            EXPECT_FALSE(provider.renderAfterEnd.load()) << c.config;
            EXPECT_FALSE(provider.onMainThread.load()) << c.config;
            if (device) {
                EXPECT_EQ(device->deviceState(), DevicePrepared);
                ASSERT_TRUE(device->unprepare());
                EXPECT_EQ(device->getSampleRate(), RateNone);
            }
            EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
        }
        if (device) {
            device->close();
            EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
            EXPECT_EQ(device->getSupportedSampleRates(), 0);
        }
        other.reset();
        EXPECT_FALSE(alive()) << c.config;
        configure(""); // nothing held: the next open instantiates the driver afresh
        ASSERT_TRUE(twin->open(nullptr));
    }
    // Callbacks with no device prepared reach nothing.
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioBufferSizeChange, 64, nullptr, nullptr), 0);
    CAsioAudioDevice::bufferSwitch(0, 1);
    EXPECT_EQ(CAsioAudioDevice::bufferSwitchTimeInfo(nullptr, 1, 1), nullptr);
    CAsioAudioDevice::sampleRateDidChange(48000.0);
    // The registry's own answers: no entry, a class that is none.
    AsioDriverRegistry* registry = list->registry();
    IAsioDriver* driver = nullptr;
    EXPECT_NE(registry->openDriver(7, &driver), 0);
    EXPECT_NE(registry->openDriver(2, &driver), 0);
    EXPECT_EQ(driver, nullptr);
    ASSERT_EQ(registry->openDriver(0, &driver), 0);
    list.reset(); // releases what its entries still hold
    EXPECT_FALSE(alive());
}

TEST_F(AsioDeviceTest, ControlPanelThatIsNotThereIsExplained)
{
    configure("panel = no");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_TRUE(device->hasControlPanel());
    // Presses OK on the box and keeps its text; the box blocks showControlPanel.
    wchar_t text[256] = {};
    std::thread watcher([&] {
        HWND box = nullptr;
        if (waitFor([&] { return (box = FindWindowW(L"#32770", L"ASIO設定")) != nullptr; }, 5000)) {
            GetDlgItemTextW(box, 0xffff, text, 256);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    EXPECT_FALSE(device->showControlPanel());
    watcher.join();
    EXPECT_STREQ(text, L"このドライバには設定パネルがありません。");
}
