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

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Kelvane;

namespace {

const std::wstring kDll = BesideExe(L"PomaroTestAsio.dll");
const wchar_t* const kClassA = L"{11111111-2222-3333-4444-55555555AAAA}";
const wchar_t* const kClassB = L"{11111111-2222-3333-4444-55555555bbbb}";

HKEY createKey(HKEY parent, const std::wstring& path)
{
    HKEY key = nullptr;
    RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}
// A text value of bytes characters' room (-1: the text with its terminator).
void setText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ, int chars = -1)
{
    const DWORD bytes = DWORD((chars < 0 ? text.size() + 1 : size_t(chars)) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes),
              ERROR_SUCCESS);
}

// A registry tree under HKEY_CURRENT_USER whose "asio" and "clsid" keys play the parts of
// the machine's driver list and class keys; removed at the end.
struct ScratchRegistry
{
    ScratchRegistry()
    {
        static int serial = 0;
        root = L"Software\\PomaroAsioTest\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(serial++);
        asio = createKey(HKEY_CURRENT_USER, root + L"\\asio");
        clsid = createKey(HKEY_CURRENT_USER, root + L"\\clsid");
    }
    ~ScratchRegistry()
    {
        RegCloseKey(asio);
        RegCloseKey(clsid);
        RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
    }
    // A null clsid or description leaves that value out.
    void driver(const wchar_t* key, const wchar_t* classId, const wchar_t* description)
    {
        HKEY k = createKey(asio, key);
        if (classId)
            setText(k, L"clsid", classId);
        if (description)
            setText(k, L"description", description);
        RegCloseKey(k);
    }
    // A class key whose InprocServer32 default value is path (null: no such key), of chars characters.
    void server(const wchar_t* classKey, const wchar_t* path, int chars = -1)
    {
        RegCloseKey(createKey(clsid, classKey));
        if (HKEY k = path ? createKey(clsid, std::wstring(classKey) + L"\\InprocServer32") : nullptr) {
            setText(k, nullptr, path, REG_SZ, chars);
            RegCloseKey(k);
        }
    }
    AsioDriverRegistry* load()
    {
        auto* registry = new AsioDriverRegistry;
        registry->loadForTesting(asio, clsid);
        return registry;
    }
    std::wstring root;
    HKEY asio = nullptr, clsid = nullptr;
};

} // namespace

TEST(AsioDriverRegistryWalk, NamesFitTheirFieldAndUnusableDriversAreLeftOut)
{
    ScratchRegistry keys;
    const std::wstring tooLong = kDll + std::wstring(600, L'x');
    keys.server(L"{11111111-2222-3333-4444-55555555aaaa}", kDll.c_str()); // lower-case key, upper-case texts
    keys.server(kClassB, kDll.c_str());
    keys.server(L"{11111111-2222-3333-4444-55555555CCCC}", kDll.c_str());   // and the other way round
    keys.server(L"{22222222-0000-0000-0000-000000000000}", L"C:\\windows"); // a folder
    keys.server(L"{33333333-0000-0000-0000-000000000000}", nullptr);        // no server key
    keys.server(L"{55555555-0000-0000-0000-000000000000}", L"C:\\nowhere\\missing-driver.dll");
    keys.server(L"{66666666-0000-0000-0000-000000000000}", kDll.c_str(), int(kDll.size())); // unterminated
    keys.server(L"{77777777-0000-0000-0000-000000000000}", tooLong.c_str());
    // Keys enumerate sorted; type 0 leaves the description out.
    const struct
    {
        const wchar_t* key;
        const wchar_t* clsid;
        DWORD type;
        std::wstring description;
        bool terminated;
        std::wstring listedAs; // empty: left out
    } drivers[] = {
        {L"01 First", kClassA, REG_SZ, L"First Driver", true, L"First Driver"},
        {L"02 No Description", kClassA, 0, L"", true, L"02 No Description"},
        {L"03 Long", kClassA, REG_SZ, std::wstring(200, L'L'), true, std::wstring(127, L'L')},
        {L"04 Longer Than The Read", kClassA, REG_SZ, std::wstring(300, L'M'), true,
         L"04 Longer Than The Read"},
        {L"05 Unterminated", kClassA, REG_SZ, L"Exact", false, L"Exact"},
        {L"06 Binary", kClassA, REG_BINARY, L"XYZ", false, L"06 Binary"},
        {L"07 Number", kClassA, REG_DWORD, L"AA", false, L"07 Number"},
        {L"08 Empty", kClassA, REG_SZ, L"", true, L"08 Empty"},
        {L"09 Same Case", kClassB, REG_SZ, L"same case", true, L"same case"},
        {L"10 Lower Text", L"{11111111-2222-3333-4444-55555555cccc}", REG_SZ, L"upper key", true,
         L"upper key"},
        {L"11 Mixed", L"{11111111-2222-3333-4444-55555555AaAa}", REG_SZ, L"mixed", true, L"mixed"},
        {L"12 Folder", L"{22222222-0000-0000-0000-000000000000}", REG_SZ, L"Folder", true, L""},
        {L"13 No Server", L"{33333333-0000-0000-0000-000000000000}", REG_SZ, L"No Server", true, L""},
        {L"14 Unregistered", L"{44444444-0000-0000-0000-000000000000}", REG_SZ, L"Unknown", true, L""},
        {L"15 Missing File", L"{55555555-0000-0000-0000-000000000000}", REG_SZ, L"Missing", true, L""},
        {L"16 No Class", nullptr, REG_SZ, L"No clsid", true, L""},
        {L"17 Path Unterminated", L"{66666666-0000-0000-0000-000000000000}", REG_SZ, L"Path", true, L"Path"},
        {L"18 Path Too Long", L"{77777777-0000-0000-0000-000000000000}", REG_SZ, L"Too long", true, L""},
        {L"19 Good", kClassB, REG_SZ, L"Good", true, L"Good"},
    };
    std::vector<std::wstring> expected;
    for (const auto& d : drivers) {
        keys.driver(d.key, d.clsid, nullptr);
        if (d.type) {
            HKEY key = createKey(keys.asio, d.key);
            setText(key, L"description", d.description, d.type, int(d.description.size() + d.terminated));
            RegCloseKey(key);
        }
        if (!d.listedAs.empty())
            expected.push_back(d.listedAs);
    }
    keys.driver(L"20 Wrong Type", nullptr, L"Wrong type");
    HKEY wrongType = createKey(keys.asio, L"20 Wrong Type");
    const DWORD one = 1;
    RegSetValueExW(wrongType, L"clsid", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(wrongType);

    std::unique_ptr<AsioDriverRegistry> registry(keys.load());
    std::vector<std::wstring> listed;
    for (const AsioDriverEntry* e = registry->pHead; e; e = e->pNext) {
        EXPECT_EQ(e->number, int32_t(listed.size()));
        EXPECT_EQ(std::wstring(e->dllPath), kDll);
        listed.push_back(e->name);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(registry->count, int32_t(expected.size()));
    EXPECT_EQ(registry->find(registry->count), nullptr);
    CLSID classA;
    ASSERT_EQ(CLSIDFromString(kClassA, &classA), NOERROR);
    EXPECT_TRUE(IsEqualCLSID(registry->find(1)->clsid, classA));

    wchar_t text[64], found[512];
    lstrcpyW(text, L"{77777777-0000-0000-0000-00000000000A}");
    keys.server(L"{77777777-0000-0000-0000-00000000000a}", tooLong.c_str());
    EXPECT_FALSE(findAsioDriverFile(keys.clsid, text, found, 512));
    EXPECT_STREQ(text, L"{77777777-0000-0000-0000-00000000000a}") << "the text is lowered in place";
    EXPECT_EQ(found[0], 0);

    ScratchRegistry empty;
    CAsioAudioDeviceList none(empty.load()), noRegistry(nullptr);
    for (CAsioAudioDeviceList* list : {&none, &noRegistry}) {
        EXPECT_EQ(list->getCount(), 0);
        EXPECT_EQ(list->getName(0), nullptr);
        EXPECT_EQ(list->getName(-1), nullptr);
    }
    std::unique_ptr<CAudioDevice> device(none.createDevice(0));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->getName(), nullptr);
    EXPECT_FALSE(device->open(nullptr));
    EXPECT_EQ(noRegistry.createDevice(0), nullptr);
}

namespace {

// Waits up to timeoutMs for predicate; true when it held.
template <typename F> bool waitFor(F predicate, DWORD timeoutMs)
{
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; !predicate(); Sleep(2))
        if (GetTickCount64() > end)
            return false;
    return true;
}

// Two list entries "Test Driver A" and "B" of the test driver, whose class COM knows.
class AsioDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        HKEY key = createKey(HKEY_CLASSES_ROOT, L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT L"\\InprocServer32");
        setText(key, nullptr, kDll);
        setText(key, L"ThreadingModel", L"Apartment");
        RegCloseKey(key);
        keys.server(POMARO_TEST_ASIO_CLSID_TEXT, kDll.c_str());
        keys.server(L"{not-a-class-id}", kDll.c_str());
        keys.driver(L"A", POMARO_TEST_ASIO_CLSID_TEXT, L"Test Driver A");
        keys.driver(L"B", POMARO_TEST_ASIO_CLSID_TEXT, L"Test Driver B");
        keys.driver(L"C", L"{NOT-A-CLASS-ID}", L"Broken"); // listed, but cannot be instantiated
        ASSERT_NE(module, nullptr); // the copy COM loads, so the hooks reach its instances
        configure("");
        list = std::make_unique<CAsioAudioDeviceList>(keys.load());
        ASSERT_EQ(list->getCount(), 3);
    }
    void TearDown() override
    {
        list.reset();
        hook<PomaroTestAsioConfigureFn>("PomaroTestAsioConfigure")(nullptr);
        CoUninitialize();
    }

    template <typename Fn> Fn hook(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    // Configures the driver objects made from now on and clears the counters and the call log.
    void configure(const std::string& text) const
    {
        hook<PomaroTestAsioConfigureFn>("PomaroTestAsioConfigure")(text.c_str());
        reset();
    }
    void reset() const { hook<PomaroTestAsioResetFn>("PomaroTestAsioReset")(); }
    PomaroTestAsioStats stats() const
    {
        PomaroTestAsioStats s{};
        hook<PomaroTestAsioStatsFn>("PomaroTestAsioStats")(&s);
        return s;
    }
    std::string calls() const
    {
        char text[4096];
        hook<PomaroTestAsioCallLogFn>("PomaroTestAsioCallLog")(text, sizeof text);
        return text;
    }
    CAsioAudioDevice* make(int32_t number = 0)
    {
        return static_cast<CAsioAudioDevice*>(list->createDevice(number));
    }
    // An open device prepared for 48 kHz, and started unless frames is negative.
    std::unique_ptr<CAsioAudioDevice> running(FakeProvider& provider, int32_t frames, bool start = true)
    {
        std::unique_ptr<CAsioAudioDevice> device(make(0));
        EXPECT_TRUE(device->open(nullptr));
        EXPECT_TRUE(device->prepare(Rate48000, frames, &provider));
        EXPECT_TRUE(!start || device->start());
        return device;
    }

    ScratchRegistry keys;
    HMODULE module = LoadLibraryW(kDll.c_str());
    std::unique_ptr<CAsioAudioDeviceList> list;
};

} // namespace

TEST_F(AsioDeviceTest, OpenLearnsFormatAndRatesOrReleasesTheDriver)
{
    const struct
    {
        const char* config;
        bool opens;
        SampleFormat format;
        const char* calls; // null: not looked at
        std::vector<std::wstring> log;
    } cases[] = {
        {"type = 16",
         true,
         SampleFormatInt16,
         "init getChannels canSampleRate canSampleRate canSampleRate canSampleRate getChannelInfo",
         {}},
        {"type = 18", true, SampleFormatInt32, nullptr, {}},
        {"type = 19", true, SampleFormatFloat32, nullptr, {}},
        {"type = 17", true, SampleFormatUnknown, nullptr, {}},
        {"fail = getChannelInfo", true, SampleFormatUnknown, nullptr, {}}, // still opens
        {"init_error = Hardware not found",
         false,
         SampleFormatUnknown,
         "init getErrorMessage",
         {L"ASIO Error : Hardware not found"}},
        {"outputs = 1", false, SampleFormatUnknown, nullptr, {}},
    };
    for (const auto& c : cases) {
        LogCapture log;
        configure(std::string(c.config) + "\nrates = 44100, 96000, 32000\n");
        std::unique_ptr<CAsioAudioDevice> device(make(1));
        EXPECT_STREQ(device->getName(), L"Test Driver B");
        EXPECT_EQ(device->getIndex(), 1);
        EXPECT_FALSE(device->isInterleaved());
        EXPECT_EQ(device->getDriverType(), DriverAsio);
        ASSERT_EQ(device->open(nullptr), c.opens) << c.config;
        EXPECT_EQ(device->deviceState(), c.opens ? DeviceOpen : DeviceClosed) << c.config;
        EXPECT_EQ(list->registry()->find(1)->pDriver != nullptr, c.opens) << c.config;
        EXPECT_EQ(stats().liveInstances, c.opens ? 1 : 0) << c.config;
        EXPECT_EQ(device->getSampleFormat(), c.format) << c.config;
        if (c.opens) {
            EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate96000);
            EXPECT_EQ(device->getSampleRate(), RateNone);
            std::unique_ptr<CAsioAudioDevice> twin(make(1));
            EXPECT_FALSE(twin->open(nullptr)) << "one instance per driver entry";
        } else {
            EXPECT_EQ(log.lines(), c.log) << c.config;
        }
        EXPECT_EQ(c.calls ? calls() : "", c.calls ? c.calls : "");
        device->close();
        EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
        EXPECT_EQ(device->getSupportedSampleRates(), 0);
        EXPECT_EQ(list->registry()->find(1)->pDriver, nullptr);
        EXPECT_EQ(stats().liveInstances, 0);
        // Nothing held: the next open instantiates the driver afresh.
        configure("");
        ASSERT_TRUE(device->open(nullptr));
        EXPECT_EQ(stats().instances, 1);
    }
}

TEST_F(AsioDeviceTest, OpenDriverResultsForEveryCase)
{
    AsioDriverRegistry* registry = list->registry();
    IAsioDriver *driver = nullptr, *second = nullptr;
    EXPECT_EQ(registry->openDriver(0, nullptr), kAsioOpenNoPointer);
    EXPECT_EQ(registry->openDriver(7, &driver), kAsioOpenNoEntry);
    EXPECT_TRUE(IsEqualCLSID(registry->find(2)->clsid, CLSID_NULL));
    EXPECT_LT(registry->openDriver(2, &driver), 0);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(registry->find(2)->pDriver, nullptr);
    ASSERT_EQ(registry->openDriver(0, &driver), 0);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(registry->openDriver(0, &second), kAsioOpenInUse);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(registry->find(0)->pDriver, driver) << "the first instance stays";
    EXPECT_EQ(stats().liveInstances, 1);
    list.reset(); // releases what its entries still hold
    EXPECT_EQ(stats().liveInstances, 0);
}

TEST_F(AsioDeviceTest, BufferSizeRangePassesTheDriversValuesOn)
{
    configure("min = 64\nmax = 2048\npreferred = 256\ngranularity = -1\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &minimum, &maximum, &preferred, &granularity));
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(std::vector<int32_t>({minimum, maximum, preferred, granularity}),
              std::vector<int32_t>({64, 2048, 256, -1}));
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, nullptr));
    int32_t only = 5;
    EXPECT_TRUE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, &only));
    EXPECT_EQ(only, -1);
    device->close();
    configure("fail = getBufferSize\n");
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &minimum, nullptr, nullptr, nullptr));
}

TEST_F(AsioDeviceTest, PrepareFailuresLeaveTheDeviceOpenAndNotCurrent)
{
    configure("min = 64\nmax = 2048\ngranularity = -1\nrates = 48000\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0)), second(make(1));
    FakeProvider provider, other;
    EXPECT_FALSE(device->prepare(Rate48000, 512, &provider)) << "not open";
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(second->open(nullptr));
    reset();
    // Bad arguments ask the driver nothing.
    EXPECT_FALSE(device->prepare(Rate48000, 0, &provider));
    EXPECT_FALSE(device->prepare(Rate48000, -4, &provider));
    EXPECT_FALSE(device->prepare(RateNone, 512, &provider));
    EXPECT_FALSE(device->prepare(Rate48000, 512, nullptr));
    EXPECT_EQ(calls(), "");
    EXPECT_FALSE(device->prepare(Rate48000, 480, &provider)) << "not a power of two";
    EXPECT_FALSE(device->prepare(Rate44100, 512, &provider)) << "rate refused";
    EXPECT_EQ(provider.prepares, 0);
    provider.acceptPrepare = false;
    reset();
    EXPECT_FALSE(device->prepare(Rate48000, 512, &provider));
    EXPECT_EQ(calls(), "setSampleRate createBuffers disposeBuffers");
    EXPECT_EQ(device->deviceState(), DeviceOpen);
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);

    provider.acceptPrepare = true;
    ASSERT_TRUE(device->prepare(Rate48000, 512, &provider));
    EXPECT_EQ(CAsioAudioDevice::current(), device.get());
    EXPECT_EQ(device->getSampleRate(), Rate48000);
    reset();
    EXPECT_FALSE(second->prepare(Rate48000, 512, &other)) << "one prepared device at a time";
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(second->deviceState(), DeviceOpen);
    ASSERT_TRUE(device->unprepare());
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
    EXPECT_TRUE(second->prepare(Rate48000, 512, &other));
}

TEST_F(AsioDeviceTest, StreamsBothChannelHalvesToTheProviderUntilStopped)
{
    // The host does not ask for time info; a driver that uses it anyway renders the same
    // way. A refused render is recorded while the driver keeps calling.
    const struct
    {
        const char* config;
        bool timeInfo, refuse;
    } cases[] = {{"type = 16\n", false, false},
                 {"type = 16\ncallback = timeinfo\n", true, false},
                 {"type = 16\n", false, true}};
    for (const auto& c : cases) {
        configure(c.config);
        FakeProvider provider;
        provider.refuseFrom = c.refuse ? 0 : -1;
        std::unique_ptr<CAsioAudioDevice> device = running(provider, 240, false);
        EXPECT_EQ(provider.prepared(), std::make_tuple(1, SampleFormatInt16, Rate48000, 240, false));
        EXPECT_EQ(device->deviceState(), DevicePrepared);
        EXPECT_EQ(stats().sampleRate, 48000);
        EXPECT_EQ(stats().bufferFrames, 240);
        ASSERT_TRUE(device->start());
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 10; }, 3000)) << c.config;
        EXPECT_EQ(device->deviceState(), c.refuse ? DeviceRenderRefused : DeviceRunning);
        EXPECT_NE(provider.lastLeft.load(), nullptr);
        EXPECT_NE(provider.lastRight.load(), nullptr);
        EXPECT_NE(provider.lastLeft.load(), provider.lastRight.load());
        ASSERT_TRUE(device->stop());
        EXPECT_EQ(device->deviceState(), DevicePrepared);
        const int afterStop = provider.renders.load();
        Sleep(30);
        EXPECT_EQ(provider.renders.load(), afterStop) << "no render after stop";
        EXPECT_EQ(stats().timeInfoCallbacks > 0, c.timeInfo) << c.config;
        ASSERT_TRUE(device->unprepare());
        EXPECT_EQ(device->deviceState(), DeviceOpen);
        EXPECT_EQ(device->getSampleRate(), RateNone);
        EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
        EXPECT_EQ(calls(), "init getChannels canSampleRate canSampleRate canSampleRate canSampleRate "
                           "getChannelInfo setSampleRate createBuffers start stop stop disposeBuffers");
    }
}

TEST_F(AsioDeviceTest, DeletingARunningDeviceEndsEveryCallbackFirst)
{
    // With a driver that stops, and with one whose stop fails and keeps calling until it
    // is released.
    for (const char* config : {"", "fail = stop, disposeBuffers\n"}) {
        configure(config);
        FakeProvider provider;
        provider.renderDelayMs = 2;
        CAsioAudioDevice* device = running(provider, 96).release();
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 5; }, 3000));
        delete device;
        EXPECT_FALSE(provider.inside.load()) << config;
        provider.ended = true;
        Sleep(40);
        EXPECT_FALSE(provider.renderAfterEnd.load()) << config;
        EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
        EXPECT_EQ(stats().liveInstances, 0) << config;
    }
}

TEST_F(AsioDeviceTest, DriverMessagesFromItsThreadReachTheProvider)
{
    const struct
    {
        const char* config;
        int resets;
        long resetAnswer, sizeAnswer;
    } cases[] = {
        {"reset_after = 3\n", 1, 1, -1},
        {"size_change_after = 3\n", 0, -1, 0},                       // the current size
        {"size_change_after = 3\nsize_change_to = 256\n", 1, -1, 0}, // another size
    };
    for (const auto& c : cases) {
        configure(c.config);
        FakeProvider provider;
        std::unique_ptr<CAsioAudioDevice> device = running(provider, 480);
        ASSERT_TRUE(waitFor([&] { return stats().messagesSent >= 1; }, 3000)) << c.config;
        device.reset();
        EXPECT_EQ(provider.resets.load(), c.resets) << c.config;
        EXPECT_EQ(stats().resetAnswer, c.resetAnswer) << c.config;
        EXPECT_EQ(stats().sizeChangeAnswer, c.sizeAnswer) << c.config;
    }
}

TEST_F(AsioDeviceTest, NoProviderCallOnTheStartingThreadOverlappingOrAfterStop)
{
    // Drivers that switch buffers inside start(), go on switching after stop returned,
    // or switch from a new thread now and then. Every call into the provider comes from
    // a driver thread between start and stop, one at a time; what the driver plays
    // outside that is silence.
    const struct
    {
        const char* config;
        long PomaroTestAsioStats::*evidence; // the misbehaviour happened
    } cases[] = {
        {"callback_in_start = yes\n", &PomaroTestAsioStats::callbacksInStart},
        {"after_stop = 6\n", &PomaroTestAsioStats::callbacksAfterStop},
        {"thread_every = 3\n", &PomaroTestAsioStats::threadCallbacks},
    };
    for (const auto& c : cases) {
        configure(std::string("type = 16\n") + c.config);
        FakeProvider provider;
        provider.renderDelayMs = 2; // stop comes while a call is inside, now and then
        std::unique_ptr<CAsioAudioDevice> device = running(provider, 96);
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 12; }, 3000)) << c.config;
        ASSERT_TRUE(device->stop());
        EXPECT_FALSE(provider.inside.load()) << c.config;
        provider.ended = true;
        auto* left = static_cast<int16_t*>(provider.lastLeft.load());
        const bool drained = waitFor([&] { return stats().callbacksAfterStop >= 6; }, 500);
        EXPECT_EQ(drained, c.evidence == &PomaroTestAsioStats::callbacksAfterStop) << c.config;
        EXPECT_GT(stats().*c.evidence, 0) << c.config;
        EXPECT_FALSE(provider.renderAfterEnd.load()) << c.config;
        EXPECT_FALSE(provider.onMainThread.load()) << c.config;
        EXPECT_FALSE(provider.overlapped.load()) << c.config;
        EXPECT_EQ(provider.otherThreads.load() > 0, c.evidence == &PomaroTestAsioStats::threadCallbacks)
            << c.config;
        for (int i = 0; drained && i < 96; ++i) // both halves switched after stop: silence
            ASSERT_EQ(left[i], 0) << i;
    }
}

TEST_F(AsioDeviceTest, CallbacksOfADeviceNoLongerPreparedReachNothing)
{
    configure("type = 16\n");
    FakeProvider provider;
    std::unique_ptr<CAsioAudioDevice> device = running(provider, 480, false);
    ASSERT_TRUE(device->unprepare());
    reset();
    ASSERT_EQ(CAsioAudioDevice::current(), nullptr);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioBufferSizeChange, 64, nullptr, nullptr), 0);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    CAsioAudioDevice::bufferSwitch(0, 1);
    EXPECT_EQ(CAsioAudioDevice::bufferSwitchTimeInfo(nullptr, 1, 1), nullptr);
    CAsioAudioDevice::sampleRateDidChange(48000.0);
    EXPECT_EQ(provider.renders.load(), 0);
    EXPECT_EQ(provider.resets.load(), 0);
    EXPECT_EQ(calls(), "");
}

TEST_F(AsioDeviceTest, ControlPanelThatIsNotThereIsExplained)
{
    for (const char* panel : {"no", "yes"}) {
        configure(std::string("panel = ") + panel);
        std::unique_ptr<CAsioAudioDevice> device(make(0));
        ASSERT_TRUE(device->open(nullptr));
        EXPECT_TRUE(device->hasControlPanel());
        // Presses OK on the box and keeps its text; the box blocks showControlPanel.
        std::wstring text;
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            for (HWND box = nullptr; !done && !box; Sleep(20))
                if ((box = FindWindowW(L"#32770", L"ASIO設定")) != nullptr) {
                    EnumChildWindows(
                        box,
                        [](HWND child, LPARAM out) -> BOOL {
                            wchar_t cls[32], buffer[256];
                            GetClassNameW(child, cls, 32);
                            if (lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(child, buffer, 256) > 0)
                                *reinterpret_cast<std::wstring*>(out) = buffer;
                            return TRUE;
                        },
                        reinterpret_cast<LPARAM>(&text));
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
        });
        EXPECT_EQ(device->showControlPanel(), std::string(panel) == "yes");
        Sleep(50);
        done = true;
        watcher.join();
        EXPECT_EQ(text, std::string(panel) == "yes" ? L"" : L"このドライバには設定パネルがありません。");
    }
}
