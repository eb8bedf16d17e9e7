// The processing states against the recorder plug-in: what the plug-in is told, in which
// order, and where each refusal, device or stuck render call leaves the host.

#include "app/Host.h"
#include "audio/CallInside.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/base/smartpointer.h"
#include "tests/app/TestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

namespace ProcessingTest {
namespace {

using namespace PomaroApp;
using namespace Steinberg;

// The recorder's lines of the processing calls, one letter each.
const std::string kSetUp = "component.setupProcessing sampleRate=",
                  kMode = " symbolicSampleSize=0 processMode=0", kProcess = "component.process numSamples=",
                  kBlock = " numOutputs=1 channels=2 context=0 outEvents=0 numEvents=",
                  kDone = " processing=1 -> kResultOk";
const std::map<std::string, char> kLetters = {
    {kSetUp + "48000 maxSamplesPerBlock=480" + kMode + " -> kResultOk", 'U'},
    {kSetUp + "48000 maxSamplesPerBlock=480" + kMode + " -> kResultFalse", 'u'},
    {kSetUp + "48000 maxSamplesPerBlock=960" + kMode + " -> kResultFalse", 'w'},
    {kSetUp + "44100 maxSamplesPerBlock=1001" + kMode + " -> kResultOk", 'V'},
    {"component.setActive state=1 -> kResultOk", 'A'},
    {"component.setActive state=1 -> kResultFalse", 'R'},
    {"component.setActive state=0 -> kResultOk", 'a'},
    {"component.setProcessing state=1 -> kResultOk", 'P'},
    {"component.setProcessing state=1 -> kNotImplemented", 'N'},
    {"component.setProcessing state=0 -> kResultOk", 'p'},
    {kProcess + "480" + kBlock + "0 events=[]" + kDone, 'e'},
    {kProcess + "480" + kBlock + "1 events=[on:1:69:1:0:-1:0:1]" + kDone, 'n'},
    {kProcess + "1001" + kBlock + "0 events=[]" + kDone, 'E'},
};

const uint8_t kStaleNote[4] = {0x90, 60, 100, 0}, kNote[4] = {0x91, 69, 127, 0};

struct Rig
{
    // Loads testplugins\<variant>.vst3 as the loader leaves it: created and initialised, with
    // stale MIDI and parameter changes waiting in the queues.
    void load(const char* variant, const std::string& logName)
    {
        char dir[MAX_PATH];
        log = std::string(dir, GetTempPathA(MAX_PATH, dir)) + logName;
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("POMARO_RECORDER_LOG", log.c_str());
        std::string dll(dir, GetModuleFileNameA(nullptr, dir, MAX_PATH));
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "testplugins\\" + variant + ".vst3";
        ASSERT_NE(host.hModule = LoadLibraryA(dll.c_str()), nullptr) << dll;
        auto entry = [&](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(host.hModule, name));
        };
        reinterpret_cast<bool(PLUGIN_API*)()>(entry("InitDll"))();
        IPtr<IPluginFactory> factory =
            owned(reinterpret_cast<IPluginFactory*(PLUGIN_API*)()>(entry("GetPluginFactory"))());
        PClassInfo info{};
        ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
        factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&host.pComponent));
        ASSERT_TRUE(host.pComponent);
        host.pComponent->queryInterface(Vst::IAudioProcessor::iid,
                                        reinterpret_cast<void**>(&host.pProcessor));
        ASSERT_EQ(host.pComponent->initialize(static_cast<Vst::IHostApplication*>(&host)), kResultOk);
        host.processState.store(ProcessState::Initialized);
        host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 480, true);
        initMidiRing(host.midiRing);
        host.midiRing.push(packMidiMessage(kStaleNote));
        host.paramsToProcessor.addChange(0, 0.25, 0);
        host.paramsFromProcessor.addChange(0, 0.75, 0);
    }
    // The processing calls as letters; a line not in kLetters whole. They all come from this
    // thread, none inside another, so they end in the order they began.
    std::string letters() const
    {
        std::string out;
        std::ifstream file(log);
        for (std::string text; std::getline(file, text);) {
            const std::string call =
                text.substr(std::min(text.size(), text.find(' ', text.find(' ') + 1) + 1));
            const auto letter = kLetters.find(call);
            if (call.rfind("component.set", 0) == 0 || call.rfind("component.process ", 0) == 0)
                out += letter == kLetters.end() ? "[" + call + "]" : std::string(1, letter->second);
        }
        return out;
    }
    ~Rig() { host.pDevice = nullptr; } // the device is the test's, not the host's

    CHost host;
    PomaroTest::CountingDevice device{host};
    std::string log;
};

TEST(Processing, StatesFollowTheHostTheDeviceAndThePlugInsAnswers)
{
    const struct
    {
        const char* variant;
        const char* script; // letters of the steps below; h: a render call the device gave up on
        const char* calls;  // '|': where the stuck call returned
        int32_t state;
        int starts; // and as many stops
    } rows[] = {
        // From Active a later start tries again from switching processing on; stop does nothing twice.
        {"recorder", "ssxxr", "UAPpPpa", ProcessState::SetUp, 0},
        // The stale queues are emptied at start; a buffer asked for inside start is rendered.
        {"recorder", "DIsmrsxr", "UAPenpa", ProcessState::SetUp, 1},
        {"recorder", "Dsxnsrx", "UAPpaVAPEpa", ProcessState::SetUp, 2},
        {"recorder", "DFsr", "UAPp", ProcessState::Active, 1},
        {"setup_refused", "Dsr", "u", ProcessState::Initialized, 0},
        {"setactive_refused", "Dsr", "UR", ProcessState::SetUp, 0},
        {"setprocessing_notimpl", "Dsr", "UAN", ProcessState::Active, 0},
        // The first setup still fits 480 frames but not 960.
        {"setup_refused_second", "sxsxwsr", "UAPpauAPpaw", ProcessState::SetUp, 0},
        // Nothing is switched off, unloaded or started beside the stuck call; then the host steps down.
        {"recorder", "DshxusHx", "UAP|pa", ProcessState::Initialized, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.variant) + " " + row.script);
        Rig rig;
        CHost& host = rig.host;
        rig.load(row.variant, "pomaro_processing_" + std::to_string(&row - rows) + ".log");
        const int32_t refs = host.refCount.load();
        std::unique_ptr<Kelvane::CallInside> stuck;
        bool heard = false;
        std::string returned; // the calls before the stuck call returned, and '|'
        const std::map<char, std::function<void()>> steps = {
            {'D', [&] { host.pDevice = &rig.device; }},          // a device
            {'I', [&] { rig.device.renderInsideStart = true; }}, // that renders inside start
            {'F', [&] { rig.device.startResult = false; }},      // whose start fails
            {'s', [&] { host.startProcessing(); }},
            {'x', [&] { host.stopProcessing(); }},
            {'m', [&] { host.onMidiData(kNote); }},
            {'u', [&] { host.unloadVstPlugin(); }},
            {'h', [&] { stuck = std::make_unique<Kelvane::CallInside>(host.renderCalls); }},
            {'w', [&] { host.onPrepare(Kelvane::SampleFormatInt16, Kelvane::Rate48000, 960, true); }},
            {'n',
             [&] { // closing the device stepped down
                 host.onPrepare(Kelvane::SampleFormatInt32, Kelvane::Rate44100, 1001, false);
                 host.processState.store(ProcessState::Initialized);
             }},
            {'H',
             [&] {
                 EXPECT_EQ(host.refCount.load(), refs + 1) << "the stuck call holds the host";
                 returned = rig.letters() + "|";
                 stuck.reset();
             }},
            {'r',
             [&] {
                 std::vector<int32_t> out(2 * size_t(host.blockSize), 0);
                 const bool rendered = host.onRender(out.data(), out.data() + host.blockSize);
                 EXPECT_EQ(rendered, host.processState.load() == ProcessState::Processing);
                 EXPECT_TRUE(!rendered || host.processData.buffers.numSamples == host.blockSize);
                 heard = heard || std::any_of(out.begin(), out.end(), [](int32_t v) { return v != 0; });
             }},
        };
        for (const char* step = row.script; *step; ++step)
            steps.at (*step)();
        const std::string calls = rig.letters();
        EXPECT_EQ(returned + calls.substr(returned.empty() ? 0 : returned.size() - 1), row.calls);
        EXPECT_EQ(host.processState.load(), row.state);
        EXPECT_EQ(rig.device.starts, row.starts);
        EXPECT_EQ(rig.device.stops, row.starts) << "a render call could still be running";
        EXPECT_EQ(heard, calls.find('n') != std::string::npos) << "the note's block reached the device";
        EXPECT_EQ(host.refCount.load(), refs) << "the host is released once the stuck call has returned";
        if (calls.find('P') != std::string::npos) {
            EXPECT_EQ(
                host.midiRing.count() + host.paramsToProcessor.count() + host.paramsFromProcessor.count(), 0);
        }
    }
}

} // namespace
} // namespace ProcessingTest
