// The routing of parameters and events: what one MIDI message decodes to, and the
// flow between editor, MIDI, processor and controller through the value cache.

#include "host/ParameterFlow.h"

#include "public.sdk/source/vst/hosting/parameterchanges.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

#include <gtest/gtest.h>

#include <functional>

using namespace PomaroApp;
using namespace Steinberg;
using namespace Steinberg::Vst;
using Display = MidiDecodeResult::Display;
using Calls = std::vector<std::pair<ParamID, ParamValue>>;

namespace {

// Records setParamNormalized; onSet lets a test act from inside the call.
struct FakeController : EditController
{
    Calls calls;
    std::function<void(ParamID, ParamValue)> onSet = [](ParamID, ParamValue) {};

    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override
    {
        calls.emplace_back(id, value);
        return onSet(id, value), kResultOk;
    }
};

constexpr Display N = Display::None, Show = Display::ShowNote, Off = Display::ReleaseAll;
constexpr ParamID kNone = kNoParamId;

// In order: the 14-bit pairs keep the last high half between messages. A shown note is
// the message's key.
const struct Step
{
    uint8_t status, d1, d2;
    Display display;
    bool pressed;
    ParamID param;
    double value;
} kSteps[] = {
    {0xB0, 7, 127, N, false, 42, 1.0}, // a high half alone reaches 1.0
    {0xB0, 7, 64, N, false, 42, 8192.0 / 16256.0},
    {0xB0, 39, 127, N, false, 42, 8319.0 / 16383.0}, // its low half drives the same parameter
    {0xB0, 33, 100, N, false, 5, 100.0 / 16383.0},   // a low half before any high half
    {0xB0, 2, 127, N, false, kNone, 0},              // an unmapped pair ...
    {0xB0, 34, 1, N, false, kNone, 0},               // ... gives nothing either half
    {0xB5, 74, 127, N, false, 9, 1.0},               // channel ignored
    {0xB5, 74, 0xFF, N, false, 9, 1.0},              // data bytes masked to seven bits
    {0xB0, 64, 127, N, false, 3, 1.0},               // the first controller past the pairs
    {0xE0, 0x00, 0x40, N, false, 100, 0.5},          // exactly the centre
    {0xE3, 0x7F, 0x7F, N, false, 100, 1.0},
    {0xE0, 0x01, 0x40, N, false, 100, 8193.0 / 16383.0},
    {0xD9, 127, 0, N, false, 101, 1.0},
    {0xA0, 60, 100, N, false, kNone, 0},  // neither are other kinds
    {0xB4, 120, 0, Off, false, kNone, 0}, // all sound off, mapped or not
    {0xB0, 123, 0, Off, false, 7, 0.0},   // all notes off
    {0xB0, 121, 0, N, false, kNone, 0},
    {0x91, 60, 100, Show, true, kNone, 0},
    {0x90, 61, 0, Show, false, kNone, 0}, // velocity 0 is a release
    {0x8F, 62, 64, Show, false, kNone, 0},
    {0x90, 200, 100, N, false, kNone, 0}, // no such key
};

// The same messages through a map with these assignments and through one without any.
const std::pair<int, ParamID> kAssignments[] = {
    {7, 42}, {1, 5}, {74, 9}, {64, 3}, {123, 7}, {kMidiCtrlPitchBend, 100}, {kMidiCtrlAfterTouch, 101}};
TEST(MidiControllerMap, DecodesEveryKindOfMessage)
{
    for (bool assigned : {true, false}) {
        MidiCtrlMap map;
        initMidiCtrlMap(map);
        for (const auto& [cc, id] : kAssignments)
            map[cc].paramId = assigned ? id : kNone;
        for (const Step& s : kSteps) {
            SCOPED_TRACE(::testing::Message() << std::hex << int(s.status) << " " << std::dec << int(s.d1)
                                              << " " << int(s.d2) << (assigned ? " assigned" : ""));
            const uint8_t message[4] = {s.status, s.d1, s.d2, 0};
            const MidiDecodeResult r = decodeMidiMessage(map, message);
            EXPECT_EQ(r.display, s.display);
            if (s.display == Show) {
                EXPECT_EQ(std::make_pair(int(r.note), r.pressed), std::make_pair(int(s.d1), s.pressed));
            }
            const bool hasParam = assigned && s.param != kNone;
            ASSERT_EQ(r.hasParam, hasParam);
            if (hasParam) {
                EXPECT_EQ(std::make_pair(r.paramId, r.value), std::make_pair(s.param, s.value));
            }
        }
        EXPECT_EQ(map[2].value14.load(), 0); // an unmapped high half is not remembered
    }
}

struct ParameterFlowTest : ::testing::Test
{
    MidiMessageRing midiRing;
    ParameterChangeTransfer2 toProcessor, fromProcessor;
    ParamValueCache cache;
    MidiCtrlMap map;
    ParameterFlow flow{midiRing, toProcessor, fromProcessor, cache, map};
    FakeController controller;

    void SetUp() override
    {
        initMidiRing(midiRing);
        initMidiCtrlMap(map);
    }
    MidiDecodeResult send(uint8_t status, uint8_t d1, uint8_t d2, uint8_t d3 = 0)
    {
        const uint8_t message[4] = {status, d1, d2, d3};
        return flow.onMidiData(message);
    }
    Calls processorGets()
    {
        Calls out;
        ParamID id;
        ParamValue v;
        for (int32 offset; toProcessor.getNextChange(id, v, offset); out.emplace_back(id, v))
            EXPECT_EQ(offset, 0);
        return out;
    }
    void processorReports(const Calls& reports)
    {
        ParameterChanges out(8);
        for (const auto& [id, value] : reports) {
            int32 index = 0;
            IParamValueQueue* q = out.addParameterData(id, index);
            q->addPoint(q->getPointCount(), value, index);
        }
        fromProcessor.transferChangesFrom(&out);
    }
};

TEST_F(ParameterFlowTest, EditsGoToTheProcessorAndMappedControllersAlsoToTheController)
{
    flow.performEdit(3, 0.7);
    EXPECT_EQ(processorGets(), (Calls{{3, 0.7}}));
    flow.onTimer(&controller);
    EXPECT_TRUE(controller.calls.empty()); // not echoed to the controller that made it

    map[1].paramId = 3;
    map[kMidiCtrlPitchBend].paramId = 50;
    EXPECT_EQ(send(0xB0, 1, 127, 0xEE).display, Display::None); // the fourth byte carries nothing
    send(0xE2, 0x00, 0x40);
    map[kMidiCtrlAfterTouch].paramId = 4;
    send(0xD0, 127, 0);
    flow.performEdit(4, 0.25); // an edit after a controller: the edit decides
    EXPECT_EQ(processorGets(), (Calls{{3, 1.0}, {50, 0.5}, {4, 1.0}, {4, 0.25}}));
    uint32_t raw = 0;
    ASSERT_TRUE(midiRing.pop(raw) && raw == 0x7F01B0u); // every message is queued, whatever it is
    ASSERT_TRUE(midiRing.pop(raw) && raw == 0x4000E2u);
    flow.onTimer(&controller);
    EXPECT_EQ(controller.calls, (Calls{{3, 1.0}, {50, 0.5}}));

    // A full ring still updates the display and the parameters.
    midiRing.clearFromReader();
    for (int i = 0; i < 1023; ++i)
        send(0x90, 60, 100);
    const MidiDecodeResult r = send(0x90, 64, 90);
    EXPECT_TRUE(r.display == Display::ShowNote && r.note == 64 && r.pressed);
    EXPECT_TRUE(send(0xD0, 127, 0).hasParam);
    EXPECT_EQ(processorGets(), (Calls{{4, 1.0}}));
    EXPECT_EQ(midiRing.count(), 1023);
}

TEST_F(ParameterFlowTest, ProcessorReportsReachTheControllerOnceInIdOrderWithTheLastValue)
{
    processorReports({{9, 0.5}, {8, 0.1}});
    processorReports({{8, 0.2}});
    flow.onTimer(nullptr); // collected for later
    EXPECT_EQ(fromProcessor.count(), 0);
    processorReports({{8, 0.3}});
    flow.onTimer(&controller);
    flow.onTimer(&controller);
    EXPECT_EQ(controller.calls, (Calls{{8, 0.3}, {9, 0.5}}));

    // A controller that reacts to a value by editing a linked parameter reaches the
    // cache on the same thread while the tick is telling it values.
    controller.calls.clear();
    controller.onSet = [&](ParamID id, ParamValue v) {
        if (id == 1) {
            flow.performEdit(2, v / 2);
            cache.set(3, v, true); // a new id, inserted during the tick
        }
    };
    processorReports({{1, 0.8}});
    flow.onTimer(&controller);
    EXPECT_EQ(controller.calls, (Calls{{1, 0.8}}));
    flow.onTimer(&controller);
    EXPECT_EQ(controller.calls, (Calls{{1, 0.8}, {3, 0.8}}));
    EXPECT_EQ(processorGets(), (Calls{{2, 0.4}}));
}

} // namespace
