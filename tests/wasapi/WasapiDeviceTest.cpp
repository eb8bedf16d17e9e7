// The WASAPI endpoint list and device against the test endpoint, under Wine.
#include "FakeProvider.h"
#include "TestEndpointHarness.h"

#include "audio/WasapiAudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace Kelvane;

namespace {

const char kOneEndpoint[] =
    "[endpoint]\nname = Speakers (Test)\nrates = 44100, 48000\nperiod = 100000\nmin_period = 30000\n";

class WasapiDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        harness = std::make_unique<WasapiTest::TestEndpointHarness>();
        ASSERT_TRUE(harness->ready()) << "PomaroTestEndpoint.dll missing beside the test";
    }
    void TearDown() override
    {
        device.reset();
        list.reset();
        harness.reset();
        CoUninitialize();
    }

    // The list and a device for entry 0 of the configuration, recording what it renders.
    void make(const std::string& config)
    {
        device.reset();
        harness->configure("wav = " + harness->wavPathUtf8() + "\n" + config);
        list = std::make_unique<CWasapiAudioDeviceList>();
        device.reset(static_cast<CWasapiAudioDevice*>(list->createDevice(0)));
    }

    // Opens, prepares at 48 kHz and starts entry 0.
    void run(FakeProvider& provider, int32_t frames = 480)
    {
        ASSERT_TRUE(device && device->open(nullptr));
        ASSERT_TRUE(device->prepare(Rate48000, frames, &provider));
        ASSERT_TRUE(device->start());
    }

    static bool waitFor(const std::atomic<int>& value, int atLeast)
    {
        for (int waited = 0; value.load() < atLeast && waited < 3000; waited += 5)
            Sleep(5);
        return value.load() >= atLeast;
    }

    std::unique_ptr<WasapiTest::TestEndpointHarness> harness;
    std::unique_ptr<CWasapiAudioDeviceList> list; // declared before the device: goes last
    std::unique_ptr<CWasapiAudioDevice> device;
};

} // namespace

TEST_F(WasapiDeviceTest, ListSnapshotsActiveRenderEndpointsByName)
{
    make("[endpoint]\nname = Alpha\n"
         "[endpoint]\n"                                  // no readable friendly name
         "[endpoint]\nname = Hidden\nstate = disabled\n" // never listed
         "[endpoint]\nname = Mic\nflow = capture\n"      // never listed
         "[endpoint]\nname = スピーカー\n");
    ASSERT_EQ(list->getCount(), 3);
    const wchar_t* const names[] = {nullptr, L"Alpha", L"", L"スピーカー", nullptr};
    for (int i = -1; i <= 3; ++i) {
        EXPECT_EQ(std::wstring(list->getName(i) ? list->getName(i) : L"-"),
                  names[i + 1] ? names[i + 1] : L"-");
        EXPECT_EQ(std::unique_ptr<CAudioDevice>(list->createDevice(i)) != nullptr, names[i + 1] != nullptr);
    }
    { // Two devices for one entry are separate, share the list's name and open alone.
        std::unique_ptr<CAudioDevice> a(list->createDevice(2)), b(list->createDevice(2));
        ASSERT_TRUE(a && b && a != b);
        EXPECT_EQ(a->getName(), list->getName(2));
        EXPECT_EQ(b->getName(), list->getName(2));
        EXPECT_EQ(a->getIndex(), 2);
        EXPECT_TRUE(a->open(nullptr));
        EXPECT_EQ(b->getSupportedSampleRates(), 0);
        EXPECT_EQ(a->getDriverType(), DriverWasapi);
        EXPECT_TRUE(a->isInterleaved());
        EXPECT_FALSE(a->hasControlPanel() || a->showControlPanel());
    }

    make("fail = EnumAudioEndpoints\n[endpoint]\nname = Alpha\n");
    EXPECT_EQ(list->getCount(), 0);
    EXPECT_EQ(list->getName(0), nullptr);
    EXPECT_EQ(device, nullptr);
    make("[endpoint]\nname = Alpha\nfail = GetDevice\n"); // listed, but cannot be reached again
    EXPECT_EQ(list->getCount(), 1);
    EXPECT_EQ(device, nullptr);
}

TEST_F(WasapiDeviceTest, OpenProbesRatesAndReportsTheSizeRange)
{
    make(kOneEndpoint);
    ASSERT_TRUE(device);
    int32_t value = -1;
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, &value, nullptr, nullptr, nullptr)); // closed
    EXPECT_EQ(device->getSupportedSampleRates(), 0);
    for (int round = 0; round < 2; ++round) { // opening again changes nothing
        ASSERT_TRUE(device->open(nullptr));
        EXPECT_EQ(device->currentState(), DeviceOpen);
        EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);
        EXPECT_EQ(device->getSampleFormat(), SampleFormatInt16);
    }
    int32_t range[4] = {};
    ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &range[0], &range[1], &range[2], &range[3]));
    EXPECT_EQ(std::vector<int32_t>(range, range + 4), (std::vector<int32_t>{144, 960, 144, 16}));
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, nullptr));
    range[0] = range[3] = -7;
    ASSERT_TRUE(device->getBufferSizeRange(Rate44100, nullptr, nullptr, nullptr, &range[3]));
    EXPECT_EQ(range[0], -7);
    EXPECT_EQ(range[3], 16);
    EXPECT_TRUE(device->close());
    EXPECT_EQ(device->currentState(), DeviceClosed);
    EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
    EXPECT_TRUE(device->open(nullptr)); // the endpoint stays: it opens again

    make("[endpoint]\nname = Odd\nrates = 8000\n");
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_EQ(device->getSupportedSampleRates(), 0);
    EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
    FakeProvider provider;
    EXPECT_FALSE(device->prepare(Rate48000, 480, &provider));
    EXPECT_EQ(provider.prepares, 0);
    make("[endpoint]\nname = Broken\nfail = Activate\n");
    EXPECT_FALSE(device->open(nullptr));
    EXPECT_EQ(device->currentState(), DeviceClosed);
}

TEST_F(WasapiDeviceTest, PrepareRejectsBadArgumentsAndRefusalsAndAnnouncesWhatEveryRenderGets)
{
    make(kOneEndpoint);
    FakeProvider provider;
    EXPECT_FALSE(device->prepare(Rate48000, 480, &provider)); // not open
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_FALSE(device->prepare(Rate48000, 0, &provider));
    EXPECT_FALSE(device->prepare(RateNone, 480, &provider));
    EXPECT_FALSE(device->prepare(Rate48000, 480, nullptr));
    EXPECT_EQ(provider.prepares, 0);
    provider.acceptPrepare = false;
    EXPECT_FALSE(device->prepare(Rate48000, 480, &provider));
    EXPECT_EQ(provider.prepares, 1);
    EXPECT_EQ(device->currentState(), DeviceOpen);
    EXPECT_EQ(device->getSampleRate(), RateNone);
    EXPECT_FALSE(device->start());
    EXPECT_EQ(provider.renders.load() + provider.notReadyCalls.load(), 0);

    // An initialised client is never initialised again: the host reopens the device.
    provider.acceptPrepare = true;
    ASSERT_TRUE(device->close() && device->open(nullptr));
    ASSERT_TRUE(device->prepare(Rate48000, 480, &provider));
    EXPECT_EQ(provider.prepared(), std::make_tuple(2, SampleFormatInt16, Rate48000, 480, true));
    EXPECT_EQ(device->getSampleRate(), Rate48000);
    EXPECT_EQ(device->currentState(), DevicePrepared);
    EXPECT_TRUE(device->unprepare());
    EXPECT_EQ(device->currentState(), DeviceOpen);
    EXPECT_EQ(device->getSampleRate(), RateNone);
}

TEST_F(WasapiDeviceTest, TheEndpointsBufferSizeIsAnnouncedAndFilledWhole)
{
    // An unaligned request is retried at the size the endpoint names; a buffer that comes
    // out larger than asked is announced, and every period carries exactly what was written.
    for (const char* endpoint : {"align = 32\nnot_aligned = 480:512\n", "extra_frames = 32\n"}) {
        SCOPED_TRACE(endpoint);
        make(std::string("[endpoint]\nname = Sized\nrates = 48000\n") + endpoint);
        FakeProvider provider;
        run(provider);
        EXPECT_EQ(provider.preparedFrames, 512);
        EXPECT_EQ(device->getBufferFrames(), 512);
        ASSERT_TRUE(waitFor(provider.renders, 20));
        device->stop();
        const std::vector<int16_t> left = harness->recordedLeft();
        ASSERT_GE(left.size(), 512u * 21);
        for (size_t i = 0; i < 512u * 21; ++i) // after the pre-roll, the provider's frame counter
            ASSERT_EQ(left[i], i < 512 ? 0 : int16_t((i - 512) % 30000 + 1)) << "frame " << i;
        EXPECT_EQ(provider.lastRight.load(), nullptr);
    }
}

TEST_F(WasapiDeviceTest, StartStopAndTheWaysRenderingEnds)
{
    make(kOneEndpoint);
    FakeProvider provider;
    ASSERT_TRUE(device->open(nullptr));
    EXPECT_FALSE(device->start()); // not prepared
    ASSERT_TRUE(device->prepare(Rate48000, 480, &provider));
    EXPECT_TRUE(device->stop()); // never started
    EXPECT_EQ(device->currentState(), DevicePrepared);
    ASSERT_TRUE(device->start());
    EXPECT_FALSE(device->start());
    EXPECT_EQ(device->currentState(), DeviceRunning);
    ASSERT_TRUE(waitFor(provider.renders, 3));
    EXPECT_NE(provider.renderThread.load(), GetCurrentThreadId());
    EXPECT_TRUE(device->stop() && device->stop());
    EXPECT_EQ(device->currentState(), DevicePrepared);
    int after = provider.renders.load();
    Sleep(50);
    EXPECT_EQ(provider.renders.load(), after);

    // Started again, it renders until the provider refuses, and nothing is asked after that.
    provider.refuseFrom = after + 3;
    ASSERT_TRUE(device->start());
    ASSERT_TRUE(waitFor(provider.renders, after + 4));
    Sleep(60);
    EXPECT_EQ(provider.renders.load(), after + 4);
    EXPECT_EQ(device->currentState(), DeviceRenderRefused);
    EXPECT_TRUE(device->stop());
    EXPECT_EQ(device->currentState(), DevicePrepared);

    // Deleting a running device ends its rendering and gives every interface back in order.
    provider.refuseFrom = -1;
    ASSERT_TRUE(device->start());
    ASSERT_TRUE(waitFor(provider.renders, after + 8));
    device.reset();
    after = provider.renders.load();
    Sleep(100);
    EXPECT_EQ(provider.renders.load(), after);
    list.reset();
    EXPECT_GE(harness->stats()["periods"], 3); // the last stream's counters, written as it ended
    EXPECT_EQ(harness->stats()["misuse"], 0) << "calls out of the endpoint's order";
}

TEST_F(WasapiDeviceTest, RenderThreadThatOutlivesTheStopTimeOutEndsAlone)
{
    make(kOneEndpoint);
    FakeProvider provider;
    run(provider);
    ASSERT_TRUE(waitFor(provider.renders, 2));
    provider.hold(); // the next call stays inside the provider
    const int held = provider.entered.load() + 1;
    ASSERT_TRUE(waitFor(provider.entered, held));
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, provider.renderThread.load());
    ASSERT_NE(thread, nullptr);
    const DWORD before = GetTickCount();
    device.reset(); // waits its time-out, then lets the thread finish on its own
    const DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, CWasapiAudioDevice::kStopTimeoutMs - 100);
    EXPECT_LT(waited, CWasapiAudioDevice::kStopTimeoutMs + 2000);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    provider.letGo();
    EXPECT_EQ(WaitForSingleObject(thread, 3000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(thread);
    EXPECT_EQ(provider.entered.load(), held); // nothing asked after the device went
}
