// The processing states against the recorder plug-in: what the plug-in is told, in
// which order, and where each refusal leaves the host.

#include "audio/CallInside.h"
#include "tests/app/TestHost.h"
#include "tests/processing/RecorderHost.h"

#include <gtest/gtest.h>

#include <memory>

namespace ProcessingTest {
namespace {

using namespace PomaroApp;
using Lines = std::vector<std::string>;

class Processing : public testing::Test
{
protected:
    void load(const wchar_t* v)
    {
        variant = v;
        ASSERT_TRUE(loadRecorder(host, variant));
        host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 480, true);
    }
    void TearDown() override
    {
        host.stopProcessing();
        host.pDevice = nullptr; // the device is the test's, not the host's
    }
    int32_t state() const { return host.processState.load(); }
    // setupProcessing / setActive / setProcessing as the plug-in saw them, in order.
    Lines stateCalls()
    {
        Lines out;
        for (const auto& l : recorderCalls(
                 variant, {"component.setupProcessing", "component.setActive", "component.setProcessing"}))
            out.push_back(l.call == "component.setupProcessing"
                              ? brief(l, "maxSamplesPerBlock") + " -> " + l.result
                              : brief(l, "state") + " -> " + l.result);
        return out;
    }
    size_t processCalls() { return recorderCalls(variant, {"component.process"}).size(); }

    CHost host;
    PomaroTest::CountingDevice device{host};
    std::wstring variant;
};

TEST_F(Processing, WithoutADeviceTheStartEndsActiveAfterProcessingWasSwitchedOnAndOff)
{
    load(L"recorder");
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Active);
    EXPECT_EQ(host.processData.data.numSamples, 480);
    ASSERT_NE(host.processData.data.outputs, nullptr);
    EXPECT_EQ(host.processData.data.outputs, host.processData.buffers.buses.get());
    EXPECT_EQ(host.processData.buffers.numSamples, 480);

    // From Active a later start tries again from switching processing on.
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Active);
    host.stopProcessing();
    EXPECT_EQ(state(), ProcessState::SetUp);
    host.stopProcessing(); // nothing left to stop
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_FALSE(host.onRender(nullptr, nullptr));

    EXPECT_EQ(
        stateCalls(),
        (Lines{"component.setupProcessing maxSamplesPerBlock=480 -> kResultOk",
               "component.setActive state=1 -> kResultOk", "component.setProcessing state=1 -> kResultOk",
               "component.setProcessing state=0 -> kResultOk", "component.setProcessing state=1 -> kResultOk",
               "component.setProcessing state=0 -> kResultOk", "component.setActive state=0 -> kResultOk"}));
    const auto setup = recorderCalls(variant, {"component.setupProcessing"});
    ASSERT_EQ(setup.size(), 1u);
    EXPECT_EQ(setup[0].arg("sampleRate"), "48000");
    EXPECT_EQ(setup[0].arg("symbolicSampleSize"), "0");
    EXPECT_EQ(setup[0].arg("processMode"), "0");
    EXPECT_EQ(processCalls(), 0u);
}

TEST_F(Processing, WithADeviceTheHostProcessesUntilStoppedAndEmptiesStaleQueuesAtStart)
{
    load(L"recorder");
    host.pDevice = &device;
    device.renderInsideStart = true;
    initMidiRing(host.midiRing);
    const uint8_t staleNote[4] = {0x90, 60, 100, 0};
    host.midiRing.push(packMidiMessage(staleNote));
    host.paramsToProcessor.addChange(0, 0.25, 0);
    host.paramsFromProcessor.addChange(0, 0.75, 0);

    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Processing);
    EXPECT_EQ(device.starts, 1);
    // The first buffer, asked for before start() returned, is not refused.
    EXPECT_TRUE(device.firstRender);
    EXPECT_EQ(host.midiRing.count(), 0);
    EXPECT_EQ(host.paramsToProcessor.count(), 0);
    EXPECT_EQ(host.paramsFromProcessor.count(), 0);

    // A note now reaches the plug-in with the next block.
    const uint8_t note[4] = {0x91, 69, 127, 0};
    host.onMidiData(note);
    std::vector<short> out(480 * 2, 0x55);
    EXPECT_TRUE(host.onRender(out.data(), nullptr));

    host.startProcessing(); // already processing: nothing happens
    EXPECT_EQ(device.starts, 1);
    host.stopProcessing();
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_EQ(device.stops, 1);
    EXPECT_FALSE(host.onRender(out.data(), nullptr));

    const auto process = recorderCalls(variant, {"component.process"});
    ASSERT_EQ(process.size(), 2u);
    EXPECT_EQ(process[0].arg("numEvents"), "0"); // the stale note was dropped
    EXPECT_EQ(process[0].arg("numParams"), "0");
    EXPECT_EQ(process[1].arg("events"), "[on:1:69:1:0:-1:0:1]");
    for (const auto& p : process) {
        EXPECT_EQ(p.arg("numSamples"), "480");
        EXPECT_EQ(p.arg("processing"), "1");
        EXPECT_EQ(p.arg("align16"), "1");
        EXPECT_EQ(p.arg("numOutputs"), "1");
        EXPECT_EQ(p.arg("channels"), "2");
        EXPECT_EQ(p.arg("context"), "0");
        EXPECT_EQ(p.arg("outEvents"), "0");
    }
    // The recorder sounds a note from the block of its note-on: the device got it.
    EXPECT_NE(*std::max_element(out.begin(), out.end()), 0);
    EXPECT_EQ(stateCalls().back(), "component.setActive state=0 -> kResultOk");
}

TEST_F(Processing, ARenderCallThatOutlivesTheDeviceStopKeepsThePlugInUntilItReturns)
{
    load(L"recorder");
    host.pDevice = &device;
    host.startProcessing();
    ASSERT_EQ(state(), ProcessState::Processing);
    const Lines started = stateCalls();
    const int32_t refs = host.refCount.load();
    {
        // Still inside the plug-in when the device gave up waiting for it.
        Kelvane::CallInside stuck(host.renderCalls);
        host.stopProcessing();
        host.unloadVstPlugin();
        host.startProcessing();
        EXPECT_EQ(stateCalls(), started) << "nothing switched off, deactivated or started beside the call";
        EXPECT_NE(host.hModule, nullptr);
        EXPECT_NE(host.pComponent, nullptr);
        EXPECT_EQ(device.starts, 1);
        EXPECT_EQ(host.refCount.load(), refs + 1) << "the call holds the host";
    }
    host.stopProcessing(); // the call has returned: stepped down, to be set up again
    Lines stopped = started;
    stopped.push_back("component.setProcessing state=0 -> kResultOk");
    stopped.push_back("component.setActive state=0 -> kResultOk");
    EXPECT_EQ(stateCalls(), stopped);
    EXPECT_EQ(state(), ProcessState::Initialized);
    EXPECT_EQ(host.refCount.load(), refs);
}

TEST_F(Processing, AFailedDeviceStartSwitchesProcessingOffAgain)
{
    load(L"recorder");
    host.pDevice = &device;
    device.startResult = false;
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Active);
    EXPECT_EQ(device.starts, 1);
    EXPECT_GE(device.stops, 1); // no render call can still be running
    EXPECT_EQ(stateCalls().back(), "component.setProcessing state=0 -> kResultOk");
    EXPECT_FALSE(host.onRender(nullptr, nullptr));
}

TEST_F(Processing, APlugInThatRefusesToProcessStaysActiveAndIsNeverAskedForAudio)
{
    load(L"setprocessing_notimpl");
    host.pDevice = &device;
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Active);
    EXPECT_EQ(device.starts, 0);
    EXPECT_FALSE(host.onRender(nullptr, nullptr));
    EXPECT_EQ(processCalls(), 0u);
    EXPECT_EQ(stateCalls().back(), "component.setProcessing state=1 -> kNotImplemented");
}

TEST_F(Processing, RefusedSetupOrActivationLeavesTheStateLower)
{
    {
        load(L"setup_refused");
        host.startProcessing();
        EXPECT_EQ(state(), ProcessState::Initialized);
        EXPECT_EQ(host.processData.data.numSamples, 480);
        EXPECT_EQ(stateCalls(), (Lines{"component.setupProcessing maxSamplesPerBlock=480 -> kResultFalse"}));
    }
    host.unloadVstPlugin();
    {
        load(L"setactive_refused");
        host.startProcessing();
        EXPECT_EQ(state(), ProcessState::SetUp);
        EXPECT_EQ(host.processData.data.outputs, nullptr);
        EXPECT_EQ(stateCalls(), (Lines{"component.setupProcessing maxSamplesPerBlock=480 -> kResultOk",
                                       "component.setActive state=1 -> kResultFalse"}));
    }
}

TEST_F(Processing, ARefusedSecondSetupKeepsTheFirstWhileItStillFitsTheDevice)
{
    load(L"setup_refused_second");
    host.startProcessing();
    host.stopProcessing();
    ASSERT_EQ(state(), ProcessState::SetUp);
    host.startProcessing(); // same buffer length: activation goes on with the first setup
    EXPECT_EQ(state(), ProcessState::Active);
    host.stopProcessing();

    // A longer buffer than the plug-in accepted must not reach it.
    host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 960, true);
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_EQ(host.processData.data.numSamples, 960);

    EXPECT_EQ(
        stateCalls(),
        (Lines{"component.setupProcessing maxSamplesPerBlock=480 -> kResultOk",
               "component.setActive state=1 -> kResultOk", "component.setProcessing state=1 -> kResultOk",
               "component.setProcessing state=0 -> kResultOk", "component.setActive state=0 -> kResultOk",
               "component.setupProcessing maxSamplesPerBlock=480 -> kResultFalse",
               "component.setActive state=1 -> kResultOk", "component.setProcessing state=1 -> kResultOk",
               "component.setProcessing state=0 -> kResultOk", "component.setActive state=0 -> kResultOk",
               "component.setupProcessing maxSamplesPerBlock=960 -> kResultFalse"}));
}

TEST_F(Processing, ANewBufferLengthIsSetUpBeforeTheNextActivationAndGetsNewChannels)
{
    load(L"recorder");
    host.pDevice = &device;
    host.startProcessing();
    host.stopProcessing();
    // The device is reopened with another buffer length; closing it stepped down to 2.
    host.onPrepare(Kelvane::SampleFormatInt32, Kelvane::Rate44100, 1001, false);
    host.processState.store(ProcessState::Initialized);
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Processing);
    EXPECT_EQ(host.processData.data.numSamples, 1001);
    EXPECT_EQ(host.processData.buffers.numSamples, 1001);
    float* const* ch = host.processData.data.outputs[0].channelBuffers32;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ch[0]) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<char*>(ch[1]) - reinterpret_cast<char*>(ch[0]), 4016);
    std::vector<int32_t> left(1001), right(1001);
    EXPECT_TRUE(host.onRender(left.data(), right.data()));
    host.stopProcessing();

    Lines calls = stateCalls();
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[5], "component.setupProcessing maxSamplesPerBlock=1001 -> kResultOk");
    EXPECT_EQ(calls[6], "component.setActive state=1 -> kResultOk");
    const auto setup = recorderCalls(variant, {"component.setupProcessing"});
    EXPECT_EQ(setup.back().arg("sampleRate"), "44100");
    EXPECT_EQ(recorderCalls(variant, {"component.process"}).back().arg("numSamples"), "1001");
}

} // namespace
} // namespace ProcessingTest
