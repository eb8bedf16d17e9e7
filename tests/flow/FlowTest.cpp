// The two queues between threads under one contract, then two producers and one
// consumer on each (meant for ThreadSanitizer; the tallies catch lost, duplicated,
// reordered or torn entries on any build), then what is particular to each; then the
// routing of parameters and events: what one MIDI message decodes to, and the flow
// between editor, MIDI, processor and controller through the value cache.

#include "host/ParameterFlow.h"

#include "public.sdk/source/vst/hosting/parameterchanges.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

using namespace PomaroApp;
using namespace Steinberg;
using namespace Steinberg::Vst;
using Display = MidiDecodeResult::Display;
using Calls = std::vector<std::pair<ParamID, ParamValue>>;

namespace {

// The plug-in's lists of changes, faked on the test's stack: no reference counting.
template <class Interface> struct Fake : Interface
{
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        return *obj = nullptr, kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
};
using Points = std::vector<std::pair<int32, ParamValue>>; // sampleOffset, value

// One parameter's points in the order they were added (the SDK's queue sorts them); one
// of them can be made unreadable.
struct FakeQueue : Fake<IParamValueQueue>
{
    explicit FakeQueue(ParamID id, Points points = {}, int32 failing = -1)
        : id(id), points(std::move(points)), failingPoint(failing)
    {}
    ParamID id;
    Points points;
    int32 failingPoint;

    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return int32(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override
    {
        if (index == failingPoint || index < 0 || index >= int32(points.size()))
            return kResultFalse;
        std::tie(offset, value) = points[size_t(index)];
        return kResultTrue;
    }
    tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override
    {
        index = int32(points.size());
        points.emplace_back(offset, value);
        return kResultTrue;
    }
};

// A list of queues; a null entry stands for a queue the list cannot give, and a change
// for a parameter it has no queue for is refused (null queue).
struct FakeChanges : Fake<IParameterChanges>
{
    explicit FakeChanges(std::vector<FakeQueue*> queues = {}) : queues(std::move(queues)) {}
    std::vector<FakeQueue*> queues;

    int32 PLUGIN_API getParameterCount() override { return int32(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override { return queues[size_t(index)]; }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
    {
        for (size_t i = 0; i < queues.size(); ++i)
            if (queues[i] && queues[i]->id == id)
                return index = int32(i), queues[i];
        return nullptr;
    }
};

// Every entry carries its producer (0 or 1) and that producer's sequence number; read
// gives producer 2 for an entry that is not one a producer wrote.
struct RingSide
{
    static constexpr int32_t kHolds = 1023;
    MidiMessageRing queue;
    RingSide() { initMidiRing(queue); }
    bool push(uint32_t producer, uint32_t seq) { return queue.push(producer << 31 | seq); }
    template <class Take> void read(uint64_t, Take&& take, int limit = 700)
    {
        for (uint32_t m = 0; limit-- > 0 && queue.pop(m);)
            take(m >> 31, m & 0x7FFFFFFF);
    }
};

// id = producer, value = sequence number, sampleOffset a function of both. Producer 1
// writes as the audio thread does, giving a change up rather than wait for the other
// writer. Odd rounds read one change at a time, even ones into a block, where the points
// of the two parameters interleave but each parameter's own stay in producer order.
struct TransferSide
{
    static constexpr int32_t kHolds = 4095;
    ParameterChangeTransfer2 queue;
    FakeQueue q0{0}, q1{1};
    FakeChanges block{{&q0, &q1}};
    static int32 offsetOf(uint32_t producer, uint32_t seq) { return int32((seq * 7u) ^ producer); }
    static uint32_t producerOf(ParamID id, ParamValue value, int32 offset)
    {
        return id > 1 || double(uint32_t(value)) != value || offset != offsetOf(id, uint32_t(value)) ? 2 : id;
    }
    bool push(uint32_t producer, uint32_t seq)
    {
        return producer == 0 ? queue.addChange(producer, double(seq), offsetOf(producer, seq))
                             : queue.tryAddChange(producer, double(seq), offsetOf(producer, seq));
    }
    template <class Take> void read(uint64_t round, Take&& take, int limit = -1)
    {
        ParamID id;
        ParamValue value;
        int32 offset;
        if (round % 2 || limit >= 0) {
            while (limit-- != 0 && queue.getNextChange(id, value, offset))
                take(producerOf(id, value, offset), uint32_t(value));
            return;
        }
        q0.points.clear();
        q1.points.clear();
        queue.transferChangesTo(&block);
        for (FakeQueue* q : {&q0, &q1})
            for (const auto& [offset, value] : q->points)
                take(producerOf(q->id, value, offset), uint32_t(value));
    }
};

template <class Side> class Queue : public ::testing::Test
{};
using Sides = ::testing::Types<RingSide, TransferSide>;
TYPED_TEST_SUITE(Queue, Sides);

// The next sequence number of producer 0, -1 when nothing waits, -2 for anything else.
template <class Side> int64_t next(Side& q)
{
    int64_t got = -1;
    q.read(
        1, [&](uint32_t producer, uint32_t seq) { got = producer == 0 ? int64_t(seq) : -2; }, 1);
    return got;
}

TYPED_TEST(Queue, HoldsCapacityLessOneDropsTheNewestClearsAcrossTheWrapAndTwoProducersLoseAndTearNothing)
{
    TypeParam q;
    for (uint32_t i = 0; i < TypeParam::kHolds; ++i)
        ASSERT_TRUE(q.push(0, i)) << i;
    EXPECT_EQ(q.queue.count(), TypeParam::kHolds);
    EXPECT_FALSE(q.push(0, 99999));
    EXPECT_EQ(next(q), 0);
    EXPECT_TRUE(q.push(0, 50000)); // one taken frees exactly one place; the writer wraps
    EXPECT_FALSE(q.push(0, 50001));
    for (int64_t i = 1; i <= 5; ++i)
        ASSERT_EQ(next(q), i);
    EXPECT_EQ(q.queue.clearFromReader(), TypeParam::kHolds - 5); // the writer is behind the reader
    EXPECT_EQ(q.queue.count(), 0);
    EXPECT_EQ(next(q), -1);
    EXPECT_TRUE(q.push(0, 7));
    EXPECT_EQ(next(q), 7);
    EXPECT_EQ(q.queue.clearFromReader(), 0);

    // Then from wherever the first part left the indexes.
    constexpr uint32_t kPerProducer = 500000;
    TypeParam& side = q;
    std::atomic<uint64_t> dropped{0};
    std::atomic<int> running{2};
    // A producer that finds the queue full gives one message in 16 up (a drop) and
    // waits for room for the others, so most of the traffic goes through.
    auto produce = [&](uint32_t producer) {
        uint64_t lost = 0;
        for (uint32_t seq = 0; seq < kPerProducer; ++seq) {
            bool sent;
            while (!(sent = side.push(producer, seq)) && seq % 16 != 0)
                std::this_thread::yield();
            lost += !sent;
        }
        dropped.fetch_add(lost, std::memory_order_relaxed);
        running.fetch_sub(1, std::memory_order_release);
    };
    uint64_t consumed = 0, cleared = 0, faults = 0; // out of order, duplicated or torn
    int64_t last[2] = {-1, -1};
    auto take = [&](uint32_t producer, uint32_t seq) {
        ++consumed;
        faults += producer > 1 || seq >= kPerProducer || int64_t(seq) <= last[producer & 1];
        last[producer & 1] = seq;
    };
    std::thread p0(produce, 0u), p1(produce, 1u);
    for (uint64_t round = 0;; ++round) {
        const bool finished = running.load(std::memory_order_acquire) == 0;
        if (round % 257 == 256) // as the start of processing does
            cleared += uint64_t(side.queue.clearFromReader());
        side.read(round, take);
        if (finished && side.queue.count() == 0)
            break;
        if (round % 64 == 63) // so that producers run into a full queue
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    p0.join();
    p1.join();
    EXPECT_EQ(faults, 0u);
    EXPECT_EQ(consumed + cleared + dropped.load(), 2ull * kPerProducer);
    EXPECT_GT(dropped.load(), 0u) << "the consumer's pauses should have filled the queue";
}

// What reaches a plug-in and comes back in an ordinary block is RenderCore's test; here
// the lists that fail: none, one that gives no queue, and a point that cannot be read.
TEST(ParameterChangeTransfer2, TransfersSurviveListsThatFail)
{
    ParameterChangeTransfer2 t;
    t.addChange(1, 0.5, 0);
    t.transferChangesTo(nullptr); // nothing taken
    ASSERT_EQ(t.count(), 1);
    FakeChanges refusing; // a null queue drops the change, which is taken all the same
    t.transferChangesTo(&refusing);
    EXPECT_EQ(t.count(), 0);

    FakeQueue a(5, {{0, 0.1}, {32, 0.2}, {64, 0.3}}, 1), b(9, {{16, 0.9}}), g5(5), g9(9);
    FakeChanges source({&a, nullptr, &b}), got({&g5, &g9});
    t.transferChangesFrom(&source);
    t.transferChangesFrom(nullptr);
    t.transferChangesTo(&got);
    EXPECT_EQ(g5.points, (Points{{0, 0.1}, {64, 0.3}}));
    EXPECT_EQ(g9.points, b.points);
}

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
// the message's key, pressed (1) or released (0).
const struct Step
{
    uint8_t status, d1, d2, pressed;
    Display display;
    ParamID param;
    double value;
} kSteps[] = {
    {0xB0, 7, 127, 0, N, 42, 1.0}, // a high half alone reaches 1.0
    {0xB0, 7, 64, 0, N, 42, 8192.0 / 16256.0},
    {0xB0, 39, 127, 0, N, 42, 8319.0 / 16383.0}, // its low half drives the same parameter
    {0xB0, 33, 100, 0, N, 5, 100.0 / 16383.0},   // a low half before any high half
    {0xB0, 2, 127, 0, N, kNone, 0},              // an unmapped pair ...
    {0xB0, 34, 1, 0, N, kNone, 0},               // ... gives nothing either half
    {0xB5, 74, 127, 0, N, 9, 1.0},               // channel ignored
    {0xB5, 74, 0xFF, 0, N, 9, 1.0},              // data bytes masked to seven bits
    {0xB0, 64, 127, 0, N, 3, 1.0},               // the first controller past the pairs
    {0xE0, 0x00, 0x40, 0, N, 100, 0.5},          // exactly the centre
    {0xE3, 0x7F, 0x7F, 0, N, 100, 1.0},
    {0xD9, 127, 0, 0, N, 101, 1.0},
    {0xA0, 60, 100, 0, N, kNone, 0},  // neither are other kinds
    {0xB4, 120, 0, 0, Off, kNone, 0}, // all sound off, mapped or not
    {0xB0, 123, 0, 0, Off, 7, 0.0},   // all notes off
    {0xB0, 121, 0, 0, N, kNone, 0},
    {0x91, 60, 100, 1, Show, kNone, 0},
    {0x90, 61, 0, 0, Show, kNone, 0}, // velocity 0 is a release
    {0x8F, 62, 64, 0, Show, kNone, 0},
    {0x90, 200, 100, 0, N, kNone, 0}, // no such key
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
                EXPECT_EQ(std::make_pair(int(r.note), r.pressed), std::make_pair(int(s.d1), bool(s.pressed)));
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

    ParameterFlowTest()
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

    // A full ring still updates the parameters.
    midiRing.clearFromReader();
    for (int i = 0; i < 1023; ++i)
        send(0x90, 60, 100);
    send(0xD0, 127, 0);
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
