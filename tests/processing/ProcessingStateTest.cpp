// The processing states against the recorder plug-in: what the plug-in is told, in
// which order, and where each refusal leaves the host.

#include "app/Host.h"
#include "audio/CallInside.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/base/smartpointer.h"
#include "tests/app/TestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace ProcessingTest {
namespace {

using namespace PomaroApp;
using namespace Steinberg;
using Lines = std::vector<std::string>;

class Processing : public testing::Test
{
protected:
    // Loads testplugins\<variant>.vst3 as the loader leaves it: created and initialised.
    void load(const char* variant)
    {
        char dir[MAX_PATH];
        log = std::string(dir, GetTempPathA(MAX_PATH, dir)) + "pomaro_processing_" + variant + ".log";
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("POMARO_RECORDER_LOG", log.c_str());
        std::string dll(dir, GetModuleFileNameA(nullptr, dir, MAX_PATH));
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "testplugins\\" + variant + ".vst3";
        host.hModule = LoadLibraryA(dll.c_str());
        ASSERT_NE(host.hModule, nullptr) << dll;
        using EntryFn = bool(PLUGIN_API*)();
        if (auto initDll = reinterpret_cast<EntryFn>(entry("InitDll")))
            initDll();
        using FactoryFn = IPluginFactory*(PLUGIN_API*)();
        IPtr<IPluginFactory> factory = owned(reinterpret_cast<FactoryFn>(entry("GetPluginFactory"))());
        PClassInfo info{};
        ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
        factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&host.pComponent));
        ASSERT_TRUE(host.pComponent);
        host.pComponent->queryInterface(Vst::IAudioProcessor::iid,
                                        reinterpret_cast<void**>(&host.pProcessor));
        ASSERT_EQ(host.pComponent->initialize(static_cast<Vst::IHostApplication*>(&host)), kResultOk);
        host.processState.store(ProcessState::Initialized);
        host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 480, true);
    }
    void* entry(const char* name) { return reinterpret_cast<void*>(GetProcAddress(host.hModule, name)); }
    void TearDown() override
    {
        host.stopProcessing();
        host.pDevice = nullptr; // the device is the test's, not the host's
    }
    int32_t state() const { return host.processState.load(); }
    // The recorder's lines ("<seq> <tid> <call>...") of the named calls, without seq and tid,
    // in the order the calls began.
    Lines calls(std::initializer_list<const char*> names)
    {
        std::vector<std::pair<unsigned long, std::string>> found;
        std::ifstream file(log);
        for (std::string text; std::getline(file, text);) {
            std::istringstream in(text);
            unsigned long seq = 0, tid = 0;
            std::string name;
            in >> seq >> tid >> name;
            if (std::find(names.begin(), names.end(), name) != names.end())
                found.emplace_back(seq, text.substr(text.find(name)));
        }
        std::sort(found.begin(), found.end());
        Lines out;
        for (const auto& f : found)
            out.push_back(f.second);
        return out;
    }
    Lines stateCalls()
    {
        return calls({"component.setupProcessing", "component.setActive", "component.setProcessing"});
    }

    CHost host;
    PomaroTest::CountingDevice device{host};
    std::string log;
};

const std::string kSetUpArgs = "component.setupProcessing sampleRate=48000 maxSamplesPerBlock=480 "
                               "symbolicSampleSize=0 processMode=0 -> ",
                  kSetUp = kSetUpArgs + "kResultOk", kSetUpRefused = kSetUpArgs + "kResultFalse";
const std::string kActive = "component.setActive state=1 -> kResultOk",
                  kInactive = "component.setActive state=0 -> kResultOk",
                  kProcessing = "component.setProcessing state=1 -> kResultOk",
                  kNotProcessing = "component.setProcessing state=0 -> kResultOk";

TEST_F(Processing, WithoutADeviceTheStartEndsActiveAfterProcessingWasSwitchedOnAndOff)
{
    load("recorder");
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Active);
    EXPECT_EQ(host.processData.data.numSamples, 480);
    EXPECT_EQ(host.processData.data.outputs, host.processData.buffers.buses.get());
    EXPECT_EQ(host.processData.buffers.numSamples, 480);
    host.startProcessing(); // from Active a later start tries again from switching processing on
    EXPECT_EQ(state(), ProcessState::Active);
    host.stopProcessing();
    host.stopProcessing(); // nothing left to stop
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_FALSE(host.onRender(nullptr, nullptr));

    EXPECT_EQ(stateCalls(),
              (Lines{kSetUp, kActive, kProcessing, kNotProcessing, kProcessing, kNotProcessing, kInactive}));
    EXPECT_TRUE(calls({"component.process"}).empty());
}

TEST_F(Processing, WithADeviceTheHostProcessesUntilStoppedAndEmptiesStaleQueuesAtStart)
{
    load("recorder");
    host.pDevice = &device;
    device.renderInsideStart = true;
    initMidiRing(host.midiRing);
    const uint8_t staleNote[4] = {0x90, 60, 100, 0}, note[4] = {0x91, 69, 127, 0};
    host.midiRing.push(packMidiMessage(staleNote));
    host.paramsToProcessor.addChange(0, 0.25, 0);
    host.paramsFromProcessor.addChange(0, 0.75, 0);

    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Processing);
    EXPECT_TRUE(device.firstRender) << "the first buffer, asked for before start() returned, is refused";
    EXPECT_EQ(host.midiRing.count() + host.paramsToProcessor.count() + host.paramsFromProcessor.count(), 0);
    host.onMidiData(note);
    std::vector<short> out(480 * 2, 0x55);
    EXPECT_TRUE(host.onRender(out.data(), nullptr));
    host.startProcessing(); // already processing: nothing happens
    host.stopProcessing();
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_EQ(device.starts, 1);
    EXPECT_EQ(device.stops, 1);
    EXPECT_FALSE(host.onRender(out.data(), nullptr));

    const std::string fixed = "component.process numSamples=480 numOutputs=1 channels=2 align16=1 context=0 "
                              "outEvents=0 processing=1 numEvents=";
    EXPECT_EQ(calls({"component.process"}),
              (Lines{fixed + "0 events=[] numParams=0 -> kResultOk",
                     fixed + "1 events=[on:1:69:1:0:-1:0:1] numParams=0 -> kResultOk"}));
    EXPECT_NE(*std::max_element(out.begin(), out.end()), 0) << "the note's block reached the device";
    EXPECT_EQ(stateCalls().back(), kInactive);
}

TEST_F(Processing, ARenderCallThatOutlivesTheDeviceStopKeepsThePlugInUntilItReturns)
{
    load("recorder");
    host.pDevice = &device;
    host.startProcessing();
    ASSERT_EQ(state(), ProcessState::Processing);
    const int32_t refs = host.refCount.load();
    {
        // Still inside the plug-in when the device gave up waiting for it.
        Kelvane::CallInside stuck(host.renderCalls);
        host.stopProcessing();
        host.unloadVstPlugin();
        host.startProcessing();
        EXPECT_EQ(stateCalls(), (Lines{kSetUp, kActive, kProcessing}))
            << "nothing switched off, deactivated or started beside the call";
        EXPECT_NE(host.hModule, nullptr);
        EXPECT_NE(host.pComponent, nullptr);
        EXPECT_EQ(device.starts, 1);
        EXPECT_EQ(host.refCount.load(), refs + 1) << "the call holds the host";
    }
    host.stopProcessing(); // the call has returned: stepped down, to be set up again
    EXPECT_EQ(stateCalls(), (Lines{kSetUp, kActive, kProcessing, kNotProcessing, kInactive}));
    EXPECT_EQ(state(), ProcessState::Initialized);
    EXPECT_EQ(host.refCount.load(), refs);
}

// Where a refusal, by the plug-in or by the device, leaves the host; no audio is asked for.
TEST_F(Processing, ARefusalLeavesTheStateLower)
{
    const struct
    {
        const char* variant;
        bool deviceFails;
        int32_t state;
        Lines calls;
    } rows[] = {
        {"setup_refused", false, ProcessState::Initialized, {kSetUpRefused}},
        {"setactive_refused",
         false,
         ProcessState::SetUp,
         {kSetUp, "component.setActive state=1 -> kResultFalse"}},
        {"setprocessing_notimpl",
         false,
         ProcessState::Active,
         {kSetUp, kActive, "component.setProcessing state=1 -> kNotImplemented"}},
        {"recorder", true, ProcessState::Active, {kSetUp, kActive, kProcessing, kNotProcessing}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.variant);
        load(row.variant);
        host.pDevice = &device;
        device.startResult = !row.deviceFails;
        device.starts = device.stops = 0;
        host.startProcessing();
        EXPECT_EQ(state(), row.state);
        EXPECT_EQ(stateCalls(), row.calls);
        EXPECT_EQ(device.starts, row.deviceFails ? 1 : 0);
        EXPECT_EQ(host.processData.data.numSamples, 480);
        EXPECT_EQ(host.processData.data.outputs != nullptr, row.state == ProcessState::Active);
        EXPECT_GE(device.stops, device.starts) << "a render call could still be running";
        EXPECT_FALSE(host.onRender(nullptr, nullptr));
        EXPECT_TRUE(calls({"component.process"}).empty());
        host.stopProcessing();
        host.unloadVstPlugin();
    }
}

TEST_F(Processing, ARefusedSecondSetupKeepsTheFirstWhileItStillFitsTheDevice)
{
    load("setup_refused_second");
    host.startProcessing();
    host.stopProcessing();
    host.startProcessing(); // same buffer length: activation goes on with the first setup
    EXPECT_EQ(state(), ProcessState::Active);
    host.stopProcessing();
    host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 960, true);
    host.startProcessing(); // a longer buffer than the plug-in accepted must not reach it
    EXPECT_EQ(state(), ProcessState::SetUp);
    EXPECT_EQ(stateCalls(), (Lines{kSetUp, kActive, kProcessing, kNotProcessing, kInactive, kSetUpRefused,
                                   kActive, kProcessing, kNotProcessing, kInactive,
                                   "component.setupProcessing sampleRate=48000 maxSamplesPerBlock=960 "
                                   "symbolicSampleSize=0 processMode=0 -> kResultFalse"}));
}

TEST_F(Processing, ANewBufferLengthIsSetUpBeforeTheNextActivationAndGetsNewChannels)
{
    load("recorder");
    host.pDevice = &device;
    host.startProcessing();
    host.stopProcessing();
    // The device is reopened with another buffer length; closing it stepped down to 2.
    host.onPrepare(Kelvane::SampleFormatInt32, Kelvane::Rate44100, 1001, false);
    host.processState.store(ProcessState::Initialized);
    host.startProcessing();
    EXPECT_EQ(state(), ProcessState::Processing);
    EXPECT_EQ(host.processData.buffers.numSamples, 1001);
    float* const* ch = host.processData.data.outputs[0].channelBuffers32;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ch[0]) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<char*>(ch[1]) - reinterpret_cast<char*>(ch[0]), 4016);
    std::vector<int32_t> left(1001), right(1001);
    EXPECT_TRUE(host.onRender(left.data(), right.data()));
    host.stopProcessing();

    const Lines seen = stateCalls();
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen[5],
              "component.setupProcessing sampleRate=44100 maxSamplesPerBlock=1001 symbolicSampleSize=0 "
              "processMode=0 -> kResultOk");
    EXPECT_EQ(seen[6], kActive);
    EXPECT_EQ(calls({"component.process"}).back().substr(0, 34), "component.process numSamples=1001 ");
}

} // namespace
} // namespace ProcessingTest
