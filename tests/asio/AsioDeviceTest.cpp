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
#include <tuple>
#include <vector>

using namespace Kelvane;

namespace {

const std::wstring kDll = BesideExe(L"PomaroTestAsio.dll"), kTestClass = POMARO_TEST_ASIO_CLSID_TEXT;
const HMODULE kModule = LoadLibraryW(kDll.c_str()); // the copy COM loads, so the hooks reach its instances
// Keys under HKEY_CURRENT_USER whose "asio" and "clsid" keys play the parts of the
// machine's driver list and class keys.
const std::wstring kRoot = L"Software\\PomaroAsioTest\\" + std::to_wstring(GetCurrentProcessId());

// Key, class id, description (empty: no such value), how it is listed (empty: left out). Keys enumerate
// sorted: the test driver's entries "Test Driver A" and "B" come first, then "Broken", whose class id is
// none, then what the walk is to make of values of every kind (text types and terminators: the text rules).
const std::tuple<const wchar_t*, std::wstring, std::wstring, std::wstring> kDrivers[] = {
    {L"0 A", kTestClass, L"Test Driver A", L"Test Driver A"},
    {L"0 B", kTestClass, L"Test Driver B", L"Test Driver B"},
    {L"0 C", L"{NOT-A-CLASS-ID}", L"Broken", L"Broken"},
    {L"2 No Description", kTestClass, L"", L"2 No Description"},
    {L"3 Long", kTestClass, std::wstring(200, L'L'), std::wstring(127, L'L')},
    {L"4 Longer Than The Read", kTestClass, std::wstring(300, L'M'), L"4 Longer Than The Read"},
    {L"5 Lower Text", L"{11111111-2222-3333-4444-55555555cccc}", L"upper key", L"upper key"},
    {L"6 Folder", L"{22222222-0000-0000-0000-000000000000}", L"Folder", L""},
    {L"7 Path Too Long", L"{77777777-0000-0000-0000-000000000000}", L"Too long", L""},
};
// Class keys and the files their servers name.
const std::pair<std::wstring, std::wstring> kServers[] = {
    {L"{6f0d3c5e-8b2a-4e61-9c47-3a1b5d2e7f90}", kDll}, // lower-case key, upper-case texts
    {L"{11111111-2222-3333-4444-55555555CCCC}", kDll}, // and the other way round
    {L"{not-a-class-id}", kDll},
    {L"{22222222-0000-0000-0000-000000000000}", L"C:\\windows"},
    {L"{77777777-0000-0000-0000-000000000000}", kDll + std::wstring(600, L'x')},
};

// The key root\path, made if missing, with a text value unless the text is empty.
HKEY key(HKEY root, const std::wstring& path, const wchar_t* name = nullptr, const std::wstring& text = L"")
{
    HKEY k = nullptr;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (!text.empty())
        RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       DWORD((text.size() + 1) * sizeof(wchar_t)));
    return k;
}

// The driver list walked from the keys above; COM finds the test driver's class in the prefix.
std::unique_ptr<CAsioAudioDeviceList> makeList()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegCloseKey(key(HKEY_CLASSES_ROOT, L"CLSID\\" + kTestClass + L"\\InprocServer32", nullptr, kDll));
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str());
    for (const auto& [name, path] : kServers)
        RegCloseKey(key(HKEY_CURRENT_USER, kRoot + L"\\clsid\\" + name + L"\\InprocServer32", nullptr, path));
    for (const auto& [name, clsid, description, listedAs] : kDrivers) {
        RegCloseKey(key(HKEY_CURRENT_USER, kRoot + L"\\asio\\" + name, L"clsid", clsid));
        RegCloseKey(key(HKEY_CURRENT_USER, kRoot + L"\\asio\\" + name, L"description", description));
    }
    const HKEY asio = key(HKEY_CURRENT_USER, kRoot + L"\\asio"),
               clsid = key(HKEY_CURRENT_USER, kRoot + L"\\clsid");
    auto* registry = new AsioDriverRegistry;
    registry->loadForTesting(asio, clsid);
    RegCloseKey(asio);
    RegCloseKey(clsid);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str());
    return std::make_unique<CAsioAudioDeviceList>(registry);
}

template <typename Fn> Fn hook(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kModule, name)));
}
// Configures the driver objects made from now on and clears the counters.
void configure(const char* text) { hook<PomaroTestAsioConfigureFn>("PomaroTestAsioConfigure")(text); }
bool alive() { return hook<HRESULT(__stdcall*)()>("DllCanUnloadNow")() != S_OK; } // a driver object

// Waits up to timeoutMs for predicate; true when it held.
template <typename F> bool waitFor(F predicate, DWORD timeoutMs)
{
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; !predicate(); Sleep(2))
        if (GetTickCount64() > end)
            return false;
    return true;
}

} // namespace

TEST(AsioDriverList, NamesFitTheirFieldAndUnusableDriversAreLeftOut)
{
    const auto list = makeList();
    std::vector<std::wstring> expected, listed;
    for (const auto& [name, clsid, description, listedAs] : kDrivers)
        if (!listedAs.empty())
            expected.push_back(listedAs);
    for (const AsioDriverEntry* e = list->registry()->pHead; e; e = e->pNext) {
        EXPECT_EQ(e->number, int32_t(listed.size()));
        EXPECT_EQ(std::wstring(e->dllPath), kDll);
        listed.push_back(e->name);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(list->registry()->count, int32_t(expected.size()));
}

TEST(AsioDevice, OpensPreparesAndStreamsDriversOfEveryShape)
{
    ASSERT_NE(kModule, nullptr);
    const auto list = makeList();
    const auto make = [&list](int32_t n) { return static_cast<CAsioAudioDevice*>(list->createDevice(n)); };
    // The driver's configuration, the format the device reports, how the stream ends (stopped; refused by the
    // provider while the driver calls on; with switches after stop returned, which get silence; by deleting
    // the running device while the driver's stop fails and it calls on until it is released), how many resets
    // the provider is asked for from the driver's thread, the log of a refused open.
    constexpr int NotOpened = 0, Stopped = 1, Refused = 2, SwitchesAfterStop = 3, Deleted = 4;
    const std::tuple<const char*, SampleFormat, int, int, const wchar_t*> cases[] = {
        {"init_error = Hardware not found", SampleFormatUnknown, NotOpened, 0,
         L"ASIO Error : Hardware not found"},
        {"outputs = 1", SampleFormatUnknown, NotOpened, 0, nullptr},
        {"type = 16", SampleFormatInt16, Refused, 0, nullptr},
        {"type = 16\nafter_stop = 6", SampleFormatInt16, SwitchesAfterStop, 0, nullptr},
        {"fail = stop, disposeBuffers#2", SampleFormatInt32, Deleted, 0, nullptr},
        {"type = 19\nreset_after = 3", SampleFormatFloat32, Stopped, 1, nullptr},
        {"type = 17\nsize_change_after = 3", SampleFormatUnknown, Stopped, 0, nullptr}, // to the current size
        {"fail = getChannelInfo\nsize_change_after = 3\nsize_change_to = 128", SampleFormatUnknown, Stopped,
         1, nullptr},
    };
    for (const auto& [config, format, end, resets, refusal] : cases) {
        LogCapture log;
        configure((std::string(config) + "\nrates = 44100, 48000\nmin = 64\nmax = 2048\ngranularity = -1\n")
                      .c_str());
        std::unique_ptr<CAsioAudioDevice> device(make(1)), twin(make(1)), other(make(0));
        FakeProvider provider;
        provider.refuseFrom = end == Refused ? 0 : -1;
        provider.renderDelayMs = 2; // stop comes while a call is inside, now and then
        int32_t range[4] = {};
        ASSERT_EQ(device->open(nullptr), end != NotOpened) << config;
        EXPECT_EQ(alive(), end != NotOpened) << config;
        EXPECT_EQ(device->getSampleFormat(), format) << config;
        EXPECT_EQ(log.lines(), refusal ? std::vector<std::wstring>{refusal} : std::vector<std::wstring>{});
        EXPECT_FALSE(twin->open(nullptr)) << "one instance per driver entry";
        if (end != NotOpened) {
            EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);
            ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &range[0], &range[1], &range[2], &range[3]));
            EXPECT_EQ(std::vector<int32_t>(range, range + 4), std::vector<int32_t>({64, 2048, 480, -1}));
            // Refused before the driver hears of it, then by the driver: a size not a power of two, a rate
            // it lacks.
            EXPECT_FALSE(device->prepare(Rate48000, 1024, nullptr));
            const std::pair<SampleRate, int32_t> refused[] = {
                {Rate48000, 0}, {RateNone, 1024}, {Rate48000, 1000}, {Rate96000, 1024}};
            for (const auto& [rate, frames] : refused)
                EXPECT_FALSE(device->prepare(rate, frames, &provider)) << rate << "/" << frames;
            EXPECT_EQ(provider.prepares, 0);
            provider.acceptPrepare = false;
            EXPECT_FALSE(device->prepare(Rate48000, 1024, &provider));
            provider.acceptPrepare = true; // the buffers the provider refused were given back
            ASSERT_TRUE(device->prepare(Rate48000, 1024, &provider));
            EXPECT_EQ(provider.prepared(), std::make_tuple(2, format, Rate48000, 1024, false));
            ASSERT_TRUE(other->open(nullptr));
            EXPECT_FALSE(other->prepare(Rate48000, 1024, &provider)) << "one prepared device at a time";

            ASSERT_TRUE(device->start());
            // A driver may use the time-info callback though the host did not ask for it;
            // the clock's first switch is a period away.
            std::thread([] { CAsioAudioDevice::bufferSwitchTimeInfo(nullptr, 0, 1); }).join();
            EXPECT_GE(provider.renders.load(), 1) << config;
            ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 5; }, 3000)) << config;
            EXPECT_EQ(device->deviceState(), end == Refused ? DeviceRenderRefused : DeviceRunning);
            const auto* left = static_cast<const int16_t*>(provider.lastLeft.load());
            EXPECT_TRUE(left && provider.lastRight.load() && left != provider.lastRight.load());
            EXPECT_EQ(provider.resets.load(), resets) << config;
            if (end == Deleted)
                device.reset();
            else
                ASSERT_TRUE(device->stop());
            EXPECT_FALSE(provider.inside.load()) << config;
            provider.ended = true;
            // A driver that switches on after stop returned plays silence, not the last block; the halves
            // are the driver's, while it lives.
            const auto silent = [&] { return std::all_of(left, left + 1024, [](int16_t v) { return !v; }); };
            EXPECT_EQ(device && format == SampleFormatInt16 && waitFor(silent, 300),
                      end == SwitchesAfterStop);
            EXPECT_FALSE(provider.renderAfterEnd.load()) << config;
            EXPECT_TRUE(!device || (device->deviceState() == DevicePrepared && device->unprepare()))
                << config;
        }
        device.reset();
        other.reset();
        EXPECT_FALSE(alive()) << config;
        configure(""); // nothing held: the next open instantiates the driver afresh
        ASSERT_TRUE(twin->open(nullptr));
    }
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
    // Callbacks with no device prepared reach nothing; no entry, or a class that is none, opens nothing.
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    for (int32_t number : {2, 7})
        EXPECT_FALSE(std::unique_ptr<CAsioAudioDevice>(make(number))->open(nullptr)) << number;
}
