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

    // The list and a device for entry 0 of the given configuration.
    void make(const std::string& config, bool record = false)
    {
        harness->configure((record ? "wav = " + harness->wavPathUtf8() + "\n" : std::string()) + config);
        list = std::make_unique<CWasapiAudioDeviceList>();
        device.reset(static_cast<CWasapiAudioDevice*>(list->createDevice(0)));
    }

    // Prepares entry 0 at 48 kHz for frames and starts it.
    void run(FakeProvider& provider, int32_t frames = 480)
    {
        ASSERT_TRUE(device);
        ASSERT_TRUE(device->open(nullptr));
        ASSERT_TRUE(device->prepare(Rate48000, frames, &provider));
        ASSERT_TRUE(device->start());
    }

    static bool waitFor(const std::atomic<int>& value, int atLeast, DWORD ms = 3000)
    {
        for (DWORD waited = 0; waited < ms; waited += 5) {
            if (value.load() >= atLeast)
                return true;
            Sleep(5);
        }
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
    EXPECT_STREQ(list->getName(0), L"Alpha");
    ASSERT_NE(list->getName(1), nullptr);
    EXPECT_STREQ(list->getName(1), L"");
    EXPECT_STREQ(list->getName(2), L"スピーカー");
    EXPECT_EQ(list->getName(-1), nullptr);
    EXPECT_EQ(list->getName(3), nullptr);
    EXPECT_EQ(list->createDevice(-1), nullptr);
    EXPECT_EQ(list->createDevice(3), nullptr);

    // Two devices for one entry are separate, share the list's name and open alone.
    std::unique_ptr<CAudioDevice> a(list->createDevice(2)), b(list->createDevice(2));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->getName(), list->getName(2));
    EXPECT_EQ(b->getName(), list->getName(2));
    EXPECT_EQ(a->getIndex(), 2);
    EXPECT_TRUE(a->open(nullptr));
    EXPECT_EQ(b->getSupportedSampleRates(), 0);
    EXPECT_EQ(a->getDriverType(), DriverWasapi);
    EXPECT_TRUE(a->isInterleaved());
    EXPECT_FALSE(a->hasControlPanel());
    EXPECT_FALSE(a->showControlPanel());
}

TEST_F(WasapiDeviceTest, FailedEnumerationGivesAnEmptyList)
{
    make("fail = EnumAudioEndpoints\n[endpoint]\nname = Alpha\n");
    EXPECT_EQ(list->getCount(), 0);
    EXPECT_EQ(list->getName(0), nullptr);
    EXPECT_EQ(device, nullptr);

    // An entry whose endpoint cannot be reached again gives no device.
    make("[endpoint]\nname = Alpha\nfail = GetDevice\n");
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

    ASSERT_TRUE(device->open(nullptr));
    EXPECT_EQ(device->currentState(), DeviceOpen);
    EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);
    EXPECT_EQ(device->getSampleFormat(), SampleFormatInt16);
    EXPECT_TRUE(device->open(nullptr));
    EXPECT_EQ(device->getSupportedSampleRates(), Rate44100 | Rate48000);

    int32_t minFrames = 0, maxFrames = 0, preferred = 0, granularity = 0;
    ASSERT_TRUE(device->getBufferSizeRange(Rate48000, &minFrames, &maxFrames, &preferred, &granularity));
    EXPECT_EQ(minFrames, 144);
    EXPECT_EQ(maxFrames, 960);
    EXPECT_EQ(preferred, 144);
    EXPECT_EQ(granularity, 16);
    EXPECT_FALSE(device->getBufferSizeRange(Rate48000, nullptr, nullptr, nullptr, nullptr));
    minFrames = maxFrames = preferred = -7;
    granularity = 0;
    ASSERT_TRUE(device->getBufferSizeRange(Rate44100, nullptr, nullptr, nullptr, &granularity));
    EXPECT_EQ(granularity, 16);
    EXPECT_EQ(minFrames + maxFrames + preferred, -21);

    EXPECT_TRUE(device->close());
    EXPECT_EQ(device->currentState(), DeviceClosed);
    EXPECT_EQ(device->getSampleFormat(), SampleFormatUnknown);
    EXPECT_TRUE(device->open(nullptr)); // the endpoint stays: it opens again
}

TEST_F(WasapiDeviceTest, EndpointWithoutUsableRateOpensEmpty)
{
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
    EXPECT_EQ(device->currentState(), DeviceOpen);
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

TEST_F(WasapiDeviceTest, UnalignedRequestIsRetriedWithTheAlignedSize)
{
    make("[endpoint]\nname = Aligned\nrates = 48000\nalign = 32\nnot_aligned = 480:512\n");
    FakeProvider provider;
    ASSERT_TRUE(device->open(nullptr));
    ASSERT_TRUE(device->prepare(Rate48000, 480, &provider));
    EXPECT_EQ(provider.preparedFrames, 512);
    EXPECT_EQ(device->getBufferFrames(), 512);
}

TEST_F(WasapiDeviceTest, LargerEndpointBufferIsAnnouncedAndFilledWhole)
{
    // The endpoint makes its buffer 32 frames longer than asked: the provider is told
    // 512 and each period carries exactly its 512 frames, nothing it did not write.
    make("[endpoint]\nname = Roomy\nrates = 48000\nextra_frames = 32\n", true);
    FakeProvider provider;
    run(provider);
    EXPECT_EQ(provider.preparedFrames, 512);
    ASSERT_TRUE(waitFor(provider.renders, 20));
    device->stop();
    const std::vector<int16_t> left = harness->recordedLeft();
    ASSERT_GE(left.size(), 512u * 21);
    for (size_t i = 0; i < 512; ++i)
        ASSERT_EQ(left[i], 0) << "pre-roll frame " << i;
    for (size_t i = 512; i < 512u * 21; ++i)
        ASSERT_EQ(left[i], int16_t((i - 512) % 30000 + 1)) << "frame " << i;
    EXPECT_EQ(provider.lastRight.load(), nullptr);
}

TEST_F(WasapiDeviceTest, StartTwiceStopBeforeStartStopTwice)
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
    const DWORD renderThread = provider.renderThread.load();
    EXPECT_NE(renderThread, GetCurrentThreadId());
    EXPECT_TRUE(device->stop());
    const int after = provider.renders.load();
    EXPECT_EQ(device->currentState(), DevicePrepared);
    EXPECT_TRUE(device->stop());
    Sleep(50);
    EXPECT_EQ(provider.renders.load(), after);
    // Started again, it renders again on a new thread.
    ASSERT_TRUE(device->start());
    EXPECT_TRUE(waitFor(provider.renders, after + 3));
}

TEST_F(WasapiDeviceTest, DeletingARunningDeviceEndsItsRendering)
{
    make(kOneEndpoint, true);
    FakeProvider provider;
    run(provider);
    ASSERT_TRUE(waitFor(provider.renders, 5));
    device.reset();
    const int after = provider.renders.load();
    Sleep(100);
    EXPECT_EQ(provider.renders.load(), after);
    // The endpoint saw its stream stopped and every interface given back.
    list.reset();
    EXPECT_GE(harness->stats()["periods"], after);
    EXPECT_EQ(harness->stats()["misuse"], 0) << "calls out of the endpoint's order";
}

TEST_F(WasapiDeviceTest, RefusalHandsThePeriodOverAndEndsTheLoop)
{
    make(kOneEndpoint);
    FakeProvider provider;
    provider.refuseFrom = 3;
    run(provider);
    ASSERT_TRUE(waitFor(provider.renders, 4));
    Sleep(60);
    EXPECT_EQ(provider.renders.load(), 4); // no call after the refusal
    EXPECT_EQ(device->currentState(), DeviceRenderRefused);
    EXPECT_TRUE(device->stop());
    EXPECT_EQ(device->currentState(), DevicePrepared);
}

TEST_F(WasapiDeviceTest, HostThatBecomesReadyLateStillGetsItsStream)
{
    // The host marks itself processing only after start returned; here it takes 200 ms.
    // Its requests before that go out as silence and the stream keeps asking.
    make(kOneEndpoint, true);
    FakeProvider provider;
    provider.ready = false;
    run(provider);
    Sleep(200);
    EXPECT_GT(provider.notReadyCalls.load(), 5);
    EXPECT_EQ(provider.renders.load(), 0);
    provider.ready.store(true, std::memory_order_release);
    ASSERT_TRUE(waitFor(provider.renders, 10));
    EXPECT_EQ(device->currentState(), DeviceRunning);
    device->stop();
    const std::vector<int16_t> left = harness->recordedLeft();
    const size_t silent = size_t(provider.notReadyCalls.load() + 1) * 480; // with the pre-roll
    ASSERT_GT(left.size(), silent + 480);
    for (size_t i = 0; i < silent; ++i)
        ASSERT_EQ(left[i], 0) << "frame " << i;
    EXPECT_EQ(left[silent], 1);
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
    device.reset(); // waits its 3000 ms, then lets the thread finish on its own
    const DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, CWasapiAudioDevice::kStopTimeoutMs - 100);
    EXPECT_LT(waited, CWasapiAudioDevice::kStopTimeoutMs + 2000);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    provider.letGo();
    EXPECT_EQ(WaitForSingleObject(thread, 3000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(thread);
    EXPECT_EQ(provider.entered.load(), held); // nothing asked after the device went
}
