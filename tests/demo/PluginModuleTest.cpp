// The built Pomaro.vst3 under the host's calling sequence: module exports,
// factory classes, the connection of component and controller, processing
// of a note, reported output level, state and MIDI controller assignments.
// (That the program finds it under its relative path, the end-to-end tests show.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/StateCodec.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/eventlist.h"
#include "public.sdk/source/vst/hosting/parameterchanges.h"
#include "tests/demo/PluginHarness.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace PomaroDemo;
using namespace PomaroDemoTest;

namespace {

constexpr int32 kBlock = 256;

// One host-like process call: stereo output bus, events and parameter lists.
class Block
{
public:
    Block()
    {
        buffers_ = {left_.data(), right_.data()};
        bus_.numChannels = 2;
        bus_.channelBuffers32 = buffers_.data();
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = kBlock;
        data.numOutputs = 1;
        data.outputs = &bus_;
        data.inputEvents = events;
        data.inputParameterChanges = inChanges;
        data.outputParameterChanges = outChanges;
    }
    void clear()
    {
        events->clear();
        inChanges->clearQueue();
        outChanges->clearQueue();
        std::fill(left_.begin(), left_.end(), 0.5f); // garbage the plug-in must overwrite
        std::fill(right_.begin(), right_.end(), 0.5f);
    }
    void note(bool on, int16 pitch, float velocity, int32 offset = 0)
    {
        Event e = {};
        e.busIndex = 0;
        e.sampleOffset = offset;
        e.flags = Event::kIsLive;
        if (on) {
            e.type = Event::kNoteOnEvent;
            e.noteOn = {0, pitch, 0.0f, velocity, 0, -1};
        } else {
            e.type = Event::kNoteOffEvent;
            e.noteOff = {0, pitch, velocity, -1, 0.0f};
        }
        events->addEvent(e);
    }
    void param(ParamID id, double value)
    {
        int32 index = 0;
        if (IParamValueQueue* q = inChanges->addParameterData(id, index))
            q->addPoint(0, value, index);
    }
    double peak() const
    {
        float p = 0.0f;
        for (int i = 0; i < kBlock; ++i)
            p = std::max({p, std::fabs(left_[i]), std::fabs(right_[i])});
        return p;
    }
    bool reported(ParamID id, double& value) const
    {
        for (int32 i = 0; i < outChanges->getParameterCount(); ++i) {
            IParamValueQueue* q = outChanges->getParameterData(i);
            int32 offset = 0;
            if (q && q->getParameterId() == id && q->getPointCount() > 0 &&
                q->getPoint(q->getPointCount() - 1, offset, value) == kResultTrue)
                return true;
        }
        return false;
    }

    ProcessData data;
    IPtr<EventList> events = owned(new EventList(256));
    IPtr<ParameterChanges> inChanges = owned(new ParameterChanges(64));
    IPtr<ParameterChanges> outChanges = owned(new ParameterChanges(64));

private:
    std::vector<float> left_ = std::vector<float>(kBlock);
    std::vector<float> right_ = std::vector<float>(kBlock);
    std::vector<float*> buffers_;
    AudioBusBuffers bus_ = {};
};

class DemoPlugin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module.load(pluginPath())) << "GetLastError " << GetLastError();
        const std::string failed = plugin.create(module.factory());
        ASSERT_EQ(failed, "");
    }
    void TearDown() override
    {
        plugin.destroy();
        module.unload();
    }
    void startProcessing(double rate = 48000.0)
    {
        ProcessSetup setup = {kRealtime, kSample32, kBlock, rate};
        ASSERT_EQ(plugin.processor->setupProcessing(setup), kResultOk);
        ASSERT_EQ(plugin.component->setActive(true), kResultOk);
        ASSERT_EQ(plugin.processor->setProcessing(true), kResultOk);
    }
    void stopProcessing()
    {
        plugin.processor->setProcessing(false);
        plugin.component->setActive(false);
    }
    double run(Block& block, int blocks)
    {
        double peak = 0.0;
        for (int i = 0; i < blocks; ++i) {
            plugin.processor->process(block.data);
            peak = std::max(peak, block.peak());
            block.clear();
        }
        return peak;
    }

    PluginModule module;
    LoadedPlugin plugin;
};

} // namespace

// Three times over: the module loads, answers and unloads cleanly again and again.
TEST(DemoModule, ExportsTheEntryPointsAndTwoClassesAndLoadsRepeatedly)
{
    for (int i = 0; i < 3; ++i) {
        PluginModule module;
        ASSERT_TRUE(module.load(pluginPath()));
        EXPECT_NE(GetProcAddress(module.handle(), "InitDll"), nullptr);
        EXPECT_NE(GetProcAddress(module.handle(), "ExitDll"), nullptr);
        ASSERT_EQ(module.factory()->countClasses(), 2);
        PClassInfo component = {}, controller = {};
        ASSERT_EQ(module.factory()->getClassInfo(0, &component), kResultOk);
        ASSERT_EQ(module.factory()->getClassInfo(1, &controller), kResultOk);
        EXPECT_STREQ(component.category, kVstAudioEffectClass);
        EXPECT_STREQ(controller.category, kVstComponentControllerClass);
        LoadedPlugin plugin;
        ASSERT_EQ(plugin.create(module.factory()), "");
    }
}

TEST_F(DemoPlugin, HasOneStereoOutputAndAnEventInput)
{
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kInput), 0);
    EXPECT_GE(plugin.component->getBusCount(kEvent, kInput), 1);
    BusInfo info = {};
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kOutput, 0, info), kResultOk);
    EXPECT_EQ(info.channelCount, 2);
    SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
    EXPECT_EQ(plugin.processor->setBusArrangements(nullptr, 0, &stereo, 1), kResultTrue);
    EXPECT_EQ(plugin.processor->setBusArrangements(nullptr, 0, &mono, 1), kResultFalse);
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_NE(plugin.processor->canProcessSampleSize(kSample64), kResultTrue);
}

TEST_F(DemoPlugin, PlaysANoteFromItsOwnSampleAndReportsItsLevel)
{
    startProcessing();
    Block block;
    block.clear();
    block.note(true, 60, 0.8f, 100);
    plugin.processor->process(block.data);
    const float* left = block.data.outputs[0].channelBuffers32[0];
    float after = 0.0f;
    for (int i = 0; i < kBlock; ++i) {
        if (i < 100) {
            ASSERT_EQ(left[i], 0.0f) << i;
        }
        after = std::max(after, std::fabs(left[i]));
    }
    EXPECT_GT(after, 0.01f);
    double level = 0.0;
    ASSERT_TRUE(block.reported(kParamOutputLevel, level));
    EXPECT_GT(level, 0.3);
    block.clear();
    EXPECT_GT(run(block, 20), 0.01);

    // Note off, then the release (default 0.15 s) runs out to exact silence.
    block.note(false, 60, 0.0f);
    run(block, int(0.4 * 48000 / kBlock));
    plugin.processor->process(block.data);
    EXPECT_EQ(block.peak(), 0.0);
    EXPECT_EQ(block.data.outputs[0].silenceFlags, 3u);
    ASSERT_TRUE(block.reported(kParamOutputLevel, level)); // reported every block, also in silence
    stopProcessing();
}

TEST_F(DemoPlugin, ParameterChangesReachTheSound)
{
    startProcessing();
    Block block;
    block.clear();
    block.note(true, 60, 0.8f);
    run(block, 2);
    block.param(kParamVolume, 1.0);
    run(block, 10); // the gain glides over a few milliseconds
    const double full = run(block, 4);
    block.param(kParamVolume, 0.5);
    run(block, 10);
    const double quarter = run(block, 4);
    // Square law: a quarter of the gain; the early tine adds to the first peak (exact ratio: native tests).
    EXPECT_GT(full, 3.0 * quarter);
    EXPECT_LT(full, 6.0 * quarter);
    block.param(kParamVolume, 0.0);
    run(block, 40);
    EXPECT_EQ(run(block, 2), 0.0);
    stopProcessing();
}

TEST_F(DemoPlugin, NotesStopWhenProcessingStops)
{
    startProcessing();
    Block block;
    block.clear();
    block.param(kParamSustain, 1.0);
    block.note(true, 60, 0.8f);
    run(block, 4);
    plugin.processor->setProcessing(false);
    ASSERT_EQ(plugin.processor->setProcessing(true), kResultOk);
    run(block, int(0.5 * 48000 / kBlock));
    EXPECT_EQ(run(block, 1), 0.0);
    stopProcessing();
}

TEST_F(DemoPlugin, StateTravelsFromComponentToControllerAndDamagedStateChangesNothing)
{
    uint8_t junk[kStateBytes] = {'X'}, bytes[kStateBytes];
    IPtr<MemoryStream> bad = owned(new MemoryStream(junk, sizeof junk));
    EXPECT_NE(plugin.component->setState(bad), kResultOk);
    EXPECT_NE(plugin.component->setState(nullptr), kResultOk);
    encodeState({0.25, 0.75, 0.125, 0.5}, bytes);
    IPtr<MemoryStream> shortStream = owned(new MemoryStream(bytes, kStateBytes - 4));
    EXPECT_NE(plugin.controller->setComponentState(shortStream), kResultOk);
    EXPECT_EQ(plugin.controller->getParamNormalized(kParamVolume), paramDesc(kParamVolume).defaultValue);
    IPtr<MemoryStream> out = owned(new MemoryStream);
    ASSERT_EQ(plugin.component->getState(out), kResultOk);
    uint8_t defaults[kStateBytes];
    encodeState(defaultState(), defaults);
    EXPECT_EQ(std::memcmp(out->getData(), defaults, kStateBytes), 0);

    IPtr<MemoryStream> in = owned(new MemoryStream(bytes, sizeof bytes));
    ASSERT_EQ(plugin.component->setState(in), kResultOk);
    out = owned(new MemoryStream);
    ASSERT_EQ(plugin.component->getState(out), kResultOk);
    ASSERT_EQ(out->getSize(), TSize(kStateBytes));
    EXPECT_EQ(std::memcmp(out->getData(), bytes, kStateBytes), 0);
    out->seek(0, IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ(plugin.controller->setComponentState(out), kResultOk);
    EXPECT_EQ(plugin.controller->getParamNormalized(kParamVolume), 0.25);
    EXPECT_EQ(plugin.controller->getParamNormalized(kParamTone), 0.75);
    EXPECT_EQ(plugin.controller->getParamNormalized(kParamRelease), 0.125);
    EXPECT_EQ(plugin.controller->getParamNormalized(kParamVibrato), 0.5);
}

TEST_F(DemoPlugin, MidiControllersMapToParameters)
{
    FUnknownPtr<IMidiMapping> mapping(plugin.controller);
    ASSERT_TRUE(mapping);
    auto assigned = [&](int16 channel, CtrlNumber cc) {
        ParamID id = kNoParamId;
        return mapping->getMidiControllerAssignment(0, channel, cc, id) == kResultOk ? id : kNoParamId;
    };
    EXPECT_EQ(assigned(0, kCtrlVolume), kParamVolume);
    EXPECT_EQ(assigned(0, kCtrlModWheel), kParamTone);
    EXPECT_EQ(assigned(0, kCtrlSustainOnOff), kParamSustain);
    EXPECT_EQ(assigned(0, kAfterTouch), kParamVibrato);
    EXPECT_EQ(assigned(0, kPitchBend), kParamPitchBend);
    EXPECT_EQ(assigned(5, kPitchBend), kParamPitchBend);
    EXPECT_EQ(assigned(0, 39), kNoParamId); // the host pairs 39 with 7 itself
    EXPECT_EQ(assigned(0, 10), kNoParamId);
    ParamID id = kNoParamId;
    EXPECT_NE(mapping->getMidiControllerAssignment(1, 0, kCtrlVolume, id), kResultOk);
}

TEST_F(DemoPlugin, ParametersDescribeThemselves)
{
    ASSERT_EQ(plugin.controller->getParameterCount(), int32(kNumParams));
    for (int32 i = 0; i < int32(kNumParams); ++i) {
        ParameterInfo info = {};
        ASSERT_EQ(plugin.controller->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, ParamID(i));
        EXPECT_EQ(info.defaultNormalizedValue, paramDesc(info.id).defaultValue);
        EXPECT_EQ((info.flags & ParameterInfo::kIsReadOnly) != 0, paramDesc(info.id).readOnly);
    }
    String128 text = {};
    ASSERT_EQ(plugin.controller->getParamStringByValue(kParamPitchBend, 1.0, text), kResultOk);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), u"+2.00");
    ParamValue value = 0.0;
    String128 input = {'-', '1', '.', '0', '0', 0};
    ASSERT_EQ(plugin.controller->getParamValueByString(kParamPitchBend, input, value), kResultOk);
    EXPECT_DOUBLE_EQ(value, 0.25);
    String128 wide = {0x65E5, 0}; // not a number in any script we accept
    EXPECT_NE(plugin.controller->getParamValueByString(kParamPitchBend, wide, value), kResultOk);
}
