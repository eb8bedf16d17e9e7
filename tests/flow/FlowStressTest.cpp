// Two producers and one consumer on each queue, with the consumer discarding
// everything waiting now and then, as the start of processing does. Meant for
// ThreadSanitizer; the counts below catch lost, duplicated, reordered or torn
// messages on any build.

#include "host/MidiMessageRing.h"
#include "host/ParameterChangeTransfer2.h"

#include "FlowFakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

using namespace PomaroApp;
using namespace FlowTest;

namespace {

constexpr uint32_t kPerProducer = 500000; // a million messages per queue

// Tallies kept by the consumer and checked once every thread has ended.
struct Tally
{
    uint64_t consumed = 0;
    uint64_t cleared = 0;
    uint64_t clearCalls = 0;
    uint64_t faults = 0; // out of order, duplicated, torn or foreign
    int64_t last[2] = {-1, -1};

    void take(uint32_t producer, uint32_t seq)
    {
        if (producer > 1 || seq >= kPerProducer || int64_t(seq) <= last[producer])
            ++faults;
        else
            last[producer] = seq;
        ++consumed;
    }
};

// The MIDI ring, read by drain and, every third round, one message at a time.
struct RingSide
{
    MidiMessageRing ring;
    RingSide() { initMidiRing(ring); }
    bool push(uint32_t producer, uint32_t seq) { return ring.push(producer << 31 | seq); }
    int32_t clear() { return ring.clearFromReader(); }
    int32_t count() { return ring.count(); }
    void read(uint64_t round, Tally& tally)
    {
        ring.drain([&](uint32_t m) { tally.take(m >> 31, m & 0x7FFFFFFF); });
        uint32_t m;
        for (int i = 0; round % 3 == 0 && i < 16 && ring.pop(m); ++i)
            tally.take(m >> 31, m & 0x7FFFFFFF);
    }
};

// id = producer, value = sequence number, sampleOffset a function of both: a torn
// entry does not match. Producer 1 writes as the audio thread does, giving a change up
// rather than wait for the other writer. Read alternately into a block and one change
// at a time.
struct TransferSide
{
    ParameterChangeTransfer2 transfer;
    FakeQueue q0{0}, q1{1};
    FakeChanges block;
    TransferSide()
    {
        q0.points.reserve(8192);
        q1.points.reserve(8192);
        block.queues = {&q0, &q1};
    }
    static int32 offsetOf(uint32_t producer, uint32_t seq) { return int32((seq * 7u) ^ producer); }
    bool push(uint32_t producer, uint32_t seq)
    {
        return producer == 0 ? transfer.addChange(producer, double(seq), offsetOf(producer, seq))
                             : transfer.tryAddChange(producer, double(seq), offsetOf(producer, seq));
    }
    int32_t clear() { return transfer.clearFromReader(); }
    int32_t count() { return transfer.count(); }
    static void check(Tally& tally, ParamID id, ParamValue value, int32 offset)
    {
        const uint32_t seq = uint32_t(value);
        if (id > 1 || double(seq) != value || offset != offsetOf(id, seq))
            ++tally.faults;
        tally.take(id, seq);
    }
    void read(uint64_t round, Tally& tally)
    {
        if (round % 2 == 0) {
            // Points of the two parameters interleave in the ring, but each
            // parameter's own points stay in producer order.
            q0.points.clear();
            q1.points.clear();
            block.requested.clear();
            transfer.transferChangesTo(&block);
            for (FakeQueue* q : {&q0, &q1})
                for (const auto& [offset, value] : q->points)
                    check(tally, q->id, value, offset);
            if (block.requested.size() != q0.points.size() + q1.points.size())
                ++tally.faults;
            return;
        }
        ParamID id;
        ParamValue value;
        int32 offset;
        while (transfer.getNextChange(id, value, offset))
            check(tally, id, value, offset);
    }
};

template <class Side> class TwoProducersOneConsumer : public ::testing::Test
{};
using Sides = ::testing::Types<RingSide, TransferSide>;
TYPED_TEST_SUITE(TwoProducersOneConsumer, Sides);

TYPED_TEST(TwoProducersOneConsumer, NothingLostTornOrReordered)
{
    TypeParam side;
    std::atomic<uint64_t> dropped{0};
    std::atomic<int> running{2};
    // A producer that finds the queue full gives one message in 16 up (a drop) and
    // waits for room for the others, so most of the traffic goes through.
    auto produce = [&](uint32_t producer) {
        uint64_t lost = 0;
        for (uint32_t seq = 0; seq < kPerProducer; ++seq)
            while (!side.push(producer, seq)) {
                if (seq % 16 == 0) {
                    ++lost;
                    break;
                }
                std::this_thread::yield();
            }
        dropped.fetch_add(lost, std::memory_order_relaxed);
        running.fetch_sub(1, std::memory_order_release);
    };

    Tally tally;
    std::thread p0(produce, 0u), p1(produce, 1u);
    for (uint64_t round = 0;; ++round) {
        const bool finished = running.load(std::memory_order_acquire) == 0;
        if (round % 257 == 256) {
            tally.cleared += uint64_t(side.clear());
            ++tally.clearCalls;
        }
        side.read(round, tally);
        if (finished && side.count() == 0)
            break;
        if (round % 64 == 63) // so that producers run into a full queue
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    p0.join();
    p1.join();

    std::printf("consumed %llu cleared %llu dropped %llu clears %llu\n", (unsigned long long)tally.consumed,
                (unsigned long long)tally.cleared, (unsigned long long)dropped.load(),
                (unsigned long long)tally.clearCalls);
    EXPECT_EQ(tally.faults, 0u);
    EXPECT_EQ(tally.consumed + tally.cleared + dropped.load(), 2ull * kPerProducer);
    EXPECT_GT(tally.consumed, 0u);
    EXPECT_GT(tally.clearCalls, 0u);
    EXPECT_GT(dropped.load(), 0u) << "the consumer's pauses should have filled the queue";
}

} // namespace
