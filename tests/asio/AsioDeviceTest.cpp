// The ASIO device against the test driver: what it asks the driver, what it tells the
// provider, and that no callback outlives the prepared device.
#include "audio/AsioAudioDevice.h"
#include "audio/AsioAudioDeviceList.h"
#include "tests/asio/AsioTestSupport.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Kelvane;

namespace {

class AsioDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        registerTestDriverClass();
        keys.addClass(POMARO_TEST_ASIO_CLSID_TEXT, testDriverPath().c_str());
        RegCloseKey(keys.addDriver(L"A", POMARO_TEST_ASIO_CLSID_TEXT, L"Test Driver A"));
        RegCloseKey(keys.addDriver(L"B", POMARO_TEST_ASIO_CLSID_TEXT, L"Test Driver B"));
        ASSERT_NE(hooks.module, nullptr);
        hooks.configure("");
        hooks.reset();
        auto* registry = new AsioDriverRegistry;
        keys.load(*registry);
        list = std::make_unique<CAsioAudioDeviceList>(registry);
        ASSERT_EQ(list->getCount(), 2);
    }
    void TearDown() override
    {
        list.reset();
        hooks.configure(nullptr);
        CoUninitialize();
    }

    CAsioAudioDevice* make(int32_t number = 0)
    {
        return static_cast<CAsioAudioDevice*>(list->createDevice(number));
    }

    ScratchRegistry keys;
    TestDriverHooks hooks;
    std::unique_ptr<CAsioAudioDeviceList> list;
};

} // namespace

TEST_F(AsioDeviceTest, OpenLearnsFormatAndRatesFromTheDriver)
{
    const struct
    {
        const char* type;
        SampleFormat format;
    } cases[] = {{"16", SampleFormatInt16},
                 {"18", SampleFormatInt32},
                 {"19", SampleFormatFloat32},
                 {"17", SampleFormatUnknown}};
    for (const auto& c : cases) {
        hooks.configure((std::string("type = ") + c.type + "\nrates = 44100, 96000, 32000\n").c_str());
        hooks.reset();
        std::unique_ptr<CAsioAudioDevice> device(make(1));
        EXPECT_EQ(device->getIndex(), 1);
        EXPECT_STREQ(device->getName(), L"Test Driver B");
        EXPECT_FALSE(device->isInterleaved());
        EXPECT_EQ(device->getDriverType(), DriverAsio);
        EXPECT_TRUE(device->hasControlPanel());
        ASSERT_TRUE(device->open(nullptr)) << c.type;
        EXPECT_EQ(device->deviceState(), DeviceOpen);
        EXPECT_EQ(device->getSampleFormat(), c.format) << c.type;
        EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate96000);
        EXPECT_EQ(device->getSampleRate(), RateNone);
        EXPECT_EQ(hooks.calls(), "init getChannels canSampleRate canSampleRate canSampleRate canSampleRate "
                                 "getChannelInfo");
        device->close();
        EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
        EXPECT_EQ(device->getSupportedSampleRates(), 0);
        EXPECT_EQ(hooks.stats().liveInstances, 0);
    }
    hooks.configure("fail = getChannelInfo\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    ASSERT_TRUE(device->open(nullptr)) << "a failing channel query still opens";
    EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
}

TEST_F(AsioDeviceTest, OpenFailuresReleaseTheDriver)
{
    LogCapture log;
    hooks.configure("init_error = Hardware not found\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    EXPECT_FALSE(device->open(nullptr));
    EXPECT_EQ(device->deviceState(), DeviceClosed);
    EXPECT_EQ(hooks.calls(), "init getErrorMessage");
    EXPECT_EQ(log.lines(), std::vector<std::wstring>{L"ASIO Error : Hardware not found"});
    EXPECT_EQ(hooks.stats().liveInstances, 0);
    EXPECT_EQ(list->registry()->find(0)->pDriver, nullptr);

    hooks.configure("outputs = 1\n");
    EXPECT_FALSE(device->open(nullptr));
    EXPECT_EQ(hooks.stats().liveInstances, 0);
    EXPECT_EQ(list->registry()->find(0)->pDriver, nullptr);

    // Nothing held: the next open instantiates the driver afresh.
    hooks.configure("");
    EXPECT_TRUE(device->open(nullptr));
    EXPECT_EQ(hooks.stats().instances, 3);
}

TEST_F(AsioDeviceTest, CloseReleasesBothReferencesSoReopenInstantiatesAgain)
{
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_NE(list->registry()->find(0)->pDriver, nullptr);
    std::unique_ptr<CAsioAudioDevice> twin(make(0));
    EXPECT_FALSE(twin->open(nullptr)) << "one instance per driver entry";
    EXPECT_TRUE(device->close());
    EXPECT_EQ(list->registry()->find(0)->pDriver, nullptr);
    EXPECT_EQ(hooks.stats().liveInstances, 0);
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_EQ(hooks.stats().instances, 2);
    EXPECT_EQ(hooks.stats().liveInstances, 1);
}

TEST_F(AsioDeviceTest, BufferSizeRangePassesTheDriversValuesOn)
{
    hooks.configure("min = 64\nmax = 2048\npreferred = 256\ngranularity = -1\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &minimum, &maximum, &preferred, &granularity))
        << "not open";
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(minimum, 64);
    EXPECT_EQ(maximum, 2048);
    EXPECT_EQ(preferred, 256);
    EXPECT_EQ(granularity, -1);
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, nullptr));
    int32_t only = 5;
    EXPECT_TRUE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, &only));
    EXPECT_EQ(only, -1);
    device->close();
    hooks.configure("fail = getBufferSize\n");
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &minimum, nullptr, nullptr, nullptr));
}

TEST_F(AsioDeviceTest, PrepareFailuresLeaveTheDeviceOpenAndNotCurrent)
{
    hooks.configure("min = 64\nmax = 2048\ngranularity = -1\nrates = 48000\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    FakeProvider provider;
    EXPECT_FALSE(device->prepare(Rate48000, 512, &provider)) << "not open";
    ASSERT_TRUE(device->open(nullptr));
    hooks.reset();
    // Bad arguments ask the driver nothing.
    EXPECT_FALSE(device->prepare(Rate48000, 0, &provider));
    EXPECT_FALSE(device->prepare(Rate48000, -4, &provider));
    EXPECT_FALSE(device->prepare(RateNone, 512, &provider));
    EXPECT_FALSE(device->prepare(Rate48000, 512, nullptr));
    EXPECT_EQ(hooks.calls(), "");
    EXPECT_FALSE(device->prepare(Rate48000, 480, &provider)) << "not a power of two";
    EXPECT_FALSE(device->prepare(Rate44100, 512, &provider)) << "rate refused";
    EXPECT_EQ(provider.prepares, 0);
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);

    provider.acceptPrepare = false;
    hooks.reset();
    EXPECT_FALSE(device->prepare(Rate48000, 512, &provider));
    EXPECT_EQ(hooks.calls(), "setSampleRate createBuffers disposeBuffers");
    EXPECT_EQ(device->deviceState(), DeviceOpen);
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);

    provider.acceptPrepare = true;
    ASSERT_TRUE(device->prepare(Rate48000, 512, &provider));
    EXPECT_EQ(CAsioAudioDevice::current(), device.get());
    EXPECT_EQ(device->getSampleRate(), Rate48000);
}

TEST_F(AsioDeviceTest, OnlyOneDeviceIsPreparedAtATime)
{
    std::unique_ptr<CAsioAudioDevice> first(make(0));
    std::unique_ptr<CAsioAudioDevice> second(make(1));
    FakeProvider a, b;
    ASSERT_TRUE(first->open(nullptr));
    ASSERT_TRUE(second->open(nullptr));
    ASSERT_TRUE(first->prepare(Rate48000, 480, &a));
    hooks.reset();
    EXPECT_FALSE(second->prepare(Rate48000, 480, &b));
    EXPECT_EQ(hooks.calls(), "");
    EXPECT_EQ(second->deviceState(), DeviceOpen);
    EXPECT_EQ(CAsioAudioDevice::current(), first.get());
    ASSERT_TRUE(first->unprepare());
    EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
    EXPECT_TRUE(second->prepare(Rate48000, 480, &b));
}

TEST_F(AsioDeviceTest, StreamsBothChannelHalvesToTheProviderUntilStopped)
{
    // The host does not ask for time info; a driver that uses it anyway renders the same way.
    for (const char* config : {"type = 16\n", "type = 16\ncallback = timeinfo\n"}) {
        const bool timeInfo = std::string(config).find("timeinfo") != std::string::npos;
        hooks.configure(config);
        std::unique_ptr<CAsioAudioDevice> device(make(0));
        FakeProvider provider;
        ASSERT_TRUE(device->open(nullptr));
        hooks.reset();
        ASSERT_TRUE(device->prepare(Rate48000, 240, &provider));
        EXPECT_EQ(provider.prepared(), std::make_tuple(1, SampleFormatInt16, Rate48000, 240, false));
        EXPECT_EQ(device->deviceState(), DevicePrepared);
        EXPECT_EQ(hooks.stats().sampleRate, 48000);
        EXPECT_EQ(hooks.stats().bufferFrames, 240);

        ASSERT_TRUE(device->start());
        EXPECT_EQ(device->deviceState(), DeviceRunning);
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 10; }, 3000));
        void* left = provider.lastLeft.load();
        void* right = provider.lastRight.load();
        EXPECT_NE(left, nullptr);
        EXPECT_NE(right, nullptr);
        EXPECT_NE(left, right);
        ASSERT_TRUE(device->stop());
        EXPECT_EQ(device->deviceState(), DevicePrepared);
        const int afterStop = provider.renders.load();
        Sleep(30);
        EXPECT_EQ(provider.renders.load(), afterStop) << "no render after stop";
        EXPECT_EQ(hooks.stats().timeInfoCallbacks > 0, timeInfo) << config;

        ASSERT_TRUE(device->unprepare());
        EXPECT_EQ(device->deviceState(), DeviceOpen);
        EXPECT_EQ(device->getSampleRate(), RateNone);
        EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
        EXPECT_EQ(hooks.calls(), "setSampleRate createBuffers start stop stop disposeBuffers");
    }
}

TEST_F(AsioDeviceTest, RefusedRenderIsRecordedWhileTheDriverKeepsCalling)
{
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    FakeProvider provider;
    provider.refuseFrom = 0;
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(device->prepare(Rate48000, 240, &provider));
    ASSERT_TRUE(device->start());
    ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 2; }, 3000));
    EXPECT_EQ(device->deviceState(), DeviceRenderRefused);
    const int seen = provider.renders.load();
    EXPECT_TRUE(waitFor([&] { return provider.renders.load() >= seen + 3; }, 3000));
    ASSERT_TRUE(device->stop());
    EXPECT_EQ(device->deviceState(), DevicePrepared);
}

TEST_F(AsioDeviceTest, DeletingARunningDeviceEndsEveryCallbackFirst)
{
    // Twice: with a driver that stops, and with one whose stop fails and keeps calling
    // until it is released.
    for (const char* config : {"", "fail = stop, disposeBuffers\n"}) {
        hooks.configure(config);
        hooks.reset();
        CAsioAudioDevice* device = make(0);
        FakeProvider provider;
        provider.renderDelayMs = 2;
        ASSERT_TRUE(device->open(nullptr));
        ASSERT_TRUE(device->prepare(Rate48000, 96, &provider));
        ASSERT_TRUE(device->start());
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 5; }, 3000));
        delete device;
        EXPECT_FALSE(provider.inside.load()) << config;
        provider.ended = true;
        Sleep(40);
        EXPECT_FALSE(provider.renderAfterEnd.load()) << config;
        EXPECT_EQ(CAsioAudioDevice::current(), nullptr);
        EXPECT_EQ(hooks.stats().liveInstances, 0) << config;
    }
}

TEST_F(AsioDeviceTest, DriverMessagesFromItsThreadReachTheProvider)
{
    const struct
    {
        const char* config;
        int resets;
        long resetAnswer;
        long sizeAnswer;
    } cases[] = {
        {"reset_after = 3\n", 1, 1, -1},
        {"size_change_after = 3\n", 0, -1, 0},                       // the current size
        {"size_change_after = 3\nsize_change_to = 256\n", 1, -1, 0}, // another size
    };
    for (const auto& c : cases) {
        hooks.configure(c.config);
        hooks.reset();
        std::unique_ptr<CAsioAudioDevice> device(make(0));
        FakeProvider provider;
        ASSERT_TRUE(device->open(nullptr));
        ASSERT_TRUE(device->prepare(Rate48000, 480, &provider));
        ASSERT_TRUE(device->start());
        ASSERT_TRUE(waitFor([&] { return hooks.stats().messagesSent >= 1; }, 3000)) << c.config;
        device.reset();
        EXPECT_EQ(provider.resets.load(), c.resets) << c.config;
        EXPECT_EQ(hooks.stats().resetAnswer, c.resetAnswer) << c.config;
        EXPECT_EQ(hooks.stats().sizeChangeAnswer, c.sizeAnswer) << c.config;
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
        hooks.configure((std::string("type = 16\n") + c.config).c_str());
        hooks.reset();
        std::unique_ptr<CAsioAudioDevice> device(make(0));
        FakeProvider provider;
        provider.renderDelayMs = 2; // stop comes while a call is inside, now and then
        ASSERT_TRUE(device->open(nullptr));
        ASSERT_TRUE(device->prepare(Rate48000, 96, &provider));
        ASSERT_TRUE(device->start());
        ASSERT_TRUE(waitFor([&] { return provider.renders.load() >= 12; }, 3000)) << c.config;
        ASSERT_TRUE(device->stop());
        EXPECT_FALSE(provider.inside.load()) << c.config;
        provider.ended = true;
        auto* left = static_cast<int16_t*>(provider.lastLeft.load());
        const bool drained = waitFor([&] { return hooks.stats().callbacksAfterStop >= 6; }, 500);
        EXPECT_EQ(drained, c.evidence == &PomaroTestAsioStats::callbacksAfterStop) << c.config;
        EXPECT_GT(hooks.stats().*c.evidence, 0) << c.config;
        EXPECT_FALSE(provider.renderAfterEnd.load()) << c.config;
        EXPECT_FALSE(provider.onMainThread.load()) << c.config;
        EXPECT_FALSE(provider.overlapped.load()) << c.config;
        EXPECT_EQ(provider.otherThreads.load() > 0, c.evidence == &PomaroTestAsioStats::threadCallbacks)
            << c.config;
        if (drained) { // both halves were switched after stop: silence, not the provider's counter
            for (int i = 0; i < 96; ++i)
                ASSERT_EQ(left[i], 0) << i;
        }
    }
}

TEST_F(AsioDeviceTest, CallbacksOfADeviceNoLongerPreparedReachNothing)
{
    hooks.configure("type = 16\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    FakeProvider provider;
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(device->prepare(Rate48000, 480, &provider));
    ASSERT_TRUE(device->unprepare());
    hooks.reset();
    ASSERT_EQ(CAsioAudioDevice::current(), nullptr);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioBufferSizeChange, 64, nullptr, nullptr), 0);
    EXPECT_EQ(CAsioAudioDevice::asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    CAsioAudioDevice::bufferSwitch(0, 1);
    EXPECT_EQ(CAsioAudioDevice::bufferSwitchTimeInfo(nullptr, 1, 1), nullptr);
    CAsioAudioDevice::sampleRateDidChange(48000.0);
    EXPECT_EQ(provider.renders.load(), 0);
    EXPECT_EQ(provider.resets.load(), 0);
    EXPECT_EQ(hooks.calls(), "");
}

namespace {

// Presses OK on the first message box titled title and keeps its text.
struct BoxWatcher
{
    explicit BoxWatcher(const wchar_t* boxTitle) : title(boxTitle), worker([this] { run(); }) {}
    ~BoxWatcher()
    {
        stop = true;
        worker.join();
    }
    void run()
    {
        while (!stop) {
            if (HWND box = FindWindowW(L"#32770", title)) {
                EnumChildWindows(
                    box,
                    [](HWND child, LPARAM self) -> BOOL {
                        wchar_t cls[32], buffer[256];
                        GetClassNameW(child, cls, 32);
                        if (lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(child, buffer, 256) > 0)
                            reinterpret_cast<BoxWatcher*>(self)->text = buffer;
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(this));
                found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    }
    const wchar_t* title;
    std::wstring text;
    std::atomic<bool> found{false};
    std::atomic<bool> stop{false};
    std::thread worker;
};

} // namespace

TEST_F(AsioDeviceTest, ControlPanelThatIsNotThereIsExplained)
{
    hooks.configure("panel = no\n");
    std::unique_ptr<CAsioAudioDevice> device(make(0));
    ASSERT_TRUE(device->open(nullptr));
    {
        BoxWatcher watcher(L"ASIO設定");
        EXPECT_FALSE(device->showControlPanel());
        EXPECT_TRUE(watcher.found.load());
        EXPECT_EQ(watcher.text, L"このドライバには設定パネルがありません。");
    }
    device->close();
    hooks.configure("panel = yes\n");
    ASSERT_TRUE(device->open(nullptr));
    BoxWatcher none(L"ASIO設定");
    EXPECT_TRUE(device->showControlPanel());
    Sleep(50);
    EXPECT_FALSE(none.found.load());
}
