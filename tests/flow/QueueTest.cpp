// The two queues between threads under one contract (capacity - 1 entries wait, a
// full queue drops the newest, order survives the wrap, clearFromReader discards
// exactly what waits), then what is particular to each.

#include "host/MidiMessageRing.h"
#include "host/ParameterChangeTransfer2.h"

#include "FlowFakes.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace PomaroApp;
using namespace FlowTest;

namespace {

struct MidiRingQueue
{
    static constexpr int32_t kHolds = 1023;
    MidiMessageRing ring;
    MidiRingQueue() { initMidiRing(ring); }
    bool push(uint32_t v) { return ring.push(v); }
    bool pop(uint32_t& v) { return ring.pop(v); }
    int32_t clear() { return ring.clearFromReader(); }
    int32_t count() { return ring.count(); }
};

// Value and sample offset follow from the id, so a torn or mixed-up entry shows.
struct TransferQueue
{
    static constexpr int32_t kHolds = 4095;
    ParameterChangeTransfer2 t;
    bool push(uint32_t v) { return t.addChange(v, v / 8.0, int32(v % 509)); }
    bool pop(uint32_t& v)
    {
        ParamID id;
        ParamValue value;
        int32 offset;
        if (!t.getNextChange(id, value, offset))
            return false;
        EXPECT_EQ(value, id / 8.0);
        EXPECT_EQ(offset, int32(id % 509));
        v = id;
        return true;
    }
    int32_t clear() { return t.clearFromReader(); }
    int32_t count() { return t.count(); }
};

template <class Q> class QueueContract : public ::testing::Test
{};
using Queues = ::testing::Types<MidiRingQueue, TransferQueue>;
TYPED_TEST_SUITE(QueueContract, Queues);

TYPED_TEST(QueueContract, HoldsCapacityLessOneAndDropsTheNewest)
{
    TypeParam q;
    for (uint32_t i = 0; i < TypeParam::kHolds; ++i)
        ASSERT_TRUE(q.push(i)) << i;
    EXPECT_EQ(q.count(), TypeParam::kHolds);
    EXPECT_FALSE(q.push(99999));
    uint32_t v = 0;
    ASSERT_TRUE(q.pop(v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(q.push(50000)); // one taken frees exactly one place
    EXPECT_FALSE(q.push(50001));
    for (uint32_t i = 1; i < TypeParam::kHolds; ++i) {
        ASSERT_TRUE(q.pop(v));
        ASSERT_EQ(v, i);
    }
    ASSERT_TRUE(q.pop(v));
    EXPECT_EQ(v, 50000u); // the dropped ones never appear
    EXPECT_FALSE(q.pop(v));
    EXPECT_EQ(q.count(), 0);
}

TYPED_TEST(QueueContract, OrderSurvivesTheWrapAndClearDiscardsWhatWaits)
{
    TypeParam q;
    uint32_t next = 0, expected = 0, v = 0;
    // Uneven batches walk both indexes across the end of the array many times; every
    // third round the reader takes a few and discards the rest.
    for (uint32_t round = 0; round < 30; ++round) {
        const uint32_t batch = TypeParam::kHolds * 2 / 3 + round;
        for (uint32_t i = 0; i < batch; ++i)
            ASSERT_TRUE(q.push(next++));
        if (round % 3 == 2) {
            for (int i = 0; i < 5; ++i)
                ASSERT_TRUE(q.pop(v) && v == expected++);
            EXPECT_EQ(q.clear(), int32_t(next - expected)) << "round " << round;
            expected = next;
            EXPECT_EQ(q.count(), 0);
            EXPECT_FALSE(q.pop(v));
        } else {
            while (q.pop(v))
                ASSERT_EQ(v, expected++);
        }
    }
    EXPECT_EQ(expected, next);
}

TEST(MidiMessageRing, WithoutEntriesNothingIsQueuedAndReleaseStopsQueueing)
{
    MidiMessageRing ring;
    uint32_t m = 0;
    EXPECT_FALSE(ring.push(0x403C90));
    EXPECT_FALSE(ring.pop(m));
    EXPECT_EQ(ring.count(), 0);
    EXPECT_EQ(ring.clearFromReader(), 0);

    initMidiRing(ring);
    const uint32_t* first = ring.entries.get();
    ASSERT_TRUE(ring.push(0x7F3C90));
    initMidiRing(ring); // a second init keeps entries and contents
    EXPECT_EQ(ring.entries.get(), first);
    ASSERT_TRUE(ring.pop(m));
    EXPECT_EQ(m, 0x7F3C90u);

    ring.push(7);
    ring.release();
    EXPECT_FALSE(ring.push(8));
    EXPECT_FALSE(ring.pop(m));
    initMidiRing(ring);
    EXPECT_FALSE(ring.pop(m)); // nothing from before the release
    EXPECT_TRUE(ring.push(9));
}

TEST(MidiMessageRing, DrainStopsAtWhatWasWaitingWhenItBegan)
{
    MidiMessageRing ring;
    initMidiRing(ring);
    ring.push(1);
    ring.push(2);
    std::vector<uint32_t> seen;
    auto collect = [&](uint32_t m) {
        seen.push_back(m);
        if (m < 100)
            ring.push(m + 100); // arrives while the reader is busy
    };
    EXPECT_EQ(ring.drain(collect), 2);
    EXPECT_EQ(ring.drain(collect), 2);
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 101, 102}));
}

using Change = std::tuple<ParamID, ParamValue, int32>;

std::vector<Change> takeAll(ParameterChangeTransfer2& t)
{
    std::vector<Change> out;
    ParamID id;
    ParamValue v;
    int32 offset;
    while (t.getNextChange(id, v, offset))
        out.emplace_back(id, v, offset);
    return out;
}

// What reaches a plug-in and comes back in an ordinary block is RenderCore's test; here
// the lists that fail: none, one that gives no queue, a point that cannot be read, and
// a full queue.
TEST(ParameterChangeTransfer2, TransfersSurviveListsThatFailAndStopAtTheFullQueue)
{
    ParameterChangeTransfer2 t;
    t.addChange(1, 0.5, 0);
    t.addChange(2, 0.6, 0);
    t.transferChangesTo(nullptr); // nothing taken
    ASSERT_EQ(t.count(), 2);
    FakeChanges refusing; // a null queue drops the change, which is taken all the same
    refusing.refuse = true;
    t.transferChangesTo(&refusing);
    EXPECT_EQ(refusing.requested, (std::vector<ParamID>{1, 2}));
    EXPECT_EQ(t.count(), 0);

    FakeQueue a(5), b(9), many(1);
    a.points = {{0, 0.1}, {32, 0.2}, {64, 0.3}};
    a.failingPoint = 1;
    b.points = {{16, 0.9}};
    FakeChanges source;
    source.queues = {&a, nullptr, &b};
    t.transferChangesFrom(&source);
    t.transferChangesFrom(nullptr);
    EXPECT_EQ(takeAll(t), (std::vector<Change>{{5, 0.1, 0}, {5, 0.3, 64}, {9, 0.9, 16}}));

    for (int32 i = 0; i < 5000; ++i)
        many.points.emplace_back(i, i / 5000.0);
    source.queues = {&many};
    t.transferChangesFrom(&source);
    const auto got = takeAll(t);
    ASSERT_EQ(got.size(), 4095u); // the oldest kept, the rest lost
    EXPECT_EQ(std::get<2>(got.back()), 4094);
}

} // namespace
